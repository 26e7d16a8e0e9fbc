// The discharge_image driver. Its texts are the ones users have always seen,
// misspellings included ("Maximun", "minimun"): their scripts match on them.
#include "image_driver.h"

#include <cstdio>
#include <istream>
#include <limits>
#include <ostream>

#include "failure.h"
#include "month_drawing.h"
#include "value_range.h"

namespace {

// The drawing pass has no complete month to read. The user is asked to
// acknowledge before the program ends.
int fail_drawing_data(std::istream& in, std::ostream& console) {
    console << "Discharge data cannot open." << std::endl;
    console << std::endl;
    console << "Program ends. Hit any key!" << std::endl;
    if (in.get() == std::istream::traits_type::eof()) {
        settle_ended_input();
    }
    return 1;
}

// The range typed by the user, or nullopt after "Wrong values inputted!".
std::optional<ValueRange> ask_value_range(std::istream& in, std::ostream& console) {
    console << "Input maximum value : " << std::flush;
    const std::optional<float> maximum = ask_real(in, console);
    if (!maximum) {
        return std::nullopt;
    }
    console << "Input minimum value : " << std::flush;
    const std::optional<float> minimum = ask_real(in, console);
    if (!minimum) {
        return std::nullopt;
    }
    if (*minimum >= *maximum) {
        print_failure(console, "Wrong values inputted!");
        return std::nullopt;
    }
    return ValueRange{.maximum = *maximum, .minimum = *minimum};
}

// Asks whether the user types the range; otherwise finds it in the month.
// Returns nullopt after printing why there is none.
std::optional<ValueRange> choose_value_range(std::istream& in, std::ostream& console,
                                             DischargeFile& data, std::int32_t day_count,
                                             const RunParameters& grid) {
    console << std::endl;
    console << "Do you want to set the maximum and minimun values of rainfall intensity? (y/n)"
            << std::endl;
    std::string answer;
    if (!(in >> answer)) {
        settle_ended_input();
    }
    // Only a lone lower-case y counts as yes.
    if (answer == "y") {
        return ask_value_range(in, console);
    }
    // A month too large to count cannot be in the file: read until it ends.
    return find_value_range(data, month_value_count(day_count, grid.nrows, grid.ncols)
                                      .value_or(std::numeric_limits<std::uint64_t>::max()));
}

// Draws each day of the month from the open file into its own image,
// rewriting one progress line, and words how it ended.
int draw_images(std::istream& in, std::ostream& console, DischargeFile& data, YearMonth month,
                std::int32_t day_count, ValueRange range, DayCanvas& canvas) {
    DayHooks hooks;
    hooks.before = [&console](std::int32_t, const std::string& name) {
        // Each day's progress line overwrites the last one.
        console << "Write " << name << '\r' << std::flush;
    };
    const DrawingResult result = draw_month(data, month, day_count, range, canvas, hooks);
    switch (result.outcome) {
        case DrawingOutcome::image_not_created:
            return fail(console, "Image output file cannot open.");
        case DrawingOutcome::data_ran_out:
            return fail_drawing_data(in, console);
        case DrawingOutcome::image_not_written:
            return fail(console, "Image output file cannot write.");
        case DrawingOutcome::out_of_memory:
            return fail(console, "Not enough memory to draw the images.");
        case DrawingOutcome::done:
        case DrawingOutcome::stopped:  // no hook asks to stop here
            break;
    }
    console << std::endl;
    console << "Program ends!" << std::endl;
    return 0;
}

}  // namespace

int run_discharge_image(std::istream& in, std::ostream& console) {
    const std::optional<RunParameters> parameters = read_run_parameters(console);
    if (!parameters) {
        return 1;
    }
    const std::optional<YearMonth> month = ask_month(in, console);
    if (!month) {
        return 1;
    }
    DischargeFile data;
    if (!open_discharge_file(data, month->year, month->month, console)) {
        return fail(console, "Daily discharge data cannot open.");
    }
    const std::int32_t day_count = days_in_month(month->month);

    const std::optional<ValueRange> range =
        choose_value_range(in, console, data, day_count, *parameters);
    close_discharge_file(data);
    if (!range) {
        return 1;
    }
    if (range->minimum >= range->maximum) {
        return fail(console, "Maximun discharge <= Minimum discharge!");
    }
    console << "Maximun discharge = " << discharge_text(range->maximum)
            << " Minimum discharge = " << discharge_text(range->minimum) << std::endl;

    // The drawing pass reads the month again, and only a whole month.
    if (!open_discharge_file(data, month->year, month->month, console) ||
        !holds_month(data, day_count, parameters->nrows, parameters->ncols)) {
        return fail_drawing_data(in, console);
    }
    std::optional<DayCanvas> canvas = make_day_canvas(parameters->ncols, parameters->nrows);
    if (!canvas) {
        return fail(console, "Not enough memory to draw the images.");
    }
    return draw_images(in, console, data, *month, day_count, *range, *canvas);
}
