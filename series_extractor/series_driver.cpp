#include "series_driver.h"

#include <istream>
#include <ostream>
#include <sstream>

#include "cell_series.h"
#include "output_file.h"
#include "run_input.h"

namespace {

int fail(std::ostream& console, const char* message) {
    console << message << std::endl;
    return 1;
}

// Asks for one cell coordinate and checks it against the grid's extent.
std::optional<std::int32_t> ask_coordinate(std::istream& in, std::ostream& console,
                                           const char* prompt, const char* origin,
                                           std::int32_t count, const char* out_of_range) {
    console << prompt << std::endl;
    console << origin << std::endl;
    const std::optional<std::int32_t> value = ask_integer(in, console);
    if (!value) {
        return std::nullopt;
    }
    if (*value > count || *value < 1) {
        fail(console, out_of_range);
        return std::nullopt;
    }
    return value;
}

}  // namespace

int run_discharge_series(std::istream& in, std::ostream& console) {
    const std::optional<RunParameters> parameters = read_run_parameters(console);
    if (!parameters) {
        return 1;
    }
    const std::int32_t ncols = parameters->ncols;
    const std::int32_t nrows = parameters->nrows;

    const std::optional<std::int32_t> column = ask_coordinate(
        in, console, "Input column number to extract data!",
        "Column number begins from 1 from east.", ncols, "Column number is out of range!");
    if (!column) {
        return 1;
    }
    const std::optional<std::int32_t> row = ask_coordinate(
        in, console, "Input row number to extract data!", "Row number begins from 1 from south.",
        nrows, "Row number is out of range!");
    if (!row) {
        return 1;
    }
    const GridCell cell{*column, *row};
    console << "Column number : " << cell.column << " Row number : " << cell.row << std::endl;

    const std::optional<YearMonth> month = ask_month(in, console);
    if (!month) {
        return 1;
    }
    const std::int32_t days = days_in_month(month->month);

    DischargeFile data;
    if (!open_discharge_file(data, month->year, month->month, console) ||
        !holds_month(data, days, nrows, ncols)) {
        return fail(console, "Daily discharge data cannot open.");
    }

    // The progress line ends in a carriage return only: the console stays on it.
    const std::string name = series_file_name(month->year, month->month, cell);
    console << "Write " << name << '\r' << std::flush;
    // The series appears under its name only once complete.
    OutputFile output;
    if (!create_output_file(output, name, true)) {
        return fail(console, "Time series discharge output file cannot open.");
    }

    std::vector<float> series;
    if (!read_cell_series(data, days, nrows, ncols, cell, series)) {
        discard_output_file(output);
        return fail(console, "Daily discharge data cannot open.");
    }
    close_discharge_file(data);

    std::ostringstream lines;
    write_cell_series(lines, *month, series);
    const std::string text = lines.str();
    if (!write_output_file(output, text.data(), text.size()) || !commit_output_file(output)) {
        return fail(console, "Time series discharge output file cannot write.");
    }
    return 0;
}
