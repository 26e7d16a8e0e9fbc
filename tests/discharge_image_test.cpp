#include "discharge_image.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <random>
#include <sstream>

namespace {

constexpr std::int32_t INT32_LIMIT = std::numeric_limits<std::int32_t>::max();
const ValueRange PERCENT{.maximum = 100.0F, .minimum = 0.0F};

std::string pixels(Rgb colour, std::size_t count) {
    std::string bytes;
    for (std::size_t i = 0; i < count; ++i) {
        bytes += {static_cast<char>(colour.red), static_cast<char>(colour.green),
                  static_cast<char>(colour.blue)};
    }
    return bytes;
}

LevelGrid grid_of(std::int32_t ncols, std::int32_t nrows, std::vector<std::int32_t> levels) {
    return LevelGrid{ncols, nrows, std::move(levels)};
}

// The raster at `scale` written with room for `buffer_bytes` of pixel rows,
// as one string, by `kernel`.
std::string raster_of(const LevelGrid& grid, std::size_t buffer_bytes = 1 << 20,
                      VectorKernel kernel = VectorKernel::baseline,
                      std::uint32_t scale = BLOCK_SIZE) {
    std::vector<char> pixel_rows(buffer_bytes);
    std::string raster;
    const bool written = write_raster(
        grid, scale, pixel_rows,
        [&raster](std::span<const std::span<const char>> pieces) {
            for (const std::span<const char> piece : pieces) {
                raster.append(piece.data(), piece.size());
            }
            return true;
        },
        kernel);
    EXPECT_TRUE(written);
    return raster;
}

}  // namespace

TEST(LevelColour, RampAtItsTellingPointsAndBoundaries) {
    const struct {
        std::int32_t level;
        Rgb colour;
    } cases[] = {
        {std::numeric_limits<std::int32_t>::min(), {0, 0, 0}},
        {MASK_LEVEL, {0, 0, 0}},
        {-1, {0, 0, 0}},
        {0, {0, 0, 252}},  // blue
        {1, {0, 4, 252}},
        {63, {0, 252, 252}},  // cyan
        {64, {0, 252, 252}},
        {65, {0, 252, 248}},
        {127, {0, 252, 0}},  // green
        {128, {0, 252, 0}},
        {180, {208, 252, 0}},
        {191, {252, 252, 0}},  // yellow
        {192, {252, 252, 0}},
        {254, {252, 4, 0}},
        {255, {252, 0, 0}},    // red
        {256, {252, 252, 0}},  // yellow again above the range
        {INT32_LIMIT, {252, 252, 0}},
    };
    for (const auto& c : cases) {
        const Rgb colour = level_colour(c.level);
        EXPECT_EQ(colour, c.colour) << "level " << c.level << " gave (" << int{colour.red} << ", "
                                    << int{colour.green} << ", " << int{colour.blue} << ")";
    }
}

