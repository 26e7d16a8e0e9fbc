#include "term_range.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <ostream>
#include <sstream>

#include "output_file.h"

namespace {

// A value typed as the dialogue reads it, the whole text and nothing else.
std::optional<float> typed_value(const std::string& text) {
    std::istringstream in(text);
    float value = 0.0F;
    if (!(in >> value) || in.peek() != std::istringstream::traits_type::eof()) {
        return std::nullopt;
    }
    return value;
}

}  // namespace

std::optional<RangeChoice> parse_range_choice(const std::string& text) {
    if (text == "term") {
        return RangeChoice{RangeChoice::term, {}};
    }
    if (text == "month") {
        return RangeChoice{RangeChoice::month, {}};
    }
    const std::size_t comma = text.find(',');
    if (comma == std::string::npos) {
        return std::nullopt;
    }
    const std::optional<float> minimum = typed_value(text.substr(0, comma));
    const std::optional<float> maximum = typed_value(text.substr(comma + 1));
    // Levels are positions in the span, which must be a float too: beyond
    // it (-3e38 to 3e38) every value would be drawn at level 0.
    if (!minimum || !maximum || *minimum >= *maximum || !std::isfinite(*maximum - *minimum)) {
        return std::nullopt;
    }
    return RangeChoice{RangeChoice::typed, {.maximum = *maximum, .minimum = *minimum}};
}

std::string range_text(ValueRange range) {
    char text[64];
    std::snprintf(text, sizeof text, "%.9g,%.9g", static_cast<double>(range.minimum),
                  static_cast<double>(range.maximum));
    return text;
}

std::string shortest_text(float value) {
    char text[64];
    const std::to_chars_result written = std::to_chars(text, text + sizeof text, value);
    return std::string(text, written.ptr);
}

std::optional<ValueRange> stretched_range(ValueRange found, Stretch stretch) {
    ValueRange range = found;
    range.stretch = stretch;
    if (stretch == Stretch::log && !(range.minimum > 0.0F)) {
        range.minimum = found.least_positive;
    }
    if (!(range.minimum < range.maximum)) {
        return std::nullopt;
    }
    return range;
}

std::string log_start_note(const std::string& whose, ValueRange found, ValueRange used) {
    if (used.stretch != Stretch::log || found.minimum == used.minimum) {
        return "";
    }
    return whose + " minimum is 0: the log stretch begins at the smallest discharge above 0, " +
           shortest_text(used.minimum) + ".";
}

std::optional<ValueRange> month_own_range(const TermSelection& selection, YearMonth month,
                                          DischargeFile& data, Failure& failure, Stretch stretch,
                                          std::string* note) {
    const ValueRange found = find_value_range(data, values_of_month(selection, month));
    close_discharge_file(data);
    const std::optional<ValueRange> stretched = stretched_range(found, stretch);
    if (!stretched) {
        failure = {"", "Maximun discharge <= Minimum discharge!", ""};
        return std::nullopt;
    }
    const ValueRange range = *stretched;
    if (note) {
        *note = log_start_note("the month's", found, range);
    }
    std::string reason;
    if (!open_term_month(data, selection, month, reason)) {
        failure = month_unreadable(month, reason);
        return std::nullopt;
    }
    return range;
}

std::optional<ValueRange> find_term_range(const TermSelection& selection, std::ostream& errors,
                                          Stretch stretch) {
    ValueRange range = RANGE_SEARCH_START;
    bool whole = true;
    for (const YearMonth month : selection.months) {
        DischargeFile data;
        std::string reason;
        const bool opened = open_term_month(data, selection, month, reason);
        if (opened) {
            range =
                widen_value_range(range, find_value_range(data, values_of_month(selection, month)));
        }
        // A pipe may still run short while it is read.
        if (opened && data.failed) {
            reason = "it ended before the month did";
        }
        if (!opened || data.failed) {
            errors << failure_text(month_unreadable(month, reason)) << std::endl;
            whole = false;
        }
    }
    if (!whole) {
        errors << "The range of the term needs every month of it: narrow the selection with "
                  "--from and --to, or give the range with --range."
               << std::endl;
        return std::nullopt;
    }
    const std::optional<ValueRange> stretched = stretched_range(range, stretch);
    if (!stretched) {
        if (stretch == Stretch::log && range.minimum < range.maximum) {
            errors << "The term's minimum is 0, and no discharge above 0 is below its maximum: a "
                      "log stretch has no range."
                   << std::endl;
        }
        errors << "Maximun discharge <= Minimum discharge!" << std::endl;
        return std::nullopt;
    }
    if (const std::string note = log_start_note("The term's", range, *stretched); !note.empty()) {
        errors << note << std::endl;
    }
    return stretched;
}

std::optional<ValueRange> chosen_term_range(const TermSelection& selection,
                                            const RangeChoice& choice, std::ostream& errors) {
    return choice.kind == RangeChoice::term ? find_term_range(selection, errors, choice.stretch)
                                            : std::optional(choice.typed_range);
}

int run_term_range(const std::string& from, const std::string& to, std::ostream& out,
                   std::ostream& errors, Stretch stretch) {
    int status = 0;
    const std::optional<TermSelection> selection = select_term(from, to, errors, status);
    if (!selection) {
        return status;
    }
    const std::optional<ValueRange> range = find_term_range(*selection, errors, stretch);
    if (!range) {
        return 1;
    }
    out << range_text(*range) << '\n';
    return output_written(out, errors) ? 0 : 1;
}

bool output_written(std::ostream& out, std::ostream& errors) {
    errno = 0;
    out.flush();
    if (out) {
        return true;
    }
    std::string reason;
    errors << "Standard output cannot write."
           << (system_write_reason(reason) ? " (" + reason + ")" : std::string()) << std::endl;
    return false;
}
