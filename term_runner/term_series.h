// The series of chosen cells over a whole term: for each cell the lines that
// discharge_series writes, month after month, in one file, and as CSV.
#ifndef DISCHARGE_TERM_RUNNER_TERM_SERIES_H
#define DISCHARGE_TERM_RUNNER_TERM_SERIES_H

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "cell_series.h"
#include "term_months.h"

// The cell of "C,R" (column and row, each from 1), or nullopt.
std::optional<GridCell> parse_cell(const std::string& text);

// Whether every cell lies in the grid; names the first that does not on
// `errors` as a usage error if not.
bool cells_in_grid(const std::vector<GridCell>& cells, const RunParameters& grid,
                   std::ostream& errors);

// Reads the cells' series of one month, one vector of the month's days for
// each cell; false with `reason` set if the month cannot be read whole.
bool read_month_series(const TermSelection& selection, YearMonth month,
                       const std::vector<GridCell>& cells, std::vector<std::vector<float>>& series,
                       std::string& reason);

// What `series` was asked to do.
struct SeriesRequest {
    bool csv = false;              // also write each series as CSV
    bool allow_gaps = false;       // write series with months missing, their days marked
    std::string units = "m3 s-1";  // of the discharge, in the CSV's header
};

// Writes each cell's series of the selection, and with `csv` its CSV file
// (header "date,discharge (UNITS)", a line "YYYY-MM-DD,value" a day, the
// value empty where there is no discharge or the month could not be read),
// in the working directory. Each monthly file is read once for all cells. A
// month that cannot be read whole is named on `errors`; then no series is
// written, unless `allow_gaps`: then its days are written with the value
// "nan" in the .dat file and an empty one in the CSV. Returns the exit
// status: 0, 1 after any failure, 2 for options that do not fit param.dat
// (a cell outside the grid, a selection outside the term).
int run_term_series(const std::string& from, const std::string& to,
                    const std::vector<GridCell>& cells, const SeriesRequest& request,
                    std::ostream& errors);

#endif  // DISCHARGE_TERM_RUNNER_TERM_SERIES_H
