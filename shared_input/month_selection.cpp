// Console choice of the month to process, and the month lengths.
#include "run_input.h"

#include <istream>
#include <ostream>

#include "failure.h"
#include "output_file.h"

namespace {

// Formatted extraction of one answer; "Wrong values inputted!" when the
// answer is not a number of type T, does not fit it, or input has ended.
template <typename T>
std::optional<T> ask_number(std::istream& in, std::ostream& console) {
    T value{};
    if (in >> value) {
        return value;
    }
    if (in.eof()) {
        settle_ended_input();
    }
    print_failure(console, "Wrong values inputted!");
    return std::nullopt;
}

}  // namespace

std::optional<std::int32_t> ask_integer(std::istream& in, std::ostream& console) {
    return ask_number<std::int32_t>(in, console);
}

std::optional<float> ask_real(std::istream& in, std::ostream& console) {
    return ask_number<float>(in, console);
}

std::optional<YearMonth> ask_month(std::istream& in, std::ostream& console) {
    console << "Input year!" << std::endl;
    const std::optional<std::int32_t> year = ask_integer(in, console);
    if (!year) {
        return std::nullopt;
    }
    console << "Input month!" << std::endl;
    const std::optional<std::int32_t> month = ask_integer(in, console);
    if (!month) {
        return std::nullopt;
    }
    if (*month < 1 || *month > 12) {
        print_failure(console, "Month number is out of range!");
        return std::nullopt;
    }
    return YearMonth{*year, *month};
}

std::int32_t days_in_month(std::int32_t month) {
    if (month < 1 || month > 12) {
        return 0;
    }
    return MonthLengthTable[static_cast<std::size_t>(month - 1)];
}
