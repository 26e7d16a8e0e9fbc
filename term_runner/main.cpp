// discharge_term: the images, animation, cell time series and NetCDF file of a whole
// simulation term in one command, started in the simulation's output
// directory. This file parses the command line; the work is done by
// run_term_images(), run_term_range(), run_term_series(), run_term_view(),
// run_term_netcdf(), run_term_legend(), run_term_animate() and run_term_gauges().
#include <CLI/CLI.hpp>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "failure.h"
#include "output_file.h"
#include "progress.h"
#include "term_animate.h"
#include "term_gauges.h"
#include "term_images.h"
#include "term_legend.h"
#include "term_netcdf.h"
#include "term_series.h"
#include "term_slices.h"
#include "term_view.h"

#ifdef _WIN32
#include <io.h>
#define stderr_is_terminal() (_isatty(_fileno(stderr)) != 0)
#else
#include <unistd.h>
#define stderr_is_terminal() (isatty(STDERR_FILENO) != 0)
#endif

namespace {

constexpr int USAGE_STATUS = 2;

// Started like discharge_image and discharge_series: every subcommand's help
// ends with this.
const char* const FOOTER = R"(
Run in the simulation's output directory: reads ../param.dat and the months'
files ./YYYYMM_dailyDischarge.bin. The months are the simulation term of
param.dat, narrowed by --from and --to (a selection reaching past the term is
taken within it). Each month's file must hold exactly the month's daily grids,
or one more for a leap February; February has 28 days here, as everywhere
but in netcdf --leap-day and gauges (which pairs an observed 29 February with
the file's 29th grid).

Exit status: 0 when all went well, 1 when a month or an output failed (each
is named on standard error), 2 for a usage error.)";

const char* const IMAGES_FOOTER = R"(
Draws every day as discharge_image does, into ./image/ (created if missing),
or with --format png the same pixels as PNG images (*.png), 80 to 400 times
smaller: for a whole term, draw PNG. Beside them
./image/legend_YYYYMM.ppm (.png) shows each month's range and
./image/YYYYMM_range.txt records it (first line MIN,MAX) with what the
images were drawn from. A rerun draws only what is missing or no longer
right: a month whose range, grid, monthly file, format, scale, stretch,
palette, annotation, images and legend are as recorded is up to date
(--force redraws). A month that another
run is drawing is reported busy and left to it. Nothing is drawn when the
images may not fit the free space of the disk of ./image/.
)";

const char* const SERIES_FOOTER = R"(
Writes ./YYYYMM-YYYYMM-C-R_discharge.dat for each --cell, the lines
discharge_series writes, month after month. With --csv also a .csv file:
the header date,discharge (UNITS), then YYYY-MM-DD,VALUE a day, VALUE
empty where there is none (a negative value stored: no discharge). A month
that cannot be read means no series is written, unless --allow-gaps: then
its days read "nan" in the .dat file and have an empty value in the CSV,
and the run still ends with status 1.
)";

const char* const NETCDF_FOOTER = R"(
Writes the selection into one NetCDF file (CF-1.8): discharge(time, y, x)
with every value as stored (negative values mean no discharge: _FillValue
-999, valid_min 0), time in days since the first month's first day, each
day at its middle and bounded by its midnights (calendar 365_day, or
standard with --leap-day), x and y the column and row numbers. With
--cell-size, discharge(time, lat, lon) on WGS 84 latitudes and longitudes,
with bounds and a grid mapping, which GDAL and QGIS place.
Every month must be readable, or no file is written.
This build writes )";

const char* const NO_NETCDF_FOOTER = R"(
This build has no NetCDF support: it was built without the netCDF C
library (see docs/installing.md).
)";

