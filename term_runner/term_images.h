// The images of a whole term: every day of every month of the selection
// drawn as discharge_image draws it, by several workers at once, with one
// colour range for the term, each month's own, or a typed one. Beside each
// month's images its legend, and a record of what they were drawn from and
// what was written, let a rerun draw only what is missing or no longer right.
// One run at a time draws a month: it is locked while it is drawn.
#ifndef DISCHARGE_TERM_RUNNER_TERM_IMAGES_H
#define DISCHARGE_TERM_RUNNER_TERM_IMAGES_H

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>

#include "discharge_image.h"
#include "output_names.h"
#include "term_range.h"

// What `images` was asked to do.
struct ImagesRequest {
    RangeChoice range;
    unsigned jobs = 0;   // months drawn at once; 0 for one per processor
    bool force = false;  // redraw months that are up to date
    ImageFormat format = ImageFormat::ppm;
    std::uint32_t scale = BLOCK_SIZE;  // pixels a cell side, IMAGE_SCALE_MIN to IMAGE_SCALE_MAX
    bool check_space = true;           // refuse a selection the disk cannot hold
    Palette palette = Palette::classic;
    // Frames annotated with their date, these units and the legend; none
    // for plain ones.
    std::optional<std::string> annotation;
    // PNG frames placed on the globe, cells of this many degrees from
    // param.dat's corner: a world file and GDAL's auxiliary file beside each.
    std::optional<double> cell_size;
};

// Draws the images of the selection into ./image/ (created if missing), with
// progress on `errors`: rewritten in place within `terminal_width` columns
// where `errors` is a terminal (0 for a width unknown), in plain lines where
// `terminal_width` is negative. Draws nothing where the file system of
// ./image/ has less free space than the drawing may take, unless asked not
// to check. Returns the exit status: 0, or 1 once any month failed (each
// named) or the space was short, 2 for options that do not fit param.dat.
int run_term_images(const std::string& from, const std::string& to, const ImagesRequest& request,
                    std::ostream& errors, int terminal_width);

#endif  // DISCHARGE_TERM_RUNNER_TERM_IMAGES_H
