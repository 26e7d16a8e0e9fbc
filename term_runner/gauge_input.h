// The gauges and their observed discharge, as users keep them: two CSV
// files (UTF-8, commas, fields optionally in double quotes with "" for a
// quote, lines ending in LF or CR LF).
//
// GAUGES.csv: a header naming at least `id`, `column` and `row`, in any order
// (other columns, such as `name`, are kept and ignored), then one gauge a
// line; column and row from 1.
// OBSERVED.csv: a header `date,<id>,<id>,...` (as pandas writes a frame with a
// `date` index), then a line a day, `YYYY-MM-DD` and a value for each
// column; an empty field, `nan`, `NaN`, `NA` or a negative value is a missing
// observation.
#ifndef DISCHARGE_TERM_RUNNER_GAUGE_INPUT_H
#define DISCHARGE_TERM_RUNNER_GAUGE_INPUT_H

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cell_series.h"
#include "run_input.h"

// A failure of an input file: where it is (line and column, from 1; 0 for
// the file as a whole) and what is wrong, as the message says it:
// "GAUGES.csv: line 4, column 2: \"x\" is not a column number".
struct InputError {
    std::int64_t line = 0;
    std::int64_t column = 0;
    std::string what;
};

// The fields of each line of `text`, split as CSV; nullopt with `error` set
// for a quote that does not close, or text after a closing quote.
std::optional<std::vector<std::vector<std::string>>> parse_csv(std::string_view text,
                                                               InputError& error);

struct Gauge {
    std::string id;
    GridCell cell;
};

// The gauges of GAUGES.csv's text, in the file's order; nullopt with `error`
// set for a missing header column, an empty or duplicate id, or a column or
// row that is not a whole number from 1.
std::optional<std::vector<Gauge>> parse_gauges(std::string_view text, InputError& error);

// A day of the calendar.
struct Date {
    std::int32_t year = 0;
    std::int32_t month = 0;
    std::int32_t day = 0;
    auto operator<=>(const Date&) const = default;
};

// "YYYY-MM-DD" of a real day (29 February in leap years only), or nullopt.
std::optional<Date> parse_date(std::string_view text);

// The observations of OBSERVED.csv: for each id of its header, the value of
// each date (missing days absent, or NaN where the file says so).
struct Observations {
    std::vector<std::string> ids;                // of the header, in order
    std::map<Date, std::vector<double>> values;  // per date, one per id; NaN for missing
};

// The observations of OBSERVED.csv's text; nullopt with `error` set for a
// header not beginning with `date`, a duplicate column, a malformed or
// repeated date, a line of another number of fields than the header, or a
// value that is not a number (the missing ones aside).
std::optional<Observations> parse_observations(std::string_view text, InputError& error);

// The file name of a gauge's outputs in the output folder, without its
// extension: the id's letters and digits (ASCII) kept, '-' and '_' kept,
// every other byte as "%XX" (its hexadecimal value, as in a URL), so that no
// id names a file outside the folder or a hidden one; a name that Windows
// reserves (CON, PRN, AUX, NUL, COM1-9, LPT1-9, in any case, with or without
// an extension) gets a '_' in front; an empty id gives "_".
std::string gauge_file_stem(std::string_view id);

#endif  // DISCHARGE_TERM_RUNNER_GAUGE_INPUT_H
