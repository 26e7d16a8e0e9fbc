// A term cut into slices of consecutive months, for batch systems that give
// each task a part of it: `discharge_term slices --months N` prints them.
#ifndef DISCHARGE_TERM_RUNNER_TERM_SLICES_H
#define DISCHARGE_TERM_RUNNER_TERM_SLICES_H

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "run_input.h"

// The first and the last month of a slice.
struct MonthSlice {
    YearMonth first;
    YearMonth last;
};

// `months` (in order) cut into slices of `size` months (at least 1) from the
// first; the last slice holds what is left, fewer where they do not divide.
std::vector<MonthSlice> slice_months(const std::vector<YearMonth>& months, std::uint32_t size);

// Prints each slice of the selection from `from` to `to` on `out`, a line
// "YYYY-MM YYYY-MM" (its first and last month, as --from and --to take
// them). Reads only ../param.dat. Returns the exit status: 0, 1 for
// param.dat or where the slices could not be written, 2 for a selection
// outside the term (said on `errors`).
int run_term_slices(const std::string& from, const std::string& to, std::uint32_t size,
                    std::ostream& out, std::ostream& errors);

#endif  // DISCHARGE_TERM_RUNNER_TERM_SLICES_H