const char* const ANIMATE_FOOTER = R"(
Writes the selection's days (with --every N every Nth, from the first) as
one animated GIF that loops forever, ./YYYYMM-YYYYMM_discharge.gif by
default: each frame the day's map with a band above it that holds its date,
the units and the legend. Every palette's colours and the band's fit the 256
a GIF frame holds, so each map's pixels are those of the PNG image of that
day. The file appears whole or not at all; nothing is written where the disk
may not hold it. For a video, draw annotated PNG images and join them with
ffmpeg (docs/discharge_term.md).
)";

const char* const GAUGES_FOOTER = R"(
Pairs each gauge's cell of GAUGES.csv (header naming id, column and row)
with its observed discharge in OBSERVED.csv (header date,<id>,<id>,...;
dates YYYY-MM-DD; an empty field, nan, NaN, NA or a negative value is
missing) day by day, and writes into DIR (./gauges by default):
metrics.csv (id,column,row,days,nse,log_nse,kge,r,alpha,beta,kge_prime,
gamma,pbias,rmse,mean_sim,mean_obs; pbias = 100 sum(s - o) / sum(o), positive
where the simulation is too high), and for each gauge <id>.csv
(date,simulated,observed) and <id>.svg (its hydrograph), and index.html with
them all. Every formula and its source: docs/discharge_term.md. A leap
February's 29th is paired where its monthly file holds it. Faults of the two
files, a gauge outside the grid and duplicate ids are usage errors.
)";

const char* const SLICES_FOOTER = R"(
Prints the selection cut into slices of N consecutive months from its first,
a line "YYYY-MM YYYY-MM" a slice (its first and last month, as --from and
--to take them), the last slice holding what is left: one task of a batch
job or a cluster each. Reads only ../param.dat.
)";

const char* const VIEW_FOOTER = R"(
Writes ./view/index.html and what it shows: the selection's days as frames
of one pixel a cell (./view/data/YYYYMM.js, a month each, loaded as needed),
with a slider, playback, the legend, the values a cell's colour stands for
and a pinned cell's hydrograph, which the page saves as CSV; --cell cells
with their exact series. Open index.html from disk in a browser; copy or zip
the folder view/ to share it. A month whose file and range are unchanged is
kept. One run at a time writes the page (another is refused, status 1), and
nothing is written where the disk of ./view may not hold the page. With
--output DIR the page is DIR/ instead of ./view/.
)";

CLI::Validator checked_by(bool (*valid)(const std::string&), const char* description) {
    return CLI::Validator(
        [valid, description](std::string& text) {
            return valid(text) ? std::string() : std::string("expects ") + description;
        },
        "");
}

bool is_month(const std::string& text) {
    return parse_year_month(text).has_value();
}
bool is_range(const std::string& text) {
    return parse_range_choice(text).has_value();
}
bool is_typed_range(const std::string& text) {
    const std::optional<RangeChoice> choice = parse_range_choice(text);
    return choice && choice->kind == RangeChoice::typed;
}
bool is_cell(const std::string& text) {
    return parse_cell(text).has_value();
}
bool is_format(const std::string& text) {
    return text == "ppm" || text == "png";
}
bool is_scale(const std::string& text) {
    return text.size() <= 2 && text.find_first_not_of("0123456789") == std::string::npos &&
           !text.empty() && std::stoul(text) >= IMAGE_SCALE_MIN &&
           std::stoul(text) <= IMAGE_SCALE_MAX;
}
bool is_significant_digits(const std::string& text) {
    return text.size() == 1 && text[0] >= '1' && text[0] <= '7';
}
bool is_cell_size(const std::string& text) {
    double degrees = 0.0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), degrees);
    return error == std::errc() && end == text.data() + text.size() && std::isfinite(degrees) &&
           degrees > 0.0;
}
bool is_not_empty(const std::string& text) {
    return !text.empty();
}
bool is_units(const std::string& text) {
    return !text.empty() && std::none_of(text.begin(), text.end(), [](char c) {
        return static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
    });
}
bool is_stretch(const std::string& text) {
    return parse_stretch(text).has_value();
}
bool is_palette(const std::string& text) {
    return parse_palette(text).has_value();
}

