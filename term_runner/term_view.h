// A whole term at a glance in a browser: ./view/index.html with the page's
// script and style, and under ./view/data/ one script of the term (its
// months, grid, colours and the exact series of chosen cells) and one script
// a month holding its days as PNG images of one pixel a cell, which the page
// loads as it needs them. Opened from disk, without a server: browsers load
// scripts from files beside a page, and read back the pixels of images given
// as data URIs.
#ifndef DISCHARGE_TERM_RUNNER_TERM_VIEW_H
#define DISCHARGE_TERM_RUNNER_TERM_VIEW_H

#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

#include "cell_series.h"
#include "term_range.h"

// The page's own files, kept as sources of their own and built into the
// program: index.html, view.js and view.css.
struct PageFile {
    const char* name;
    std::string_view bytes;
};
extern const PageFile VIEW_PAGE_FILES[3];

// Base64 (RFC 4648, with padding) of `bytes`.
std::string base64(std::string_view bytes);

// What `view` was asked to do.
struct ViewRequest {
    RangeChoice range;
    std::vector<GridCell> cells;  // drawn with their exact series
};

// Writes ./view/ for the selection, with progress on `errors` as `images`
// gives it. A month whose script was written from the same monthly file with
// the same range and grid is kept. Returns the exit status: 0, 1 once a
// month failed (each named), 2 for options that do not fit param.dat.
int run_term_view(const std::string& from, const std::string& to, const ViewRequest& request,
                  std::ostream& errors, int terminal_width);

#endif  // DISCHARGE_TERM_RUNNER_TERM_VIEW_H
