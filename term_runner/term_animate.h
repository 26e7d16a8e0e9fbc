// The animation of a term: its days, or every Nth of them, as one animated
// GIF of annotated frames that loops forever, for slides, mail, wikis and
// chat, which show GIF without a player.
#ifndef DISCHARGE_TERM_RUNNER_TERM_ANIMATE_H
#define DISCHARGE_TERM_RUNNER_TERM_ANIMATE_H

#include <cstdint>
#include <iosfwd>
#include <string>

#include "colour_table.h"
#include "term_range.h"

// What `animate` was asked to do.
struct AnimateRequest {
    RangeChoice range;
    Palette palette = Palette::classic;
    std::uint32_t scale = 1;  // pixels a cell side
    std::uint32_t every = 1;  // every Nth day of the selection, from its first
    double fps = 8.0;         // frames a second, more than 0 and at most 100
    std::string units = "m3 s-1";
    std::string output;       // empty for animation_file_name()
    bool check_space = true;  // refuse an animation the disk cannot hold
};

// Writes the animation of the selection, whole or not at all, with progress
// on `errors` as `images` gives it. Returns the exit status: 0, 1 when a
// month cannot be read or the file cannot be written (nothing is left), or
// the disk cannot hold it, 2 for options that do not fit param.dat.
int run_term_animate(const std::string& from, const std::string& to, const AnimateRequest& request,
                     std::ostream& errors, int terminal_width);

#endif  // DISCHARGE_TERM_RUNNER_TERM_ANIMATE_H