// An argument as a POSIX shell reads it back: as it is where it holds only
// characters the shell takes literally, else in single quotes.
std::string shell_word(const std::string& argument) {
    const bool plain = !argument.empty() && argument.find_first_not_of(
                                                "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuv"
                                                "wxyz0123456789_-+=,.:/@%") == std::string::npos;
    if (plain) {
        return argument;
    }
    std::string word = "'";
    for (const char c : argument) {
        word += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return word + "'";
}

bool is_job_count(const std::string& text) {
    return !text.empty() && text.size() < 10 &&
           text.find_first_not_of("0123456789") == std::string::npos && std::stoul(text) >= 1;
}

// The options of every subcommand, and the subcommand's own.
struct Options {
    std::string from;
    std::string to;
    std::string range = "term";
    std::string stretch = "sqrt";
    std::string palette = "classic";
    unsigned jobs = 0;
    bool force = false;
    std::string format = "ppm";
    std::uint32_t scale = BLOCK_SIZE;
    bool no_space_check = false;
    std::vector<std::string> cells;
    bool csv = false;
    bool allow_gaps = false;
    std::string units = "m3 s-1";  // of series and view
    std::string command_line;      // as a POSIX shell reads it back
    std::string legend_file;
    NetcdfRequest netcdf;
    bool annotate = false;
    std::optional<double> frame_cell_size;  // images --cell-size
    AnimateRequest animate;
    GaugesRequest gauges;
    std::uint32_t slice_months = 12;        // slices --months
    std::string view_folder = VIEW_FOLDER;  // view --output
};

// How a run ends: its exit status, and whether the process must end at once,
// without exit handlers (after a failed NetCDF write).
struct Ending {
    int status = 0;
    bool at_once = false;
};

int terminal_width() {
    return stderr_is_terminal() ? terminal_columns() : -1;
}

// The range choice of the options, with its stretch.
RangeChoice range_of(const Options& options) {
    RangeChoice choice = *parse_range_choice(options.range);
    choice.stretch = *parse_stretch(options.stretch);
    choice.typed_range.stretch = choice.stretch;
    return choice;
}

Palette palette_of(const Options& options) {
    return *parse_palette(options.palette);
}

std::vector<GridCell> cells_of(const Options& options) {
    std::vector<GridCell> cells;
    for (const std::string& cell : options.cells) {
        cells.push_back(*parse_cell(cell));
    }
    return cells;
}

Ending run(const CLI::App& app, const Options& options) {
    if (app.got_subcommand("images")) {
        const ImagesRequest request{
            range_of(options),      options.jobs,
            options.force,          options.format == "png" ? ImageFormat::png : ImageFormat::ppm,
            options.scale,          !options.no_space_check,
            palette_of(options),    options.annotate ? std::optional(options.units) : std::nullopt,
            options.frame_cell_size};
        return {run_term_images(options.from, options.to, request, std::cerr, terminal_width())};
    }
    if (app.got_subcommand("view")) {
        const ViewRequest request{range_of(options),          palette_of(options),
                                  cells_of(options),          options.units,
                                  !options.no_space_check,    options.command_line,
                                  options.gauges.gauges_file, options.gauges.observed_file,
                                  options.view_folder};
        return {run_term_view(options.from, options.to, request, std::cerr, terminal_width())};
    }
    if (app.got_subcommand("animate")) {
        AnimateRequest request = options.animate;
        request.range = range_of(options);
        request.palette = palette_of(options);
        request.units = options.units;
        request.check_space = !options.no_space_check;
        return {run_term_animate(options.from, options.to, request, std::cerr, terminal_width())};
    }
    if (app.got_subcommand("gauges")) {
        GaugesRequest request = options.gauges;
        request.units = options.units;
        request.allow_gaps = options.allow_gaps;
        return {run_term_gauges(options.from, options.to, request, std::cerr)};
    }
    if (app.got_subcommand("netcdf")) {
        const NetcdfEnd end =
            run_term_netcdf(options.from, options.to, options.netcdf, std::cerr, terminal_width());
        return {end.status, end.end_at_once};
    }
    if (app.got_subcommand("range")) {
        return {run_term_range(options.from, options.to, std::cout, std::cerr,
                               *parse_stretch(options.stretch))};
    }
    if (app.got_subcommand("slices")) {
        return {
            run_term_slices(options.from, options.to, options.slice_months, std::cout, std::cerr)};
    }
    if (app.got_subcommand("legend")) {
        return {run_term_legend(range_of(options).typed_range, palette_of(options),
                                options.legend_file, std::cerr)};
    }
    return {run_term_series(options.from, options.to, cells_of(options),
                            {options.csv, options.allow_gaps, options.units}, std::cerr)};
}

// --from and --to, for `app` itself (before the subcommand) and for each
// subcommand that takes months, so that its help shows them.
void add_month_options(CLI::App& app, Options& options) {
    app.add_option("--from", options.from, "First month (default: the term's first)")
        ->type_name("YYYY-MM")
        ->check(checked_by(is_month, "YYYY-MM"));
    app.add_option("--to", options.to, "Last month (default: the term's last)")
        ->type_name("YYYY-MM")
        ->check(checked_by(is_month, "YYYY-MM"));
}

// --range of the subcommands that colour the days.
void add_range_option(CLI::App& app, Options& options) {
    app.add_option("--range", options.range,
                   "Colour range: term (the whole selection's, the default), month (each "
                   "month's own) or MIN,MAX")
        ->type_name("term|month|MIN,MAX")
        ->check(checked_by(is_range,
                           "term, month or MIN,MAX with MIN below MAX, MAX - MIN at most 3.4e38"));
}

// --stretch of the subcommands that colour the days, and of `range`.
void add_stretch_option(CLI::App& app, Options& options) {
    app.add_option("--stretch", options.stretch,
                   "How the colours spread over the range: sqrt (the square root of the "
                   "position in it, the default, as discharge_image draws), linear, or log "
                   "(the position of the logarithm: low flows get as many colours as floods)")
        ->type_name("sqrt|linear|log")
        ->check(checked_by(is_stretch, "sqrt, linear or log"));
}

// --palette of the subcommands that colour the days.
void add_palette_option(CLI::App& app, Options& options) {
    app.add_option("--palette", options.palette,
                   "Colours: classic (blue, cyan, green, yellow, red, as discharge_image "
                   "draws; the default), viridis or cividis (readable to colour-blind eyes "
                   "and in grey)")
        ->type_name("classic|viridis|cividis")
        ->check(checked_by(is_palette, "classic, viridis or cividis"));
}

void add_images(CLI::App& app, Options& options) {
    CLI::App* images = app.add_subcommand("images", "Draw every day of the months as images");
    images->footer(std::string(IMAGES_FOOTER) + FOOTER);
    add_month_options(*images, options);
    add_range_option(*images, options);
    add_stretch_option(*images, options);
    add_palette_option(*images, options);
    images
        ->add_option("--jobs", options.jobs,
                     "Months drawn at once (default: one per processor, at most 32)")
        ->type_name("N")
        ->check(checked_by(is_job_count, "a whole number of workers from 1 to 999999999"));
    images->add_flag("--force", options.force, "Redraw months that are up to date");
    images
        ->add_option("--format", options.format,
                     "Image format: ppm (the default, as discharge_image writes) or png (many "
                     "times smaller)")
        ->type_name("ppm|png")
        ->check(checked_by(is_format, "ppm or png"));
    images
        ->add_option("--scale", options.scale,
                     "Pixels a cell side, 1 to 10 (default 5, as discharge_image draws)")
        ->type_name("N")
        ->check(checked_by(is_scale, "a whole number of pixels from 1 to 10"));
    CLI::Option* annotate =
        images->add_flag("--annotate", options.annotate,
                         "Above each map a band with its date, the units and the legend");
    images
        ->add_option("--units", options.units,
                     "Units of the discharge, for --annotate (default m3 s-1)")
        ->type_name("TEXT")
        ->check(checked_by(is_units, "the units: not empty, on one line"))
        ->needs(annotate);
    images
        ->add_option("--cell-size", options.frame_cell_size,
                     "Cell side in degrees: PNG frames placed on WGS 84 for GIS tools (world "
                     "files)")
        ->type_name("DEG")
        ->check(checked_by(is_cell_size, "a positive number of degrees"));
    images->add_flag("--no-space-check", options.no_space_check,
                     "Draw even where the disk may not hold the images");
}

bool is_frame_rate(const std::string& text) {
    double fps = 0.0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), fps);
    return error == std::errc() && end == text.data() + text.size() && fps > 0.0 && fps <= 100.0;
}

