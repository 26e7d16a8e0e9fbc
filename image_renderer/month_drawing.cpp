#include "month_drawing.h"

#include <cstdio>
#include <exception>
#include <new>
#include <optional>
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

// How reading a day ended. An exception is kept rather than thrown, so that
// a read on the helper thread reaches the calling thread, and at the day it
// belongs to.
struct DayRead {
    enum End { complete, ran_out, out_of_memory, thrown } end = complete;
    std::exception_ptr exception;  // for `thrown`
};

DayRead read_day(DischargeFile& data, ValueRange range, std::vector<float>& values,
                 LevelGrid& grid) noexcept {
    try {
        return {fill_level_grid(data, range, values, grid) ? DayRead::complete : DayRead::ran_out,
                nullptr};
    } catch (const std::bad_alloc&) {
        return {DayRead::out_of_memory, nullptr};
    } catch (...) {
        return {DayRead::thrown, std::current_exception()};
    }
}

// How the month ends at a day whose data was read as `day_read` tells, or
// nullopt if it goes on.
std::optional<DrawingOutcome> read_outcome(const DayRead& day_read) {
    switch (day_read.end) {
        case DayRead::complete:
            return std::nullopt;
        case DayRead::ran_out:
            return DrawingOutcome::data_ran_out;
        case DayRead::out_of_memory:
            return DrawingOutcome::out_of_memory;
        case DayRead::thrown:
            std::rethrow_exception(day_read.exception);
    }
    return std::nullopt;
}

// Starts reading the next day with `read_next` on a helper thread where the
// days are large enough to be worth it, else reads it now; no next day is
// read after the last. Returns the helper, joinable if there is one.
std::jthread start_reading_next(std::int32_t day, std::int32_t day_count, const DayCanvas& canvas,
                                const std::function<void()>& read_next) {
    std::jthread helper;
    if (day < day_count && canvas.values.size() >= OVERLAP_CELLS) {
        try {
            helper = std::jthread(read_next);
        } catch (const std::system_error&) {
            // No thread to be had: one thing after the other.
        } catch (const std::bad_alloc&) {
            // Nor memory for one: the same.
        }
    }
    if (day < day_count && !helper.joinable()) {
        read_next();
    }
    return helper;
}

// Creates the image that will appear as `name`: a PPM's header written, or
// empty for the caller's own writer.
bool create_day_image(OutputFile& image, const std::string& name, const DayCanvas& canvas,
                      const DayHooks& hooks) {
    return hooks.write ? create_output_file(image, name, false)
                       : open_discharge_image(image, name, canvas.grid.ncols, canvas.grid.nrows,
                                              canvas.scale);
}

// Draws `day`, whose levels were read into canvas.grid as `day_read` tells,
// and reads the next day into canvas.next_grid as `next_read` tells. Returns
// how the month ends at this day, or nullopt to go on.
std::optional<DrawingOutcome> draw_day(DischargeFile& data, YearMonth month, std::int32_t day,
                                       std::int32_t day_count, ValueRange range, DayCanvas& canvas,
                                       const DayHooks& hooks, const DayRead& day_read,
                                       DayRead& next_read, std::string& reason) {
    const std::function<void()> read_next = [&] {
        next_read = read_day(data, range, canvas.values, canvas.next_grid);
    };
    if (hooks.wanted && !hooks.wanted(day)) {
        const std::optional<DrawingOutcome> end = read_outcome(day_read);
        if (!end && day < day_count) {
            read_next();
        }
        return end;
    }
    const std::string name =
        hooks.name ? hooks.name(month, day) : image_file_name(month.year, month.month, day);
    if (hooks.before) {
        hooks.before(day, name);
    }
    // The image appears under its name only once complete: a failure, an
    // exception or an interruption leaves no part of it behind.
    OutputFile image;
    if (!create_day_image(image, name, canvas, hooks)) {
        reason = image.reason;
        return DrawingOutcome::image_not_created;
    }
    if (const std::optional<DrawingOutcome> end = read_outcome(day_read)) {
        return end;
    }
    std::jthread helper = start_reading_next(day, day_count, canvas, read_next);
    std::string failure;
    const bool written = hooks.write ? hooks.write(image, canvas.grid, month, day, failure) &&
                                           commit_output_file(image)
                                     : write_discharge_raster(image, canvas);
    if (helper.joinable()) {
        helper.join();
    }
    if (!written) {
        reason = failure.empty() ? image.reason : failure;
        return DrawingOutcome::image_not_written;
    }
    if (hooks.after && !hooks.after(day, name)) {
        return DrawingOutcome::stopped;
    }
    return std::nullopt;
}

}  // namespace

DrawingResult draw_month(DischargeFile& data, YearMonth month, std::int32_t day_count,
                         ValueRange range, DayCanvas& canvas, const DayHooks& hooks) {
    // While a day's image is written, which is mostly the system's work, a
    // helper thread reads the next day and computes its levels on the other
    // core. Each outcome is still reported at its day, in the order of a
    // plain loop: the progress line, the image created, the day's data, the
    // image written.
    DayRead day_read = read_day(data, range, canvas.values, canvas.grid);
    for (std::int32_t day = 1; day <= day_count; ++day) {
        DayRead next_read;
        std::string reason;
        try {
            const std::optional<DrawingOutcome> end = draw_day(
                data, month, day, day_count, range, canvas, hooks, day_read, next_read, reason);
            if (end) {
                return {*end, day, reason};
            }
        } catch (const std::bad_alloc&) {
            // The image under way was removed as the exception passed.
            return {DrawingOutcome::out_of_memory, day, ""};
        }
        std::swap(canvas.grid, canvas.next_grid);
        day_read = std::move(next_read);
    }
    return {DrawingOutcome::done, day_count, ""};
}
