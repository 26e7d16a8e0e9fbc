// The colour range of a term's pictures: the whole selection's, each
// month's own, or a typed one; the `range` subcommand that prints the
// selection's; and the texts ranges are written in.
#ifndef DISCHARGE_TERM_RUNNER_TERM_RANGE_H
#define DISCHARGE_TERM_RUNNER_TERM_RANGE_H

#include <iosfwd>
#include <optional>
#include <string>

#include "failure.h"
#include "term_months.h"
#include "value_range.h"

// How the colour range of the pictures is chosen, and the stretch that
// spreads the levels over it.
struct RangeChoice {
    enum Kind { term, month, typed } kind = term;
    ValueRange typed_range{};  // for `typed`, with the stretch
    Stretch stretch = Stretch::sqrt;
};

// "term", "month" or "MIN,MAX" (each read as the dialogue reads a typed
// value, the minimum below the maximum, their difference a finite float), or
// nullopt.
std::optional<RangeChoice> parse_range_choice(const std::string& text);

// "MIN,MAX" with nine significant digits, enough to read back the very same
// floats: the first line of a month's record, and what `range` prints.
std::string range_text(ValueRange range);

// The shortest decimal text that reads back as the very same float
// ("0.008", not "0.00800000038"), for what people read.
std::string shortest_text(float value);

// The range `found` by a search, drawn with `stretch`. A log stretch, which
// places no zero, begins at the smallest value above zero found where the
// minimum found is zero. Nullopt where the range is empty: no value above
// zero below the maximum, for a log stretch.
std::optional<ValueRange> stretched_range(ValueRange found, Stretch stretch);

// What is said where a log stretch begins above the minimum found, `whose`
// the range's owner ("The term's", "The month's"): "The term's minimum is 0:
// the log stretch begins at the smallest discharge above 0, 0.0141."; empty
// where it does not.
std::string log_start_note(const std::string& whose, ValueRange found, ValueRange used);

// The range of the whole selection, found as discharge_image finds a month's
// and widened month after month, for `stretch` (stretched_range()), said
// on `errors` where a log stretch begins above zero. Returns nullopt after
// naming on `errors` every month whose file is missing or not the month's
// size, or after "Maximun discharge <= Minimum discharge!".
std::optional<ValueRange> find_term_range(const TermSelection& selection, std::ostream& errors,
                                          Stretch stretch = Stretch::sqrt);

// The range a term or typed choice draws every month with: the typed range,
// or the term's found by find_term_range() for the choice's stretch (nullopt
// after it said why not). A month choice has none: its typed range, unused.
std::optional<ValueRange> chosen_term_range(const TermSelection& selection,
                                            const RangeChoice& choice, std::ostream& errors);

// The month's own range for `stretch`, as discharge_image finds it, from
// `data` opened by open_term_month() and opened again for the drawing pass;
// `note` the log_start_note() of it. Nullopt with `failure` set where the
// month has none or cannot be opened again.
std::optional<ValueRange> month_own_range(const TermSelection& selection, YearMonth month,
                                          DischargeFile& data, Failure& failure,
                                          Stretch stretch = Stretch::sqrt,
                                          std::string* note = nullptr);

// Flushes what was printed on `out` (standard output); where it could not be
// written (a full disk, a closed pipe), says so on `errors` with the
// system's reason and returns false.
bool output_written(std::ostream& out, std::ostream& errors);

// Prints the selection's range for `stretch` as range_text() and a line end
// on `out`. Returns the exit status: 0, 1 when a month cannot be read or
// there is no range, 2 for a selection outside the term; nothing is printed
// on `out` unless the range was found.
int run_term_range(const std::string& from, const std::string& to, std::ostream& out,
                   std::ostream& errors, Stretch stretch = Stretch::sqrt);

#endif  // DISCHARGE_TERM_RUNNER_TERM_RANGE_H