void add_animate(CLI::App& app, Options& options) {
    CLI::App* animate =
        app.add_subcommand("animate", "Write the days of the months as one animated GIF");
    animate->footer(std::string(ANIMATE_FOOTER) + FOOTER);
    add_month_options(*animate, options);
    add_range_option(*animate, options);
    add_stretch_option(*animate, options);
    add_palette_option(*animate, options);
    animate
        ->add_option("--every", options.animate.every,
                     "Every Nth day of the selection, from its first (default 1: every day)")
        ->type_name("N")
        ->check(checked_by(is_job_count, "a whole number of days from 1 to 999999999"));
    animate->add_option("--fps", options.animate.fps, "Frames a second (default 8)")
        ->type_name("F")
        ->check(checked_by(is_frame_rate, "a number of frames a second above 0, at most 100"));
    animate->add_option("--scale", options.animate.scale, "Pixels a cell side, 1 to 10 (default 1)")
        ->type_name("N")
        ->check(checked_by(is_scale, "a whole number of pixels from 1 to 10"));
    animate
        ->add_option("--units", options.units,
                     "Units of the discharge, in each frame (default m3 s-1)")
        ->type_name("TEXT")
        ->check(checked_by(is_units, "the units: not empty, on one line"));
    animate
        ->add_option("--output", options.animate.output,
                     "The file (default ./YYYYMM-YYYYMM_discharge.gif)")
        ->type_name("FILE")
        ->check(checked_by(is_not_empty, "a file name"));
    animate->add_flag("--no-space-check", options.no_space_check,
                      "Write even where the disk may not hold the animation");
}

