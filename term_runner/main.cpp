// discharge_term: the images and cell time series of a whole simulation term
// in one command, started in the simulation's output directory. This file
// parses the command line; the work is done by run_term_images(),
// run_term_range() and run_term_series().
#include <CLI/CLI.hpp>
#include <cstdio>
#include <iostream>

#include "failure.h"
#include "output_file.h"
#include "term_images.h"
#include "term_series.h"

#ifdef _WIN32
#include <io.h>
#define stderr_is_terminal() (_isatty(_fileno(stderr)) != 0)
#else
#include <unistd.h>
#define stderr_is_terminal() (isatty(STDERR_FILENO) != 0)
#endif

namespace {

constexpr int USAGE_STATUS = 2;

const char* const FOOTER = R"(
Started in the simulation's output directory, like discharge_image and
discharge_series: reads ../param.dat and the months' files
./YYYYMM_dailyDischarge.bin. The months are the simulation term of param.dat,
narrowed by --from and --to. February has 28 days here as everywhere: the
29th of a leap February is never drawn nor in a series.

  images   draws every day as discharge_image does, into ./image/ (created if
           missing), with ./image/YYYYMM_range.txt recording each month's
           range and ./image/legend_YYYYMM.ppm showing it; a month whose
           images, legend and record are there is left as it is, unless
           --force.
  range    prints the selection's range as MIN,MAX, for --range of runs that
           share out a term.
  series   writes ./YYYYMM-YYYYMM-C-R_discharge.dat for each --cell, the
           lines discharge_series writes, month after month (with --csv also
           a .csv file: date,discharge).
  legend   draws the colour scale of a range with its values, as
           ./image/legend_YYYYMM.ppm shows each month's.

Exit status: 0 when all went well, 1 when a month or an output failed (each
is named on standard error), 2 for a usage error.)";

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

// The options of every subcommand, and the subcommand's own.
struct Options {
    std::string from;
    std::string to;
    std::string range = "term";
    unsigned jobs = 0;
    bool force = false;
    std::vector<std::string> cells;
    bool csv = false;
    std::string legend_file;
};

int run(const CLI::App& app, const Options& options) {
    if (app.got_subcommand("images")) {
        const ImagesRequest request{*parse_range_choice(options.range), options.jobs,
                                    options.force};
        return run_term_images(options.from, options.to, request, std::cerr, stderr_is_terminal());
    }
    if (app.got_subcommand("range")) {
        return run_term_range(options.from, options.to, std::cout, std::cerr);
    }
    if (app.got_subcommand("legend")) {
        return run_term_legend(parse_range_choice(options.range)->typed_range, options.legend_file,
                               std::cerr);
    }
    std::vector<GridCell> cells;
    for (const std::string& cell : options.cells) {
        cells.push_back(*parse_cell(cell));
    }
    return run_term_series(options.from, options.to, cells, options.csv, std::cerr);
}

}  // namespace

int main(int argc, char** argv) {
    install_interruption_cleanup();
    CLI::App app("The images and cell time series of a whole simulation term.", "discharge_term");
    app.set_version_flag("--version", "discharge_term " DISCHARGE_VERSION);
    app.footer(FOOTER);
    app.require_subcommand(1, 1);
    app.fallthrough();
    Options options;
    app.add_option("--from", options.from, "First month (default: the term's first)")
        ->type_name("YYYY-MM")
        ->check(checked_by(is_month, "YYYY-MM"));
    app.add_option("--to", options.to, "Last month (default: the term's last)")
        ->type_name("YYYY-MM")
        ->check(checked_by(is_month, "YYYY-MM"));

    CLI::App* images = app.add_subcommand("images", "Draw every day of the months as images");
    images
        ->add_option("--range", options.range,
                     "Colour range: term (the whole selection's, the default), month (each "
                     "month's own) or MIN,MAX")
        ->type_name("term|month|MIN,MAX")
        ->check(checked_by(is_range, "term, month or MIN,MAX with MIN below MAX"));
    images->add_option("--jobs", options.jobs, "Months drawn at once (default: one per processor)")
        ->check(CLI::PositiveNumber);
    images->add_flag("--force", options.force, "Redraw months that are up to date");

    app.add_subcommand("range", "Print the selection's range as MIN,MAX");

    CLI::App* series = app.add_subcommand("series", "Write cells' time series over the months");
    series->add_option("--cell", options.cells, "A cell: column and row, from 1 (repeatable)")
        ->type_name("C,R")
        ->required()
        ->check(checked_by(is_cell, "C,R with column and row from 1"));
    series->add_flag("--csv", options.csv, "Also write each series as CSV");

    CLI::App* legend = app.add_subcommand("legend", "Draw the legend of a range as a PPM");
    legend->add_option("--range", options.range, "The range")
        ->type_name("MIN,MAX")
        ->required()
        ->check(checked_by(is_typed_range, "MIN,MAX with MIN below MAX"));
    legend->add_option("FILE", options.legend_file, "The PPM file to write")->required();

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        const int status = app.exit(error);
        return status == 0 ? 0 : USAGE_STATUS;
    }
    if (!options.from.empty() && !options.to.empty() && options.from > options.to) {
        std::cerr << "--from " << options.from << " is after --to " << options.to
                  << "\nRun with --help for more information." << std::endl;
        return USAGE_STATUS;
    }
    return run_reporting_memory(std::cerr, "Not enough memory.", [&] { return run(app, options); });
}
