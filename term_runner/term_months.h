// The months of a whole-term run: the simulation term of param.dat, narrowed
// by --from and --to, and each month's file checked to hold that month.
#ifndef DISCHARGE_TERM_RUNNER_TERM_MONTHS_H
#define DISCHARGE_TERM_RUNNER_TERM_MONTHS_H

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "failure.h"
#include "run_input.h"

// The month of "YYYY-MM" (a year of four digits, a month of two, 01 to 12),
// or nullopt.
std::optional<YearMonth> parse_year_month(const std::string& text);

// "YYYYMM", as the monthly files name a month.
std::string month_label(YearMonth month);

// "YYYY-MM", as --from and --to take a month.
std::string dashed(YearMonth month);

// The grid and months of a run, from ../param.dat.
struct TermSelection {
    RunParameters parameters;
    std::vector<YearMonth> months;  // in order, at least one
};

// Reads ../param.dat without its echo and selects its term's months from
// `from` to `to` ("YYYY-MM", or empty for the term's own first or last). A
// selection reaching past the term is narrowed to it, with a note on
// `errors`. Returns nullopt after printing why on `errors`, with `status`
// set: 1 for param.dat (its messages, or a term whose months cannot be
// counted), 2 for a selection with no month in the term.
std::optional<TermSelection> select_term(const std::string& from, const std::string& to,
                                         std::ostream& errors, int& status);

// Whether `year` has a 29 February.
bool is_leap_year(std::int32_t year);

// Opens the monthly file of `month` for a pass and checks that it holds the
// month exactly: its days' grids, or one grid more for a leap February, as
// simulations write it. A pipe, whose length is unknown, is checked while it
// is read. Returns false with `reason` saying why: the system's words, or the
// size found and the sizes a month takes. Prints nothing.
bool open_term_month(DischargeFile& data, const TermSelection& selection, YearMonth month,
                     std::string& reason);

// Values of the month's days read by the programs (February's 29th never is).
std::uint64_t values_of_month(const TermSelection& selection, YearMonth month);

// "<file>: Daily discharge data cannot open. (<reason>)", the failure of a
// month that open_term_month() refused.
Failure month_unreadable(YearMonth month, const std::string& reason);

// Whether cells of `cell_size` degrees from param.dat's south-west corner
// stay between the poles and within one turn of longitude (the --cell-size
// of netcdf and images); says why not on `errors`.
bool cells_on_the_globe(const RunParameters& grid, double cell_size, std::ostream& errors);

#endif  // DISCHARGE_TERM_RUNNER_TERM_MONTHS_H