void add_range(CLI::App& app, Options& options) {
    CLI::App* range = app.add_subcommand("range", "Print the selection's range as MIN,MAX");
    range->footer(FOOTER);
    add_month_options(*range, options);
    add_stretch_option(*range, options);
}

void add_slices(CLI::App& app, Options& options) {
    CLI::App* slices = app.add_subcommand(
        "slices", "Print the selection cut into slices of months, for a batch system's tasks");
    slices->footer(std::string(SLICES_FOOTER) + FOOTER);
    add_month_options(*slices, options);
    slices->add_option("--months", options.slice_months, "Months a slice (default 12)")
        ->type_name("N")
        ->check(checked_by(is_job_count, "a whole number of months from 1 to 999999999"));
}

void add_series(CLI::App& app, Options& options) {
    CLI::App* series = app.add_subcommand("series", "Write cells' time series over the months");
    series->footer(std::string(SERIES_FOOTER) + FOOTER);
    add_month_options(*series, options);
    series->add_option("--cell", options.cells, "A cell: column and row, from 1 (repeatable)")
        ->type_name("C,R")
        ->required()
        ->check(checked_by(is_cell, "C,R with column and row from 1"));
    series->add_flag("--csv", options.csv, "Also write each series as CSV");
    series->add_flag("--allow-gaps", options.allow_gaps,
                     "Write the series even where months cannot be read, their days marked");
    series
        ->add_option("--units", options.units,
                     "Units of the discharge, for the CSV's header (default m3 s-1)")
        ->type_name("TEXT")
        ->check(checked_by(is_not_empty, "the units, not empty"));
}

