// The discharge_image program: asks for a month and an optional value range
// and draws every day of the month as a colour image in ./image/.
#ifndef DISCHARGE_IMAGE_RENDERER_IMAGE_DRIVER_H
#define DISCHARGE_IMAGE_RENDERER_IMAGE_DRIVER_H

#include <cstdint>
#include <iosfwd>
#include <string>

#include "discharge_image.h"

// "./image/%04d%02d_%4d_discharge.ppm" filled with year, month and day: the
// day right-aligned in four characters.
std::string image_file_name(std::int32_t year, std::int32_t month, std::int32_t day);

// Runs the whole dialogue with answers from `in` and messages to `console`,
// with paths relative to the working directory. Returns the exit status: 0
// after a complete run, 1 after a reported failure.
int run_discharge_image(std::istream& in, std::ostream& console);

#endif  // DISCHARGE_IMAGE_RENDERER_IMAGE_DRIVER_H
