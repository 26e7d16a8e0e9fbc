#include "month_drawing.h"

#include <cstdio>
#include <system_error>
#include <thread>
#include <utility>

std::string image_file_name(std::int32_t year, std::int32_t month, std::int32_t day) {
    char name[96];
    std::snprintf(name, sizeof name, "./image/%04d%02d_%4d_discharge.ppm", static_cast<int>(year),
                  static_cast<int>(month), static_cast<int>(day));
    return name;
}

namespace {

// Days of fewer cells are read and levelled in less time than a thread takes
// to start: those are read between the images instead.
constexpr std::size_t OVERLAP_CELLS = 16384;

}  // namespace

DrawingResult draw_month(DischargeFile& data, YearMonth month, std::int32_t day_count,
                         ValueRange range, DayCanvas& canvas, const BeforeDay& before_day) {
    // While a day's image is written, which is mostly the system's work, a
    // helper thread reads the next day and computes its levels on the other
    // core. Each outcome is still reported at its day, in the order of a
    // plain loop: the progress line, the image created, the day's data, the
    // image written.
    bool day_read = fill_level_grid(data, range, canvas);
    for (std::int32_t day = 1; day <= day_count; ++day) {
        const std::string name = image_file_name(month.year, month.month, day);
        before_day(day, name);
        // The image appears under its name only once complete: a failure or
        // an interruption leaves no part of it behind.
        OutputFile image;
        if (!open_discharge_image(image, name, canvas.grid.ncols, canvas.grid.nrows)) {
            return {DrawingOutcome::image_not_created, day};
        }
        if (!day_read) {
            return {DrawingOutcome::data_ran_out, day};
        }
        bool next_read = false;
        const auto read_next = [&] {
            next_read = fill_level_grid(data, range, canvas.values, canvas.next_grid);
        };
        std::jthread helper;
        if (day < day_count && canvas.values.size() >= OVERLAP_CELLS) {
            try {
                helper = std::jthread(read_next);
            } catch (const std::system_error&) {
                // No thread to be had: one thing after the other.
            }
        }
        if (day < day_count && !helper.joinable()) {
            read_next();
        }
        const bool written = write_discharge_raster(image, canvas);
        if (helper.joinable()) {
            helper.join();
        }
        if (!written) {
            return {DrawingOutcome::image_not_written, day};
        }
        std::swap(canvas.grid, canvas.next_grid);
        day_read = next_read;
    }
    return {DrawingOutcome::done, day_count};
}
