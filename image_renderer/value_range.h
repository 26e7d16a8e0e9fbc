// The range of the colour scale, and finding it in a month of discharge: the
// smallest and largest non-negative value of the whole month.
#ifndef DISCHARGE_IMAGE_RENDERER_VALUE_RANGE_H
#define DISCHARGE_IMAGE_RENDERER_VALUE_RANGE_H

#include <cstdint>
#include <limits>
#include <span>

#include "run_input.h"
#include "vector_kernel.h"

// How the levels of the colour ramp are spread between the ends of the
// range: by the square root of a value's position in it (discharge_image's
// ramp), in proportion to it, or to the position of its logarithm, which
// gives low flows as many levels as floods.
enum class Stretch : std::uint8_t { sqrt, linear, log };

// Discharge mapped to the ends of the colour ramp; minimum < maximum once
// the driver has checked it (and 0 < minimum for a log stretch). Build it
// with designated initialisers, {.maximum = ..., .minimum = ...}, so the two
// cannot be swapped unseen.
struct ValueRange {
    float maximum = 0.0F;
    float minimum = 0.0F;
    Stretch stretch = Stretch::sqrt;
    // The smallest value above zero that the search of a range found, where
    // a log stretch begins when the minimum found is zero; +infinity for none.
    float least_positive = std::numeric_limits<float>::infinity();
};

// Where the search of a month starts: a maximum below every counted value and
// a minimum of 10000, so that the minimum found is never above 10000.
inline constexpr ValueRange RANGE_SEARCH_START{.maximum = -1.0F, .minimum = 10000.0F};

// Widens `range` by another range found from RANGE_SEARCH_START, as if the
// values that gave `by` came after those that gave `range`: a term's range is
// its months' ranges widened in order.
ValueRange widen_value_range(ValueRange range, ValueRange by);

// Widens `range` by the non-negative values of `values`, exactly as taking
// them one at a time in order would: the larger of maximum and value becomes
// the maximum, the smaller of minimum and value the minimum, the smallest
// value above zero the least positive. Negative values and values that are
// not numbers are left out.
ValueRange widen_value_range(ValueRange range, std::span<const float> values);

// As widen_value_range(range, values), with `kernel`, which must be available.
ValueRange widen_value_range(ValueRange range, std::span<const float> values, VectorKernel kernel);

// The range of the non-negative values among the next `value_count` values of
// the file, from RANGE_SEARCH_START. Stops early, marking the file failed, if
// the data runs out.
ValueRange find_value_range(DischargeFile& data, std::uint64_t value_count);

#endif  // DISCHARGE_IMAGE_RENDERER_VALUE_RANGE_H
