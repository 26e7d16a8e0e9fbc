#include "month_drawing.h"

#include <cstdio>

std::string image_file_name(std::int32_t year, std::int32_t month, std::int32_t day) {
    char name[96];
    std::snprintf(name, sizeof name, "./image/%04d%02d_%4d_discharge.ppm", static_cast<int>(year),
                  static_cast<int>(month), static_cast<int>(day));
    return name;
}

DrawingResult draw_month(DischargeFile& data, YearMonth month, std::int32_t day_count,
                         ValueRange range, DayCanvas& canvas, const BeforeDay& before_day) {
    for (std::int32_t day = 1; day <= day_count; ++day) {
        const std::string name = image_file_name(month.year, month.month, day);
        before_day(day, name);
        // The image appears under its name only once complete: a failure or
        // an interruption leaves no part of it behind.
        OutputFile image;
        if (!open_discharge_image(image, name, canvas.grid.ncols, canvas.grid.nrows)) {
            return {DrawingOutcome::image_not_created, day};
        }
        if (!fill_level_grid(data, range, canvas)) {
            return {DrawingOutcome::data_ran_out, day};
        }
        if (!write_discharge_raster(image, canvas)) {
            return {DrawingOutcome::image_not_written, day};
        }
    }
    return {DrawingOutcome::done, day_count};
}
