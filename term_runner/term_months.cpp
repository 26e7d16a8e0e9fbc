#include "term_months.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <ostream>
#include <sstream>
#include <system_error>

#include "output_file.h"

namespace {

// Months counted from year 0, so that consecutive months differ by one.
std::int64_t month_number(YearMonth month) {
    return std::int64_t{month.year} * 12 + (month.month - 1);
}

}  // namespace

std::string dashed(YearMonth month) {
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d", static_cast<int>(month.year),
                  static_cast<int>(month.month));
    return text;
}

std::optional<YearMonth> parse_year_month(const std::string& text) {
    if (text.size() != 7 || text[4] != '-') {
        return std::nullopt;
    }
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (i != 4 && (text[i] < '0' || text[i] > '9')) {
            return std::nullopt;
        }
    }
    const YearMonth month{std::stoi(text.substr(0, 4)), std::stoi(text.substr(5, 2))};
    if (month.month < 1 || month.month > 12) {
        return std::nullopt;
    }
    return month;
}

std::string month_label(YearMonth month) {
    char text[32];
    std::snprintf(text, sizeof text, "%04d%02d", static_cast<int>(month.year),
                  static_cast<int>(month.month));
    return text;
}

std::optional<TermSelection> select_term(const std::string& from, const std::string& to,
                                         std::ostream& errors, int& status) {
    status = 1;
    std::ostringstream no_echo;
    const std::optional<RunParameters> parameters = read_run_parameters(no_echo, errors);
    if (!parameters) {
        return std::nullopt;
    }
    const YearMonth start{parameters->start_year, parameters->start_month};
    const YearMonth end{parameters->end_year, parameters->end_month};
    if (start.month < 1 || start.month > 12 || end.month < 1 || end.month > 12 ||
        month_number(end) < month_number(start)) {
        errors << "The simulation term of param.dat (start " << start.year << ' ' << start.month
               << ", end " << end.year << ' ' << end.month << ") holds no month." << std::endl;
        return std::nullopt;
    }
    const YearMonth asked_first = from.empty() ? start : *parse_year_month(from);
    const YearMonth asked_last = to.empty() ? end : *parse_year_month(to);
    const std::int64_t first = std::max(month_number(asked_first), month_number(start));
    const std::int64_t last = std::min(month_number(asked_last), month_number(end));
    const std::string asked = dashed(asked_first) + " to " + dashed(asked_last);
    const std::string term = dashed(start) + " to " + dashed(end);
    if (first > last) {
        errors << "discharge_term: " << asked << " is outside the simulation term, " << term << "."
               << std::endl;
        status = 2;
        return std::nullopt;
    }
    TermSelection selection{*parameters, {}};
    for (std::int64_t number = first; number <= last; ++number) {
        selection.months.push_back(
            {static_cast<std::int32_t>(number / 12), static_cast<std::int32_t>(number % 12 + 1)});
    }
    // A year's slice of a term that starts or ends within that year: the
    // months the term has.
    if (first != month_number(asked_first) || last != month_number(asked_last)) {
        errors << "discharge_term: " << asked << " reaches past the simulation term, " << term
               << ": taking " << dashed(selection.months.front()) << " to "
               << dashed(selection.months.back()) << "." << std::endl;
    }
    status = 0;
    return selection;
}

bool is_leap_year(std::int32_t year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

std::uint64_t values_of_month(const TermSelection& selection, YearMonth month) {
    // open_term_month() has counted it.
    return *month_value_count(days_in_month(month.month), selection.parameters.nrows,
                              selection.parameters.ncols);
}

namespace {

// Why a regular file of `size` bytes is not the month, or empty if it is.
std::string size_mismatch(std::uint64_t size, YearMonth month, const RunParameters& grid) {
    const std::int32_t days = days_in_month(month.month);
    const bool leap_february = month.month == 2 && is_leap_year(month.year);
    const std::optional<std::uint64_t> values = month_value_count(days, grid.nrows, grid.ncols);
    const std::optional<std::uint64_t> values_leap =
        month_value_count(days + 1, grid.nrows, grid.ncols);
    const std::string grids =
        " grids of " + std::to_string(grid.ncols) + " x " + std::to_string(grid.nrows) + " cells";
    if (!values || !values_leap) {
        return "a month of " + std::to_string(days) + grids + " is too large to count";
    }
    const std::uint64_t bytes = *values * DISCHARGE_VALUE_BYTES;
    const std::uint64_t bytes_leap = *values_leap * DISCHARGE_VALUE_BYTES;
    if (size == bytes || (leap_february && size == bytes_leap)) {
        return "";
    }
    std::string reason = std::to_string(size) + " bytes, where " + std::to_string(days) + grids +
                         " take " + std::to_string(bytes) + " bytes";
    if (leap_february) {
        reason += " and " + std::to_string(days + 1) + " take " + std::to_string(bytes_leap);
    }
    return reason;
}

}  // namespace

bool open_term_month(DischargeFile& data, const TermSelection& selection, YearMonth month,
                     std::string& reason) {
    const std::string name = discharge_file_name(month.year, month.month);
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(name, error);
    if (error) {
        reason = reason_text(error);
        return false;
    }
    if (std::filesystem::is_directory(status)) {
        reason = reason_text(std::make_error_code(std::errc::is_a_directory));
        return false;
    }
    std::ostream nowhere(nullptr);
    errno = 0;
    if (!open_discharge_file(data, month.year, month.month, nowhere)) {
        const int number = errno;
        reason = number != 0 ? reason_text(std::error_code(number, std::generic_category()))
                             : "it cannot be read";
        return false;
    }
    if (data.seekable) {
        reason = size_mismatch(data.size_bytes, month, selection.parameters);
    } else if (!holds_month(data, days_in_month(month.month), selection.parameters.nrows,
                            selection.parameters.ncols)) {
        reason = "a month of this grid is too large to count";
    }
    if (!reason.empty()) {
        close_discharge_file(data);
        return false;
    }
    return true;
}

Failure month_unreadable(YearMonth month, const std::string& reason) {
    return {discharge_file_name(month.year, month.month), "Daily discharge data cannot open.",
            reason};
}

// Whether cells of `cell_size` degrees from param.dat's south-west corner
// stay between the poles and within one turn of longitude; says why not.
bool cells_on_the_globe(const RunParameters& grid, double cell_size, std::ostream& errors) {
    const double south = grid.southwest_latitude;
    const double north = south + cell_size * grid.nrows;
    const double span = cell_size * grid.ncols;
    if (std::isfinite(north) && south >= -90.0 && north <= 90.0 && span <= 360.0) {
        return true;
    }
    errors << "discharge_term: --cell-size " << cell_size << " does not fit the grid of "
           << grid.ncols << " x " << grid.nrows << " cells from latitude " << south
           << ", longitude " << grid.southwest_longitude << ": it would span latitudes " << south
           << " to " << north << " and " << span << " degrees of longitude." << std::endl;
    return false;
}
