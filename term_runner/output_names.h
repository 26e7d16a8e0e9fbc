// Every file name that discharge_term writes, from one place: a month's
// images, legend, record and lock under ./image/, the view page's files under
// ./view/, the cells' series and the NetCDF file in the output directory.
#ifndef DISCHARGE_TERM_RUNNER_OUTPUT_NAMES_H
#define DISCHARGE_TERM_RUNNER_OUTPUT_NAMES_H

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "cell_series.h"
#include "run_input.h"
#include "term_months.h"

// The formats images are written in: binary PPM (P6), which any program
// reads without a library, or PNG, many times smaller.
enum class ImageFormat { ppm, png };

// "ppm" or "png", the formats' names and their files' extensions.
const char* format_name(ImageFormat format);

// The folder of the images, "./image", and that of the view page, "./view"
// unless `view --output` names another.
inline constexpr const char* IMAGE_FOLDER = "./image";
inline constexpr const char* VIEW_FOLDER = "./view";

// The files of one month under ./image/.
struct MonthOutputNames {
    // "./image/%04d%02d_%4d_discharge.ppm" (or ".png") a day, as
    // discharge_image names them: the day right-aligned in four characters.
    std::vector<std::string> images;
    // Beside each PNG image, where the frames are placed: its world file,
    // "....png" as "....pgw", and GDAL's auxiliary file, "....png.aux.xml".
    // Empty for PPM images.
    std::vector<std::string> world_files;
    std::vector<std::string> aux_files;
    // "./image/legend_YYYYMM.ppm" (".png"): the legend of the range the images
    // were drawn with. Not a name that "YYYYMM_*", a month's images, matches.
    std::string legend;
    // "./image/YYYYMM_range.txt": the record of the month's images, its first
    // line the range they were drawn with.
    std::string record;
    // "./image/.YYYYMM.lock": the file locked while the month is drawn. It
    // stays.
    std::string lock;
};

// The names of `month`'s outputs in `format`.
MonthOutputNames month_output_names(YearMonth month, ImageFormat format);

// Whether `name`, a file name in ./image/ (without the folder), is one of
// the outputs of `month` in either format: its images, its legend or its
// record.
bool is_output_of(YearMonth month, const std::string& name);

// Creates the output folder `folder` if missing and checks that outputs can
// be written there; where not, says once why on `errors` (`kind`: "Image" or
// "Page", the outputs' kind in the message) and returns false.
bool ready_output_folder(const char* folder, const char* kind, std::ostream& errors);

// The files of the view page in its folder (`view_file()` joins them to
// it): its data's folder, the script of the term, the lock file that one run
// at a time holds while it writes the page, and "data/incomplete.js",
// present while a run writes the page's data and left behind by a run that
// did not finish.
inline constexpr const char* VIEW_DATA_FOLDER = "data";
inline constexpr const char* TERM_SCRIPT_NAME = "data/term.js";
inline constexpr const char* VIEW_LOCK_NAME = ".lock";
inline constexpr const char* INCOMPLETE_SCRIPT_NAME = "data/incomplete.js";

// "<folder>/<name>": a file of the view page in `folder`.
std::string view_file(const std::string& folder, const std::string& name);

// "<folder>/data/YYYYMM.js": the view page's script of a month.
std::string month_script_name(const std::string& folder, YearMonth month);

// "./%04d%02d-%04d%02d-%d-%d_discharge" filled with the first and the last
// month and the cell: the name of its series without ".dat" or ".csv".
std::string term_series_stem(YearMonth first, YearMonth last, GridCell cell);

// "./YYYYMM-YYYYMM_discharge.nc": the NetCDF file of the months from
// `first` to `last`.
std::string netcdf_file_name(YearMonth first, YearMonth last);

// "./YYYYMM-YYYYMM_discharge.gif": the animation of the months from `first`
// to `last`.
std::string animation_file_name(YearMonth first, YearMonth last);

// Whether `output`, a file the user named, names the run's own input, a
// month of any year or param.dat, which the `what` ("NetCDF file") would
// replace; says so.
bool names_an_input(const std::string& output, const TermSelection& selection, const char* what,
                    std::ostream& errors);

// Removes what a run killed while writing `output`, a file of its own, left
// behind.
void remove_output_leftovers(const std::string& output);

#endif  // DISCHARGE_TERM_RUNNER_OUTPUT_NAMES_H
