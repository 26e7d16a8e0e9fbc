#include "series_driver.h"

#include <istream>
#include <ostream>
#include <sstream>

#include "cell_series.h"
#include "failure.h"
#include "output_file.h"
#include "run_input.h"

namespace {

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
        print_failure(console, out_of_range);
        return std::nullopt;
    }
    return value;
}

// Asks for the cell, column first, and repeats it once both are in the grid.
// Returns nullopt after printing why an answer was refused. The prompts keep
// their words: column 1 is called the east end, though images draw it west.
std::optional<GridCell> ask_cell(std::istream& in, std::ostream& console,
                                 const RunParameters& grid) {
    const std::optional<std::int32_t> column = ask_coordinate(
        in, console, "Input column number to extract data!",
        "Column number begins from 1 from east.", grid.ncols, "Column number is out of range!");
    if (!column) {
        return std::nullopt;
    }
    const std::optional<std::int32_t> row = ask_coordinate(
        in, console, "Input row number to extract data!", "Row number begins from 1 from south.",
        grid.nrows, "Row number is out of range!");
    if (!row) {
        return std::nullopt;
    }
    console << "Column number : " << *column << " Row number : " << *row << std::endl;
    return GridCell{*column, *row};
}

// Reads the cell's value for every day of the open month and writes them as
// the series file `name`, which appears only once complete.
int write_series_file(std::ostream& console, DischargeFile& data, const RunParameters& grid,
                      YearMonth month, GridCell cell, const std::string& name) {
    OutputFile output;
    if (!create_output_file(output, name, true)) {
        return fail(console, "Time series discharge output file cannot open.");
    }
    std::vector<float> series;
    if (!read_cell_series(data, days_in_month(month.month), grid.nrows, grid.ncols, cell, series)) {
        return fail(console, "Daily discharge data cannot open.", output);
    }
    close_discharge_file(data);

    std::ostringstream lines;
    write_cell_series(lines, month, series);
    const std::string text = lines.str();
    if (!write_output_file(output, text.data(), text.size()) || !commit_output_file(output)) {
        return fail(console, "Time series discharge output file cannot write.");
    }
    return 0;
}

}  // namespace

int run_discharge_series(std::istream& in, std::ostream& console) {
    const std::optional<RunParameters> parameters = read_run_parameters(console);
    if (!parameters) {
        return 1;
    }
    const std::optional<GridCell> cell = ask_cell(in, console, *parameters);
    if (!cell) {
        return 1;
    }
    const std::optional<YearMonth> month = ask_month(in, console);
    if (!month) {
        return 1;
    }
    DischargeFile data;
    if (!open_discharge_file(data, month->year, month->month, console) ||
        !holds_month(data, days_in_month(month->month), parameters->nrows, parameters->ncols)) {
        return fail(console, "Daily discharge data cannot open.");
    }
    // The progress line ends in a carriage return only: the console stays on it.
    const std::string name = series_file_name(month->year, month->month, *cell);
    console << "Write " << name << '\r' << std::flush;
    return write_series_file(console, data, *parameters, *month, *cell, name);
}
