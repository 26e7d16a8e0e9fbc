// The chunks of a NetCDF-4 file made on worker threads: values quantized as
// netCDF-C quantizes them (the expected values are those the library
// stores, but where it goes wrong), and chunks that inflate and unshuffle
// to the grids' values, the fill value beyond their edges.
#include "netcdf_chunks.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <bit>
#include <cmath>
#include <limits>
#include <vector>

namespace {

constexpr float FILL = -999.0F;

TEST(Quantize, KeepsTheDigitsAsNetcdfCDoes) {
    const float denormal = std::bit_cast<float>(std::uint32_t{0x000116c2});
    const struct {
        float value;
        int digits;
        float kept;
    } cases[] = {
        {1234.5678F, 3, 1232.0F},
        {1234.5678F, 1, 1024.0F},
        {0.999999F, 1, 1.0F},  // rounded up into the next power of two
        {-0.0123456F, 2, -0.0126953125F},
        {3.14159265F, 6, 0x1.921fcp+1F},
        {65504.0F, 4, 65504.0F},
        {0.1F, 7, 0x1.9999ap-4F},
        {denormal, 3, 0x1.2p-133F},
        // netCDF-C 4.9 turns these into 0, 2 and -0 (a shift by a negative
        // count): kept here.
        {0.5F, 7, 0.5F},
        {1.0F, 7, 1.0F},
        {8.0F, 7, 8.0F},
    };
    for (const auto& c : cases) {
        std::vector<float> values{c.value};
        quantize_granular_bitround(values, c.digits, FILL);
        EXPECT_EQ(std::bit_cast<std::uint32_t>(values[0]), std::bit_cast<std::uint32_t>(c.kept))
            << c.value << " to " << c.digits << " digits: " << values[0];
    }
}

TEST(Quantize, LeavesZeroTheFillAndWhatIsNotFinite) {
    const float infinity = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const std::vector<float> kept{0.0F, -0.0F, FILL, infinity, -infinity, nan};
    for (int digits = 1; digits <= 7; ++digits) {
        std::vector<float> values = kept;
        quantize_granular_bitround(values, digits, FILL);
        for (std::size_t i = 0; i < kept.size(); ++i) {
            EXPECT_EQ(std::bit_cast<std::uint32_t>(values[i]),
                      std::bit_cast<std::uint32_t>(kept[i]))
                << kept[i] << " to " << digits << " digits";
        }
    }
}

// The chunk's floats, inflated and, where shuffled, unshuffled.
std::vector<float> decoded(const std::vector<unsigned char>& chunk, std::size_t count,
                           bool shuffled) {
    std::vector<unsigned char> bytes(count * sizeof(float));
    uLongf length = static_cast<uLongf>(bytes.size());
    EXPECT_EQ(uncompress(bytes.data(), &length, chunk.data(), static_cast<uLong>(chunk.size())),
              Z_OK);
    EXPECT_EQ(length, bytes.size());
    std::vector<float> values(count);
    auto* to = reinterpret_cast<unsigned char*>(values.data());
    for (std::size_t i = 0; i < count; ++i) {
        for (std::size_t b = 0; b < sizeof(float); ++b) {
            to[i * sizeof(float) + b] =
                shuffled ? bytes[b * count + i] : bytes[i * sizeof(float) + b];
        }
    }
    return values;
}

// Three days of 3 x 5 grids, value 100 day + 10 row + column, in chunks of
// 2 days of 2 x 3: the chunk at row 2, column 3 holds one row and two
// columns of the grid, the last time chunk one day.
TEST(EncodeChunk, HoldsTheGridsValuesAndTheFillBeyondThem) {
    std::vector<float> grids;
    for (int day = 0; day < 3; ++day) {
        for (int row = 0; row < 3; ++row) {
            for (int col = 0; col < 5; ++col) {
                grids.push_back(static_cast<float>(100 * day + 10 * row + col));
            }
        }
    }
    const float f = FILL;
    const struct {
        std::size_t first_day;
        std::size_t held;
        ChunkPlace place;
        bool shuffle;
        std::vector<float> values;
    } cases[] = {
        {0, 2, {0, 0}, false, {0, 1, 2, 10, 11, 12, 100, 101, 102, 110, 111, 112}},
        {0, 2, {2, 3}, true, {23, 24, f, f, f, f, 123, 124, f, f, f, f}},
        {2, 1, {0, 3}, true, {203, 204, f, 213, 214, f, f, f, f, f, f, f}},
    };
    ChunkScratch scratch;
    for (const auto& c : cases) {
        const ChunkCoding coding{.days = 2,
                                 .rows = 2,
                                 .cols = 3,
                                 .shuffle = c.shuffle,
                                 .deflate = 1,
                                 .digits = std::nullopt,
                                 .fill = FILL};
        std::vector<unsigned char> chunk;
        const std::span<const float> days(grids.data() + c.first_day * 15, c.held * 15);
        encode_chunk(coding, days, c.held, 3, 5, c.place, chunk, scratch);
        EXPECT_EQ(decoded(chunk, 12, c.shuffle), c.values)
            << "day " << c.first_day << ", row " << c.place.row << ", column " << c.place.col;
    }
}

}  // namespace