void add_view(CLI::App& app, Options& options) {
    CLI::App* view = app.add_subcommand("view", "Write a page that shows the months in a browser");
    view->footer(std::string(VIEW_FOOTER) + FOOTER);
    add_month_options(*view, options);
    add_range_option(*view, options);
    add_stretch_option(*view, options);
    add_palette_option(*view, options);
    view->add_option("--cell", options.cells,
                     "A cell shown with its exact series: column and row, from 1 (repeatable)")
        ->type_name("C,R")
        ->check(checked_by(is_cell, "C,R with column and row from 1"));
    view->add_option("--units", options.units, "Units of the discharge (default m3 s-1)")
        ->type_name("TEXT")
        ->check(checked_by(is_not_empty, "the units, not empty"));
    CLI::Option* gauges =
        view->add_option("--gauges", options.gauges.gauges_file,
                         "Gauges to mark, each with its exact and its observed series")
            ->type_name("GAUGES.csv")
            ->check(CLI::ExistingFile);
    CLI::Option* observed = view->add_option("--observed", options.gauges.observed_file,
                                             "The gauges' observed discharge (as for gauges)")
                                ->type_name("OBSERVED.csv")
                                ->check(CLI::ExistingFile);
    gauges->needs(observed);
    observed->needs(gauges);
    view->add_option("--output", options.view_folder,
                     "The page's folder (default ./view; created if missing, its parent must "
                     "exist)")
        ->type_name("DIR")
        ->check(checked_by(is_not_empty, "a folder name"));
    view->add_flag("--no-space-check", options.no_space_check,
                   "Write the page even where the disk may not hold it");
}

void add_netcdf(CLI::App& app, Options& options) {
    CLI::App* netcdf =
        app.add_subcommand("netcdf", "Write the months into one NetCDF file (CF-1.8)");
    netcdf->footer(NETCDF_AVAILABLE
                       ? std::string(NETCDF_FOOTER).append(NETCDF_FORMAT).append(".\n") + FOOTER
                       : std::string(NO_NETCDF_FOOTER) + FOOTER);
    add_month_options(*netcdf, options);
    netcdf->add_flag("--leap-day", options.netcdf.leap_day,
                     "The standard calendar: 29 February read from the leap Februaries' files");
    netcdf->add_option("--units", options.netcdf.units, "Units of the discharge (default m3 s-1)")
        ->type_name("TEXT")
        ->check(checked_by(is_not_empty, "the units, not empty"));
    netcdf
        ->add_option("--cell-size", options.netcdf.cell_size,
                     "Cell side in degrees: the cells on WGS 84 latitudes and longitudes")
        ->type_name("DEG")
        ->check(checked_by(is_cell_size, "a positive number of degrees"));
    netcdf
        ->add_option("--significant-digits", options.netcdf.significant_digits,
                     "Keep N significant digits, 1 to 7, for a smaller file (lossy)")
        ->type_name("N")
        ->check(checked_by(is_significant_digits, "a whole number of digits from 1 to 7"));
    netcdf
        ->add_option("--jobs", options.netcdf.jobs,
                     "Threads that compress the file (default: one per processor, at most 32)")
        ->type_name("N")
        ->check(checked_by(is_job_count, "a whole number of workers from 1 to 999999999"));
    netcdf
        ->add_option("--output", options.netcdf.output,
                     "The file (default ./YYYYMM-YYYYMM_discharge.nc)")
        ->type_name("FILE")
        ->check(checked_by(is_not_empty, "a file name"));
}

