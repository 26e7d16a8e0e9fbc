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

#include "term_months.h"
#include "value_range.h"

// How the colour range of the images is chosen.
struct RangeChoice {
    enum Kind { term, month, typed } kind = term;
    ValueRange typed_range{};  // for `typed`
};

// "term", "month" or "MIN,MAX" (each read as the dialogue reads a typed
// value, the minimum below the maximum), or nullopt.
std::optional<RangeChoice> parse_range_choice(const std::string& text);

// "MIN,MAX" with nine significant digits, enough to read back the very same
// floats.
std::string range_text(ValueRange range);

// "./image/%04d%02d_range.txt": the record of a month's images, its first
// line the range they were drawn with.
std::string range_record_name(YearMonth month);

// "./image/.YYYYMM.lock": the file locked while a month is drawn. It stays.
std::string lock_name(YearMonth month);

// The formats images are written in: binary PPM (P6), which any program
// reads without a library, or PNG, many times smaller.
enum class ImageFormat { ppm, png };

// "ppm" or "png", the formats' names and their files' extensions.
const char* format_name(ImageFormat format);

// The name of a day's image: image_file_name(), with ".png" for a PNG.
std::string term_image_name(YearMonth month, std::int32_t day, ImageFormat format);

// "./image/legend_YYYYMM.ppm" (or ".png"): the legend of the range a month's
// images were drawn with. Not a name that "YYYYMM_*", a month's images,
// matches.
std::string legend_name(YearMonth month, ImageFormat format = ImageFormat::ppm);

// The range of the whole selection, found as discharge_image finds a month's
// and widened month after month. Returns nullopt after naming on `errors`
// every month whose file is missing or not the month's size, or after
// "Maximun discharge <= Minimum discharge!".
std::optional<ValueRange> find_term_range(const TermSelection& selection, std::ostream& errors);

// The month's own range, as discharge_image finds it, from `data` opened by
// open_term_month() and opened again for the drawing pass. Nullopt with
// `detail` set where the month has none or cannot be opened again.
std::optional<ValueRange> month_own_range(const TermSelection& selection, YearMonth month,
                                          DischargeFile& data, std::string& detail);

// Creates the folder `path` of the working directory if missing. False,
// after naming it on `errors` with the reason, where there is no folder of
// that name after all.
bool make_output_folder(const char* path, std::ostream& errors);

// What `images` was asked to do.
struct ImagesRequest {
    RangeChoice range;
    unsigned jobs = 0;   // months drawn at once; 0 for one per processor
    bool force = false;  // redraw months that are up to date
    ImageFormat format = ImageFormat::ppm;
    std::uint32_t scale = BLOCK_SIZE;  // pixels a cell side, IMAGE_SCALE_MIN to IMAGE_SCALE_MAX
    bool check_space = true;           // refuse a selection the disk cannot hold
};

// Draws the images of the selection into ./image/ (created if missing), with
// progress on `errors`: rewritten in place within `terminal_width` columns
// where `errors` is a terminal (0 for a width unknown), in plain lines where
// `terminal_width` is negative. Draws nothing where the file system of
// ./image/ has less free space than the drawing may take (see
// space_needed()), unless asked not to check. Returns the exit status: 0, or
// 1 once any month failed (each named) or the space was short, 2 for options
// that do not fit param.dat.
int run_term_images(const std::string& from, const std::string& to, const ImagesRequest& request,
                    std::ostream& errors, int terminal_width);

// Prints the selection's range as range_text() and a line end on `out`.
// Returns the exit status as run_term_images(); nothing is printed on `out`
// unless the range was found.
int run_term_range(const std::string& from, const std::string& to, std::ostream& out,
                   std::ostream& errors);

// Writes the legend of `range` to `path`, as a PNG where `path` ends in
// ".png", else as a PPM. Returns the exit status: 0, or 1
// after naming the file on `errors` if it could not be written.
int run_term_legend(ValueRange range, const std::string& path, std::ostream& errors);

#endif  // DISCHARGE_TERM_RUNNER_TERM_IMAGES_H
