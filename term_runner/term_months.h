// The months of a whole-term run: the simulation term of param.dat, narrowed
// by --from and --to.
#ifndef DISCHARGE_TERM_RUNNER_TERM_MONTHS_H
#define DISCHARGE_TERM_RUNNER_TERM_MONTHS_H

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "run_input.h"

// The month of "YYYY-MM" (a year of four digits, a month of two, 01 to 12),
// or nullopt.
std::optional<YearMonth> parse_year_month(const std::string& text);

// "YYYYMM", as the monthly files name a month.
std::string month_label(YearMonth month);

// The grid and months of a run, from ../param.dat.
struct TermSelection {
    RunParameters parameters;
    std::vector<YearMonth> months;  // in order, at least one
};

// Reads ../param.dat without its echo and selects its term's months from
// `from` to `to` ("YYYY-MM", or empty for the term's own first or last).
// Returns nullopt after printing why on `errors`, with `status` set: 1 for
// param.dat (its messages, or a term whose months cannot be counted), 2 for
// a month of the options outside the term.
std::optional<TermSelection> select_term(const std::string& from, const std::string& to,
                                         std::ostream& errors, int& status);

#endif  // DISCHARGE_TERM_RUNNER_TERM_MONTHS_H
