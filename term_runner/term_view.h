// A whole term at a glance in a browser: ./view/index.html with the page's
// script and style, and under ./view/data/ one script of the term (its
// months, grid, colour table and the exact series of chosen cells) and one
// script a month holding its days as PNG images of one pixel a cell, each
// pixel the cell's colour table entry as a grey level, with the values each
// entry stands for under the month's range. The page loads a month's script
// in a frame of its own (month.html) that it removes once it has the data,
// so that the browser gives the script's memory back. Opened from disk,
// without a server: browsers load scripts and frames from files beside a
// page, and decode images given as data.
//
// A run holds ./view/.lock, so that one run at a time writes the page; while
// it writes, ./view/data/incomplete.js tells the page that its data are
// being written (and, if the run is killed, that they are incomplete), and
// the page says so when term.js is missing.
#ifndef DISCHARGE_TERM_RUNNER_TERM_VIEW_H
#define DISCHARGE_TERM_RUNNER_TERM_VIEW_H

#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

#include "cell_series.h"
#include "colour_table.h"
#include "output_names.h"
#include "term_range.h"

// The page's own files, kept as sources of their own and built into the
// program: index.html, view.js, view.css and month.html.
struct PageFile {
    const char* name;
    std::string_view bytes;
};
extern const PageFile VIEW_PAGE_FILES[4];

// Base64 (RFC 4648, with padding) of `bytes`.
std::string base64(std::string_view bytes);

// `text` as a JavaScript string literal, in double quotes.
std::string js_string(std::string_view text);

// What `view` was asked to do.
struct ViewRequest {
    RangeChoice range;
    Palette palette = Palette::classic;
    std::vector<GridCell> cells;   // drawn with their exact series
    std::string units = "m3 s-1";  // of the discharge, as the page shows it
    bool check_space = true;       // refuse a page the disk cannot hold
    std::string command_line;      // that writes the page, for its notes
    // Gauges marked on the map, each with its exact simulated and its
    // observed series (term_gauges.h); both files, or neither.
    std::string gauges_file;
    std::string observed_file;
    std::string folder = VIEW_FOLDER;  // the page's, "./view" unless --output
};

// Writes the page's folder (./view/) for the selection, with progress on `errors` as `images`
// gives it. A month whose script was written from the same monthly file with
// the same range and grid is kept. Returns the exit status: 0, 1 once a
// month or a file failed (each named), another run held the page or the
// disk could not hold it, 2 for options that do not fit param.dat.
int run_term_view(const std::string& from, const std::string& to, const ViewRequest& request,
                  std::ostream& errors, int terminal_width);

#endif  // DISCHARGE_TERM_RUNNER_TERM_VIEW_H