TEST(DischargeLevel, SquareRootOfThePositionInTheRange) {
    const struct {
        float value;
        ValueRange range;
        std::int32_t level;
    } cases[] = {
        {0.0F, PERCENT, 0},
        {100.0F, PERCENT, 255},
        {50.0F, PERCENT, 180},  // the square root lifts the middle
        {25.0F, PERCENT, 127},
        {1.0F, PERCENT, 25},
        {100.5F, PERCENT, 255},  // above the maximum but still below level 256
        {101.0F, PERCENT, 256},
        {-0.0F, PERCENT, 0},
        {-1.0F, PERCENT, MASK_LEVEL},
        {-999.0F, PERCENT, MASK_LEVEL},
        {-std::numeric_limits<float>::infinity(), PERCENT, MASK_LEVEL},
        {5.0F, ValueRange{.maximum = 100.0F, .minimum = 10.0F},
         UNPLACEABLE_LEVEL},  // below a typed minimum
        {std::numeric_limits<float>::quiet_NaN(), PERCENT, UNPLACEABLE_LEVEL},
        {std::numeric_limits<float>::infinity(), PERCENT, UNPLACEABLE_LEVEL},
        {7.2e13F, ValueRange{.maximum = 1.0F, .minimum = 0.0F},
         UNPLACEABLE_LEVEL},  // level beyond 32 bits
        {std::numeric_limits<float>::max(), ValueRange{.maximum = 1.0F, .minimum = 0.0F},
         UNPLACEABLE_LEVEL},
        // The square root of 0.00013840830, rounded to single precision, scales
        // to 3.00000006; kept in extended precision (the x87 unit of 32-bit
        // x86) it scales to 2.99999996.
        {std::bit_cast<float>(0x391121b2U), ValueRange{.maximum = 1.0F, .minimum = 0.0F}, 3},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(discharge_level(c.value, c.range), c.level)
            << c.value << " in " << c.range.minimum << " to " << c.range.maximum;
    }
    // Just inside the 32-bit range: about 7.1e13 times the range above the minimum.
    EXPECT_GT(discharge_level(7.0e13F, ValueRange{.maximum = 1.0F, .minimum = 0.0F}),
              2'100'000'000);
}

TEST(ComputeLevels, RingOfSecondRowsAndColumnsIsMasked) {
    const struct {
        const char* label;
        std::int32_t ncols;
        std::int32_t nrows;
        std::vector<std::int32_t> expected;  // row index 0 first; 255 unmasked, -999 masked
    } cases[] = {
        {"4 x 4: only the corners",
         4,
         4,
         {255, -999, -999, 255, -999, -999, -999, -999, -999, -999, -999, -999, 255, -999, -999,
          255}},
        {"5 x 5: rows and columns 1 and 3", 5, 5, {255,  -999, 255,  -999, 255,  -999, -999,
                                                   -999, -999, -999, 255,  -999, 255,  -999,
                                                   255,  -999, -999, -999, -999, -999, 255,
                                                   -999, 255,  -999, 255}},
        {"1 column: no column in the ring", 1, 5, {255, -999, 255, -999, 255}},
        {"2 rows: both in the ring", 3, 2, {-999, -999, -999, -999, -999, -999}},
        {"2 columns: both in the ring", 2, 1, {-999, -999}},
        {"1 x 1: nothing masked", 1, 1, {255}},
    };
    for (const auto& c : cases) {
        std::optional<DayCanvas> canvas = make_day_canvas(c.ncols, c.nrows);
        ASSERT_TRUE(canvas) << c.label;
        std::fill(canvas->values.begin(), canvas->values.end(), 100.0F);
        compute_levels(canvas->values, PERCENT, canvas->grid);
        EXPECT_EQ(canvas->grid.levels, c.expected) << c.label;
    }
}

TEST(ComputeLevels, EveryKernelGivesTheBaselinesLevelsAndColours) {
    // Any bits at all (not a number, infinities, subnormals, huge values)
    // and values about the range, in rows of a width that leaves a tail
    // after the vector lanes.
    std::mt19937 random(20261208U);
    std::optional<DayCanvas> canvas = make_day_canvas(1003, 6);
    ASSERT_TRUE(canvas);
    std::uniform_real_distribution<float> about(-10.0F, 130.0F);
    for (std::size_t i = 0; i < canvas->values.size(); ++i) {
        canvas->values[i] =
            i % 2 == 0 ? std::bit_cast<float>(static_cast<std::uint32_t>(random())) : about(random);
    }
    for (const ValueRange range : {PERCENT, ValueRange{.maximum = 50.0F, .minimum = 10.0F}}) {
        compute_levels(canvas->values, range, canvas->grid, VectorKernel::baseline);
        const std::vector<std::int32_t> baseline = canvas->grid.levels;
        const std::string baseline_raster = raster_of(canvas->grid);
        EXPECT_EQ(baseline[1003 * 5 + 7], discharge_level(canvas->values[1003 * 5 + 7], range));
        for (const VectorKernel kernel : {VectorKernel::avx2}) {
            if (!vector_kernel_available(kernel)) {
                std::printf("kernel %d: not on this processor\n", static_cast<int>(kernel));
                continue;
            }
            std::fill(canvas->grid.levels.begin(), canvas->grid.levels.end(), 0);
            compute_levels(canvas->values, range, canvas->grid, kernel);
            EXPECT_EQ(canvas->grid.levels, baseline) << static_cast<int>(kernel);
            EXPECT_TRUE(raster_of(canvas->grid, 1 << 20, kernel) == baseline_raster)
                << static_cast<int>(kernel);
        }
    }
}

TEST(ImageHeader, WidthAndHeightInPixels) {
    std::ostringstream small;
    write_image_header(small, 3, 2);
    EXPECT_EQ(small.str(), "P6\n15 10\n255\n");
    std::ostringstream large;
    write_image_header(large, INT32_LIMIT, 1000);
    EXPECT_EQ(large.str(), "P6\n10737418235 5000\n255\n");
    std::ostringstream scaled;
    write_image_header(scaled, 3, 2, 10);
    EXPECT_EQ(scaled.str(), "P6\n30 20\n255\n");
}

TEST(Raster, NorthRowFirstInSquareBlocksOfTheScale) {
    // Row index 0 (south): blue, red; row index 1 (north): green, black.
    const LevelGrid grid = grid_of(2, 2, {0, 255, 127, -999});
    for (std::uint32_t scale = IMAGE_SCALE_MIN; scale <= IMAGE_SCALE_MAX; ++scale) {
        const std::string north = pixels({0, 252, 0}, scale) + pixels({0, 0, 0}, scale);
        const std::string south = pixels({0, 0, 252}, scale) + pixels({252, 0, 0}, scale);
        std::string expected;
        for (std::uint32_t i = 0; i < scale; ++i) {
            expected += north;
        }
        for (std::uint32_t i = 0; i < scale; ++i) {
            expected += south;
        }
        EXPECT_EQ(raster_of(grid, 1 << 20, VectorKernel::baseline, scale), expected)
            << "scale " << scale;
        EXPECT_EQ(raster_bytes(2, 2, scale), expected.size());
    }
    EXPECT_FALSE(raster_bytes(2, 2, 0));
    EXPECT_FALSE(raster_bytes(2, 2, 11));
    EXPECT_FALSE(make_day_canvas(2, 2, 11));
}

TEST(Raster, SameBytesWhateverTheBufferSize) {
    // 7 x 3 with every level different, written once with a large buffer and
    // once with room for just one pixel row (105 bytes and a spare one, in a
    // 128-byte slot) at a time.
    const LevelGrid grid = grid_of(7, 3, {-1,  0,   10,  63,  64, 100, 127, 128, 150, 191, 192,
                                          200, 255, 256, 300, 5,  17,  80,  140, 230, 1000});
    const std::string large = raster_of(grid);
    EXPECT_EQ(large.size(), 75U * 7 * 3);
    EXPECT_EQ(raster_of(grid, 128), large);
    // The top-left pixel is the north-west cell, the bottom-left the south-west.
    EXPECT_EQ(large.substr(0, 3), pixels(level_colour(300), 1));
    EXPECT_EQ(large.substr(large.size() - 105, 3), pixels({0, 0, 0}, 1));
}

TEST(Raster, StopsAtTheFirstFailedWrite) {
    const LevelGrid grid = grid_of(2, 30, std::vector<std::int32_t>(60, 7));
    std::vector<char> pixel_rows(64 * 4);  // four rows a batch: eight writes
    int writes = 0;
    EXPECT_FALSE(write_raster(grid, pixel_rows, [&writes](std::span<const std::span<const char>>) {
        return ++writes < 3;
    }));
    EXPECT_EQ(writes, 3);
}

TEST(Raster, LargerThanFourGibibytes) {
    // 7600 x 7600 cells: 4.33e9 bytes of raster, past 32-bit sizes.
    LevelGrid grid = grid_of(7600, 7600, std::vector<std::int32_t>(7600U * 7600U, 255));
    grid.levels[7599U * 7600U] = 0;  // the north-west cell: blue, the first pixels
    grid.levels[7599] = -1;          // the south-east cell: black, the last pixels
    std::optional<DayCanvas> canvas = make_day_canvas(7600, 1);
    ASSERT_TRUE(canvas);
    std::uint64_t count = 0;
    std::string head;
    std::string tail;
    const bool written =
        write_raster(grid, canvas->pixel_rows, [&](std::span<const std::span<const char>> pieces) {
            for (const std::span<const char> piece : pieces) {
                if (head.empty()) {
                    head.assign(piece.data(), 6);
                }
                tail.assign(piece.data() + piece.size() - 6, 6);
                count += piece.size();
            }
            return true;
        });
    EXPECT_TRUE(written);
    EXPECT_EQ(count, 75ULL * 7600 * 7600);
    EXPECT_EQ(head, pixels({0, 0, 252}, 2));
    EXPECT_EQ(tail, pixels({0, 0, 0}, 2));
}

TEST(RasterBytes, SeventyFiveBytesPerCellCheckedFor64Bits) {
    EXPECT_EQ(raster_bytes(1200, 1000), 90'000'000U);
    EXPECT_EQ(raster_bytes(INT32_LIMIT, 1), 75ULL * INT32_LIMIT);
    EXPECT_EQ(raster_bytes(INT32_LIMIT, INT32_LIMIT), std::nullopt);
    EXPECT_FALSE(make_day_canvas(INT32_LIMIT, INT32_LIMIT));
}

// A canvas holds a day's values and levels and a batch of pixel rows at the
// scale drawn, never the image: a grid whose image at a large scale is more
// than 4 GiB (more than 32-bit systems count) is drawn at any scale where
// its day fits in memory.
TEST(DayCanvas, SizedForTheScaleDrawnNotTheLargest) {
    const struct {
        std::int32_t ncols;
        std::int32_t nrows;
        std::uint32_t scale;
    } cases[] = {
        {4000, 4000, 1},   // 48 MB of image; 4.8 GB at scale 10
        {4000, 4000, 5},   // 1.2 GB of image
        {3800, 3800, 10},  // 4.3 GB of image
    };
    for (const auto& c : cases) {
        const std::optional<DayCanvas> canvas = make_day_canvas(c.ncols, c.nrows, c.scale);
        ASSERT_TRUE(canvas) << c.ncols << " x " << c.nrows << " at " << c.scale;
        EXPECT_EQ(canvas->values.size(), static_cast<std::size_t>(c.ncols) * c.nrows);
        EXPECT_EQ(canvas->scale, c.scale);
        EXPECT_GE(canvas->pixel_rows.size(), static_cast<std::size_t>(c.ncols) * c.scale * 3);
    }
    // A day that cannot be counted, or not held.
    EXPECT_FALSE(make_day_canvas(INT32_LIMIT, INT32_LIMIT, 1));
    EXPECT_FALSE(make_day_canvas(-1, 5, 1));
}
