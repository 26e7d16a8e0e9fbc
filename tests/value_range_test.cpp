#include "value_range.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <limits>
#include <vector>

namespace {

// The range pass taken one value at a time, the plain way.
ValueRange sequential_range(const std::vector<float>& values) {
    ValueRange range = RANGE_SEARCH_START;
    for (const float value : values) {
        if (value >= 0.0F) {
            range.maximum = std::max(range.maximum, value);
            range.minimum = std::min(range.minimum, value);
        }
    }
    return range;
}

}  // namespace

TEST(WidenValueRange, SameBitsAsASequentialScanWhateverTheBlocks) {
    // Values drawn from a small set that holds both zeros, missing marks, a
    // NaN, an infinity and values above 10000, in random orders and lengths,
    // fed in random blocks.
    const float pool[] = {0.0F,
                          -0.0F,
                          -999.0F,
                          -1.0F,
                          0.5F,
                          3.0F,
                          20000.0F,
                          1e-30F,
                          7.0F,
                          std::numeric_limits<float>::quiet_NaN(),
                          std::numeric_limits<float>::infinity(),
                          10000.0F};
    std::uint32_t seed = 12345;
    auto next = [&seed](std::uint32_t bound) {
        seed = seed * 1664525U + 1013904223U;
        return (seed >> 8) % bound;
    };
    for (int trial = 0; trial < 2000; ++trial) {
        std::vector<float> values(next(200));
        const std::uint32_t kinds = 1 + next(std::size(pool));
        for (float& value : values) {
            value = pool[(next(kinds) + static_cast<std::uint32_t>(trial)) % std::size(pool)];
        }
        const ValueRange expected = sequential_range(values);
        // Every kernel this processor has, fed the same blocks.
        const std::uint32_t blocks_seed = seed;
        for (const VectorKernel kernel : {VectorKernel::baseline, VectorKernel::avx2}) {
            if (!vector_kernel_available(kernel)) {
                continue;
            }
            seed = blocks_seed;
            ValueRange range = RANGE_SEARCH_START;
            for (std::size_t start = 0; start < values.size();) {
                const std::size_t length = std::min<std::size_t>(values.size() - start, next(70));
                range = widen_value_range(
                    range, std::span<const float>(values.data() + start, length), kernel);
                start += length;
            }
            EXPECT_EQ(std::bit_cast<std::uint32_t>(range.maximum),
                      std::bit_cast<std::uint32_t>(expected.maximum))
                << "trial " << trial << ", kernel " << static_cast<int>(kernel);
            EXPECT_EQ(std::bit_cast<std::uint32_t>(range.minimum),
                      std::bit_cast<std::uint32_t>(expected.minimum))
                << "trial " << trial << ", kernel " << static_cast<int>(kernel);
        }
    }
}
