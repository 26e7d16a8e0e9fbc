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

// Widens `range` by the non-negative values of `values`, exactly as taking
// them one at a time in order would: the larger of maximum and value becomes
// the maximum, the smaller of minimum and value the minimum. Negative values
// and values that are not numbers are left out.
ValueRange widen_value_range(ValueRange range, std::span<const float> values);

// The range of the non-negative values among the next `values` of the file,
// starting from maximum -1 and minimum 10000 (so the minimum never exceeds
// 10000). Values that are not numbers are left out. Stops early, marking the
// file failed, if the data runs out.
ValueRange find_value_range(DischargeFile& data, std::uint64_t values);

// Runs the whole dialogue with answers from `in` and messages to `console`,
// with paths relative to the working directory. Returns the exit status: 0
// after a complete run, 1 after a reported failure.
int run_discharge_image(std::istream& in, std::ostream& console);

#endif  // DISCHARGE_IMAGE_RENDERER_IMAGE_DRIVER_H
