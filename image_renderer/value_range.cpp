// Finding the range of the colour scale in a month of discharge.
#include "value_range.h"

#include <algorithm>
#include <array>
#include <limits>
#include <vector>

#include "vector_kernel.h"

namespace {

constexpr std::size_t LANES = 16;
using Lanes = std::array<float, LANES>;

// What the lanes found, and how many values they scanned.
struct LaneRanges {
    Lanes high;
    Lanes low;
    Lanes positive;  // the least value above zero
    std::size_t scanned = 0;
};

constexpr float NO_POSITIVE = std::numeric_limits<float>::infinity();

// The scan of the whole groups of sixteen values, sixteen independent lanes
// that the compiler vectorises, each kernel for its vector units. Left-out
// values count as the start values, which never change a lane (a maximum is
// never below -1, a minimum never above 10000). The lanes are local, so that
// no store to them can alias the values.
[[gnu::always_inline]] inline LaneRanges scan_lanes(std::span<const float> values) {
    Lanes high;
    Lanes low;
    Lanes positive;
    high.fill(RANGE_SEARCH_START.maximum);
    low.fill(RANGE_SEARCH_START.minimum);
    positive.fill(NO_POSITIVE);
    std::size_t i = 0;
    for (; i + LANES <= values.size(); i += LANES) {
        for (std::size_t lane = 0; lane < LANES; ++lane) {
            const float value = values[i + lane];
            const bool counted = value >= 0.0F;
            const float up = counted ? value : RANGE_SEARCH_START.maximum;
            const float down = counted ? value : RANGE_SEARCH_START.minimum;
            const float above_zero = value > 0.0F ? value : NO_POSITIVE;
            high[lane] = high[lane] < up ? up : high[lane];
            low[lane] = down < low[lane] ? down : low[lane];
            positive[lane] = above_zero < positive[lane] ? above_zero : positive[lane];
        }
    }
    return {high, low, positive, i};
}

LaneRanges scan_lanes_baseline(std::span<const float> values) {
    return scan_lanes(values);
}

DISCHARGE_AVX2 LaneRanges scan_lanes_avx2(std::span<const float> values) {
    return scan_lanes(values);
}

// The range of one block of values, as a sequential scan from
// RANGE_SEARCH_START finds it.
ValueRange block_value_range(std::span<const float> values, VectorKernel kernel) {
    const LaneRanges lanes =
        kernel == VectorKernel::avx2 ? scan_lanes_avx2(values) : scan_lanes_baseline(values);
    const Lanes& high = lanes.high;
    const Lanes& low = lanes.low;
    std::size_t i = lanes.scanned;
    ValueRange range = RANGE_SEARCH_START;
    for (std::size_t lane = 0; lane < LANES; ++lane) {
        range.maximum = std::max(range.maximum, high[lane]);
        range.minimum = std::min(range.minimum, low[lane]);
        range.least_positive = std::min(range.least_positive, lanes.positive[lane]);
    }
    for (; i < values.size(); ++i) {
        if (values[i] >= 0.0F) {
            range.maximum = std::max(range.maximum, values[i]);
            range.minimum = std::min(range.minimum, values[i]);
        }
        if (values[i] > 0.0F) {
            range.least_positive = std::min(range.least_positive, values[i]);
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

ValueRange widen_value_range(ValueRange range, ValueRange by) {
    // A part that held no counted value keeps the start values, which do not
    // change the range either. On a tie (+0 and -0) the earlier value stays,
    // as in a scan of all the values in order.
    range.maximum = std::max(range.maximum, by.maximum);
    range.minimum = std::min(range.minimum, by.minimum);
    range.least_positive = std::min(range.least_positive, by.least_positive);
    return range;
}

ValueRange widen_value_range(ValueRange range, std::span<const float> values) {
    return widen_value_range(range, values, widest_vector_kernel());
}

ValueRange widen_value_range(ValueRange range, std::span<const float> values, VectorKernel kernel) {
    return widen_value_range(range, block_value_range(values, kernel));
}

ValueRange find_value_range(DischargeFile& data, std::uint64_t value_count) {
    // 256 KB blocks: large reads, and a block stays in cache while scanned.
    ValueRange range = RANGE_SEARCH_START;
    std::vector<float> block(
        static_cast<std::size_t>(std::min<std::uint64_t>(value_count, 1U << 16)));
    while (value_count > 0) {
        const std::size_t wanted =
            static_cast<std::size_t>(std::min<std::uint64_t>(value_count, block.size()));
        const std::size_t got = read_discharge_values(data, std::span<float>(block.data(), wanted));
        range = widen_value_range(range, std::span<const float>(block.data(), got));
        if (got < wanted) {
            break;
        }
        value_count -= wanted;
    }
    return range;
}
