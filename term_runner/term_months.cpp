#include "term_months.h"

#include <cstdio>
#include <ostream>
#include <sstream>

namespace {

// Months counted from year 0, so that consecutive months differ by one.
std::int64_t month_number(YearMonth month) {
    return std::int64_t{month.year} * 12 + (month.month - 1);
}

std::string dashed(YearMonth month) {
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d", static_cast<int>(month.year),
                  static_cast<int>(month.month));
    return text;
}

}  // namespace

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
    const YearMonth first = from.empty() ? start : *parse_year_month(from);
    const YearMonth last = to.empty() ? end : *parse_year_month(to);
    for (const YearMonth month : {first, last}) {
        if (month_number(month) < month_number(start) || month_number(month) > month_number(end)) {
            errors << "discharge_term: " << dashed(month) << " is outside the simulation term, "
                   << dashed(start) << " to " << dashed(end) << "." << std::endl;
            status = 2;
            return std::nullopt;
        }
    }
    TermSelection selection{*parameters, {}};
    for (std::int64_t number = month_number(first); number <= month_number(last); ++number) {
        selection.months.push_back(
            {static_cast<std::int32_t>(number / 12), static_cast<std::int32_t>(number % 12 + 1)});
    }
    status = 0;
    return selection;
}
