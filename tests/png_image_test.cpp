#include "legend.h"
#include "png_image.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "png_decoder.h"

namespace {

std::string png_of(const LevelGrid& grid, std::uint32_t scale, const PngSettings& settings = {}) {
    std::string png;
    PngScratch scratch;
    std::string reason;
    EXPECT_TRUE(write_png_image(
        grid, scale, scratch,
        [&png](std::span<const std::span<const char>> pieces) {
            for (const std::span<const char> piece : pieces) {
                png.append(piece.data(), piece.size());
            }
            return true;
        },
        reason, settings))
        << reason;
    return png;
}

std::string ppm_raster_of(const LevelGrid& grid, std::uint32_t scale = BLOCK_SIZE) {
    std::optional<DayCanvas> canvas = make_day_canvas(grid.ncols, grid.nrows, scale);
    std::string raster;
    write_raster(
        grid, scale, canvas->pixel_rows,
        [&raster](std::span<const std::span<const char>> pieces) {
            for (const std::span<const char> piece : pieces) {
                raster.append(piece.data(), piece.size());
            }
            return true;
        },
        VectorKernel::baseline);
    return raster;
}

}  // namespace

TEST(PngImage, DecodesToThePixelsOfThePpmImage) {
    // Every colour, the masked ones and those above the range, in a grid
    // whose rows and columns all differ, north at the top.
    LevelGrid grid{37, 9, {}};
    for (std::int32_t i = 0; i < grid.ncols * grid.nrows; ++i) {
        grid.levels.push_back(i % 11 == 0 ? MASK_LEVEL : i % 13 == 0 ? 300 : (i * 7) % 256);
    }
    for (std::uint32_t scale = IMAGE_SCALE_MIN; scale <= IMAGE_SCALE_MAX; ++scale) {
        const Decoded decoded = decode_png(png_of(grid, scale));
        EXPECT_EQ(decoded.width, 37U * scale);
        EXPECT_EQ(decoded.height, 9U * scale);
        EXPECT_TRUE(decoded.rgb == ppm_raster_of(grid, scale)) << "scale " << scale;
    }
}

// For the view page: each pixel the number of its cell's palette entry, as
// a grey level, north at the top.
TEST(PngImage, EntriesAsGreyLevels) {
    LevelGrid grid{7, 3, {}};
    for (std::int32_t i = 0; i < grid.ncols * grid.nrows; ++i) {
        grid.levels.push_back(i == 4 ? MASK_LEVEL : i == 5 ? 300 : i * 12);
    }
    const Decoded decoded = decode_png(png_of(grid, 1, {.entries_as_grey = true}));
    ASSERT_EQ(decoded.rgb.size(), 3U * 7 * 3);
    const ColourTable& table = colour_table();
    for (std::int32_t row = 0; row < grid.nrows; ++row) {
        for (std::int32_t column = 0; column < grid.ncols; ++column) {
            const std::size_t pixel = static_cast<std::size_t>((grid.nrows - 1 - row) * 7 + column);
            const std::int32_t level = grid.levels[static_cast<std::size_t>(row * 7 + column)];
            EXPECT_EQ(static_cast<unsigned char>(decoded.rgb[3 * pixel]),
                      table.entry[colour_index(level)])
                << row << " " << column;
        }
    }
}

TEST(PngImage, LargeImageSpansManyChunksAndRefusesWhatPngCannotHold) {
    // Random colours, which deflate cannot squeeze into one chunk.
    LevelGrid grid{400, 300, std::vector<std::int32_t>(400 * 300)};
    std::mt19937 random(20260708);
    for (std::int32_t& level : grid.levels) {
        level = static_cast<std::int32_t>(random() % 258) - 1;
    }
    const Decoded decoded = decode_png(png_of(grid, 5));
    EXPECT_GT(decoded.idat_chunks, 1U);
    EXPECT_TRUE(decoded.rgb == ppm_raster_of(grid));
    const LevelGrid wide{std::numeric_limits<std::int32_t>::max() / 4, 1, {}};
    PngScratch scratch;
    std::string reason;
    EXPECT_FALSE(write_png_image(
        wide, 5, scratch, [](std::span<const std::span<const char>>) { return true; }, reason));
    EXPECT_EQ(reason, "the image is too large for PNG");
}

TEST(PngPicture, LegendDecodesToItsPixels) {
    const Picture legend = draw_legend({.maximum = 1902.24597F, .minimum = 0.0199999996F});
    const std::optional<std::string> png = encode_png_picture(legend);
    ASSERT_TRUE(png);
    const Decoded decoded = decode_png(*png);
    ASSERT_EQ(decoded.width, static_cast<std::uint32_t>(legend.width));
    std::string expected;
    for (const Rgb& pixel : legend.pixels) {
        expected += {static_cast<char>(pixel.red), static_cast<char>(pixel.green),
                     static_cast<char>(pixel.blue)};
    }
    EXPECT_TRUE(decoded.rgb == expected);
}
