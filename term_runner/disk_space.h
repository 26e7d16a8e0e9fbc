// What a run will write, against the free space of the disk it writes to.
// Disk space is counted in blocks, as most file systems allocate it: a file
// takes its bytes rounded up to whole blocks.
#ifndef DISCHARGE_TERM_RUNNER_DISK_SPACE_H
#define DISCHARGE_TERM_RUNNER_DISK_SPACE_H

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "discharge_image.h"
#include "term_months.h"
#include "value_range.h"

inline constexpr std::uint64_t DISK_BLOCK = 4096;

// `a` + `b`, or the largest count where that does not fit in 64 bits.
std::uint64_t saturated_sum(std::uint64_t a, std::uint64_t b);

// `bytes` in whole blocks.
std::uint64_t on_disk(std::uint64_t bytes);

// What writing a file of `bytes` under the name `path` adds on disk: its
// blocks less those of the file of that name it replaces, if any.
std::uint64_t space_added(std::uint64_t bytes, const std::string& path);

// The space free for the user on the file system of `folder`, or nullopt
// where the system does not tell.
std::optional<std::uint64_t> free_space(const std::string& folder);

// "2.79 GB (2790001234 bytes)": decimal units, as disk sizes are sold, with
// three significant digits; "812 bytes" below a kilobyte.
std::string bytes_text(std::uint64_t bytes);

// What PNG images of a selection take, reckoned in advance: the mean size of
// the first day of a few of its months, drawn in memory. A PNG takes what its
// pixels compress to, which no bound short of the worst case (twenty times
// what real days take) foretells; a few real days do.
struct PngSample {
    std::uint64_t mean_bytes = 0;  // of one image; 0 where no day could be drawn
    int days = 0;                  // the days drawn
};

// Writes the image of a day of `month` whose levels are `grid` through
// `write`; false where it cannot.
using SampleImageWriter =
    std::function<bool(const LevelGrid& grid, YearMonth month, const PieceWriter& write)>;

// Draws the first day of up to eight of `months`, spread over them, in
// memory through `image` (a PNG image), each with `range` or, where that is
// nullopt, the day's own range under `stretch`. Months that cannot be read
// are left out, and so are those given as pipes, which are not read ahead of
// their passes.
PngSample sample_png_sizes(const TermSelection& selection, const std::vector<YearMonth>& months,
                           std::optional<ValueRange> range, Stretch stretch,
                           const SampleImageWriter& image);

// The free space, watched while images are written by several workers: a
// run that would fill the disk stops before it does, with the months it
// drew complete, rather than fail month after month on a full disk.
struct SpaceWatch {
    std::string folder;                     // on whose file system the images are written
    bool active = false;                    // the system tells the free space, and it is checked
    std::uint64_t estimate = 0;             // bytes of an image before any is drawn (PPM: exact)
    std::mutex lock;                        // guards what follows
    std::vector<std::int64_t> images_left;  // of each month, images still to draw
    std::uint64_t bytes_drawn = 0;
    std::int64_t images_drawn = 0;
    bool stopped = false;
};

// Counts an image of `bytes` drawn for month `month` (its index).
void note_image_written(SpaceWatch& watch, std::size_t month, std::uint64_t bytes);

// Counts month `month` as ended: no more images of it are to be drawn.
void note_month_ended(SpaceWatch& watch, std::size_t month);

// Whether the images left fit the free space, at the mean size of those
// drawn so far (the estimate before any). Once they do not, never again:
// the first time returns false with `message` saying so, later times with
// `message` empty.
bool room_to_go_on(SpaceWatch& watch, std::string& message);

#endif  // DISCHARGE_TERM_RUNNER_DISK_SPACE_H
