#include "image_driver.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <istream>
#include <ostream>
#include <vector>

namespace {

int fail(std::ostream& console, const char* message) {
    console << message << std::endl;
    return 1;
}

// The drawing pass has no complete month to read. The user is asked to
// acknowledge before the program ends.
int fail_drawing_data(std::istream& in, std::ostream& console) {
    console << "Discharge data cannot open." << std::endl;
    console << std::endl;
    console << "Program ends. Hit any key!" << std::endl;
    in.get();
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
        fail(console, "Wrong values inputted!");
        return std::nullopt;
    }
    return ValueRange{*maximum, *minimum};
}

}  // namespace

std::string image_file_name(std::int32_t year, std::int32_t month, std::int32_t day) {
    char name[96];
    std::snprintf(name, sizeof name, "./image/%04d%02d_%4d_discharge.ppm", static_cast<int>(year),
                  static_cast<int>(month), static_cast<int>(day));
    return name;
}

namespace {

constexpr ValueRange RANGE_PASS_START{-1.0F, 10000.0F};

// The range of one block of values, as a sequential scan from
// RANGE_PASS_START finds it. Sixteen independent lanes let the compiler
// vectorise the scan; left-out values count as the start values, which never
// change a lane (a maximum is never below -1, a minimum never above 10000).
ValueRange block_value_range(std::span<const float> values) {
    constexpr std::size_t LANES = 16;
    std::array<float, LANES> high;
    std::array<float, LANES> low;
    high.fill(RANGE_PASS_START.maximum);
    low.fill(RANGE_PASS_START.minimum);
    std::size_t i = 0;
    for (; i + LANES <= values.size(); i += LANES) {
        for (std::size_t lane = 0; lane < LANES; ++lane) {
            const float value = values[i + lane];
            const bool counted = value >= 0.0F;
            const float up = counted ? value : RANGE_PASS_START.maximum;
            const float down = counted ? value : RANGE_PASS_START.minimum;
            high[lane] = high[lane] < up ? up : high[lane];
            low[lane] = down < low[lane] ? down : low[lane];
        }
    }
    ValueRange range = RANGE_PASS_START;
    for (std::size_t lane = 0; lane < LANES; ++lane) {
        range.maximum = std::max(range.maximum, high[lane]);
        range.minimum = std::min(range.minimum, low[lane]);
    }
    for (; i < values.size(); ++i) {
        if (values[i] >= 0.0F) {
            range.maximum = std::max(range.maximum, values[i]);
            range.minimum = std::min(range.minimum, values[i]);
        }
    }
    // Lanes agree with the sequential scan on every value but the sign of a
    // zero: the scan keeps the first zero it meets, +0 or -0.
    if (range.minimum == 0.0F) {
        const float first_zero = *std::find(values.begin(), values.end(), 0.0F);
        range.minimum = first_zero;
        if (range.maximum == 0.0F) {
            range.maximum = first_zero;
        }
    }
    return range;
}

}  // namespace

ValueRange widen_value_range(ValueRange range, std::span<const float> values) {
    const ValueRange block = block_value_range(values);
    // A block that holds no counted value keeps the start values, which do
    // not change the range either.
    range.maximum = std::max(range.maximum, block.maximum);
    range.minimum = std::min(range.minimum, block.minimum);
    return range;
}

ValueRange find_value_range(DischargeFile& data, std::uint64_t values) {
    ValueRange range = RANGE_PASS_START;
    std::vector<float> block(static_cast<std::size_t>(std::min<std::uint64_t>(values, 1U << 16)));
    while (values > 0) {
        const std::size_t wanted =
            static_cast<std::size_t>(std::min<std::uint64_t>(values, block.size()));
        const std::size_t got = read_discharge_values(data, std::span<float>(block.data(), wanted));
        range = widen_value_range(range, std::span<const float>(block.data(), got));
        if (got < wanted) {
            break;
        }
        values -= wanted;
    }
    return range;
}

namespace {

// Asks whether the user types the range; otherwise finds it in the month.
// Returns nullopt after printing why there is none.
std::optional<ValueRange> choose_value_range(std::istream& in, std::ostream& console,
                                             DischargeFile& data, std::int32_t days,
                                             const RunParameters& grid) {
    console << std::endl;
    console << "Do you want to set the maximum and minimun values of rainfall intensity? (y/n)"
            << std::endl;
    std::string answer;
    in >> answer;
    // Only a lone lower-case y counts as yes.
    if (answer == "y") {
        return ask_value_range(in, console);
    }
    // A month too large to count cannot be in the file: read until it ends.
    return find_value_range(data, month_value_count(days, grid.nrows, grid.ncols)
                                      .value_or(std::numeric_limits<std::uint64_t>::max()));
}

// Draws each day of the month from the open file into its own image.
int draw_month(std::istream& in, std::ostream& console, DischargeFile& data, YearMonth month,
               std::int32_t days, ValueRange range, DayCanvas& canvas) {
    for (std::int32_t day = 1; day <= days; ++day) {
        // Each day's progress line overwrites the last one.
        const std::string name = image_file_name(month.year, month.month, day);
        console << "Write " << name << '\r' << std::flush;
        // The image appears under its name only once complete: a failure or
        // an interruption leaves no part of it behind.
        OutputFile image;
        if (!open_discharge_image(image, name, canvas.grid.ncols, canvas.grid.nrows)) {
            return fail(console, "Image output file cannot open.");
        }
        if (!fill_level_grid(data, range, canvas)) {
            discard_output_file(image);
            return fail_drawing_data(in, console);
        }
        if (!write_discharge_raster(image, canvas)) {
            return fail(console, "Image output file cannot write.");
        }
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
    const std::int32_t days = days_in_month(month->month);

    const std::optional<ValueRange> range =
        choose_value_range(in, console, data, days, *parameters);
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
        !holds_month(data, days, parameters->nrows, parameters->ncols)) {
        return fail_drawing_data(in, console);
    }
    std::optional<DayCanvas> canvas = make_day_canvas(parameters->ncols, parameters->nrows);
    if (!canvas) {
        return fail(console, "Not enough memory to draw the images.");
    }
    return draw_month(in, console, data, *month, days, *range, *canvas);
}
