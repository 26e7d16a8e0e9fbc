// Drawing a whole month: one image a day, from a monthly file opened for the
// drawing pass. Shared by discharge_image and the whole-term program, each of
// which words the outcome in its own way.
#ifndef DISCHARGE_IMAGE_RENDERER_MONTH_DRAWING_H
#define DISCHARGE_IMAGE_RENDERER_MONTH_DRAWING_H

#include <cstdint>
#include <functional>
#include <string>

#include "discharge_image.h"

// "./image/%04d%02d_%4d_discharge.ppm" filled with year, month and day: the
// day right-aligned in four characters.
std::string image_file_name(std::int32_t year, std::int32_t month, std::int32_t day);

// How drawing a month ended.
enum class DrawingOutcome {
    done,               // every day's image is under its name
    data_ran_out,       // the month ended before its last day was complete
    image_not_created,  // a day's image could not be created
    image_not_written,  // a day's image could not be written whole
    out_of_memory,      // memory ran out while a day was read or drawn
    stopped,            // DayHooks::after asked to stop
};

struct DrawingResult {
    DrawingOutcome outcome = DrawingOutcome::done;
    std::int32_t day = 0;  // the day being drawn when it ended; the last day when done
    std::string reason;    // the system's words, for an image not created or not written
};

// Called before each day is drawn, with the day and its image's name.
using BeforeDay = std::function<void(std::int32_t day, const std::string& image_name)>;

// What the caller of draw_month() has to say about each day; each may be
// empty.
struct DayHooks {
    // Whether the day is drawn; a day that is not is read past. Empty: every
    // day is.
    std::function<bool(std::int32_t day)> wanted;
    // Called before a day is drawn.
    BeforeDay before;
    // Called once the day's image is complete under its name; false stops
    // the drawing there, with DrawingOutcome::stopped.
    std::function<bool(std::int32_t day, const std::string& image_name)> after;
    // The name of a day's image. Empty: image_file_name().
    std::function<std::string(YearMonth month, std::int32_t day)> name;
    // Writes the whole image of a day's levels into `image`, created and
    // empty; false once it failed, with `reason` set where `image.reason`
    // does not tell. Empty: a PPM at the canvas's scale.
    std::function<bool(OutputFile& image, const LevelGrid& grid, YearMonth month, std::int32_t day,
                       std::string& reason)>
        write;
};

// Draws days 1 to `day_count` of `month` from `data`, positioned at the
// start of the month, each into its image under ./image/, with the colours
// of `range`. Stops at the first day that fails, leaving no part of its
// image behind; the images of earlier days stay. Reads each day while the
// one before is being written, on a thread of its own: what goes wrong in
// reading a day is reported at that day, on the calling thread, as in a
// plain loop. Memory running out is an outcome too; any other exception
// passes to the caller, also one thrown in reading on the other thread.
DrawingResult draw_month(DischargeFile& data, YearMonth month, std::int32_t day_count,
                         ValueRange range, DayCanvas& canvas, const DayHooks& hooks);

#endif  // DISCHARGE_IMAGE_RENDERER_MONTH_DRAWING_H