void add_gauges(CLI::App& app, Options& options) {
    CLI::App* gauges = app.add_subcommand(
        "gauges", "Score the simulation against observed discharge at gauges, with hydrographs");
    gauges->footer(std::string(GAUGES_FOOTER) + FOOTER);
    add_month_options(*gauges, options);
    gauges->add_option("--gauges", options.gauges.gauges_file, "The gauges: id, column, row")
        ->type_name("GAUGES.csv")
        ->required()
        ->check(CLI::ExistingFile);
    gauges
        ->add_option("--observed", options.gauges.observed_file,
                     "The observed discharge: date and a column a gauge")
        ->type_name("OBSERVED.csv")
        ->required()
        ->check(CLI::ExistingFile);
    gauges->add_option("--output", options.gauges.output, "The folder written (default ./gauges)")
        ->type_name("DIR")
        ->check(checked_by(is_not_empty, "a folder name"));
    gauges
        ->add_option("--units", options.units,
                     "Units of the discharge, on the hydrographs' axis (default m3 s-1)")
        ->type_name("TEXT")
        ->check(checked_by(is_units, "the units: not empty, on one line"));
    gauges->add_flag("--log", options.gauges.log, "The hydrographs' discharge axis logarithmic");
    gauges->add_flag("--allow-gaps", options.allow_gaps,
                     "Write the outputs even where months cannot be read, their days missing");
}

void add_legend(CLI::App& app, Options& options) {
    CLI::App* legend = app.add_subcommand("legend", "Draw the legend of a range as a PPM or PNG");
    legend->footer(
        "\nWrites the colour scale of the range with its values, as\n"
        "./image/legend_YYYYMM.ppm shows each month's.\n\n"
        "Exit status: 0 when written, 1 when it could not be, 2 for a usage error.");
    legend->add_option("--range", options.range, "The range")
        ->type_name("MIN,MAX")
        ->required()
        ->check(checked_by(is_typed_range, "MIN,MAX with MIN below MAX, MAX - MIN at most 3.4e38"));
    add_stretch_option(*legend, options);
    add_palette_option(*legend, options);
    legend
        ->add_option("FILE", options.legend_file,
                     "The file to write: PNG if its name ends in .png, else PPM")
        ->required();
}

}  // namespace

int main(int argc, char** argv) {
    install_interruption_cleanup();
    CLI::App app(
        "The images, animation, cell time series, gauge scores and NetCDF file of a whole "
        "simulation term.",
        "discharge_term");
    app.set_version_flag("--version", "discharge_term " DISCHARGE_VERSION);
    app.footer(FOOTER);
    app.require_subcommand(1, 1);
    app.fallthrough();
    Options options;
    add_month_options(app, options);
    for (const auto add : {add_images, add_range, add_series, add_view, add_netcdf, add_legend,
                           add_animate, add_gauges, add_slices}) {
        add(app, options);
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        const int status = app.exit(error);
        return status == 0 ? 0 : USAGE_STATUS;
    }
    // A log stretch places no value at or below zero: a typed range must
    // begin above it.
    if (options.stretch == "log" && range_of(options).kind == RangeChoice::typed &&
        !(range_of(options).typed_range.minimum > 0.0F)) {
        std::cerr << "--range " << options.range
                  << ": a log stretch needs a minimum above 0\nRun with --help for more "
                     "information."
                  << std::endl;
        return USAGE_STATUS;
    }
    if (!options.from.empty() && !options.to.empty() && options.from > options.to) {
        std::cerr << "--from " << options.from << " is after --to " << options.to
                  << "\nRun with --help for more information." << std::endl;
        return USAGE_STATUS;
    }
    for (int i = 0; i < argc; ++i) {
        options.command_line += (i > 0 ? " " : "") + shell_word(argv[i]);
    }
    options.netcdf.command_line = options.command_line;
    Ending ending;
    const int status = run_reporting_memory(std::cerr, "Not enough memory.", [&] {
        ending = run(app, options);
        return ending.status;
    });
    if (ending.at_once) {
        std::cout.flush();
        std::cerr.flush();
        std::_Exit(status);
    }
    return status;
}
