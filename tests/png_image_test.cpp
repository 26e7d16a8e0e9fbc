#include "png_image.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <map>
#include <random>

namespace {

std::uint32_t big_endian(const std::string& bytes, std::size_t at) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at])) << 24 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 1])) << 16 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 2])) << 8 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 3]));
}

// What a PNG decodes to: its size and its pixels as RGB, rows from the top,
// after checking the signature, every chunk's CRC and the end. Knows the
// filters the encoder uses (None, Sub, Up) and no others.
struct Decoded {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::string rgb;
    std::size_t idat_chunks = 0;
};

Decoded decode(const std::string& png) {
    Decoded image;
    EXPECT_EQ(png.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
    std::string palette;
    std::string compressed;
    int colour_type = -1;
    std::size_t at = 8;
    bool ended = false;
    while (at + 12 <= png.size() && !ended) {
        const std::uint32_t length = big_endian(png, at);
        const std::string type = png.substr(at + 4, 4);
        const std::string data = png.substr(at + 8, length);
        const uLong crc =
            crc32(0L, reinterpret_cast<const Bytef*>(png.data() + at + 4), length + 4);
        EXPECT_EQ(big_endian(png, at + 8 + length), crc) << type;
        if (type == "IHDR") {
            image.width = big_endian(data, 0);
            image.height = big_endian(data, 4);
            EXPECT_EQ(data[8], 8);
            colour_type = data[9];
            EXPECT_EQ(data.substr(10), std::string(3, '\0'));
        } else if (type == "PLTE") {
            palette = data;
        } else if (type == "IDAT") {
            compressed += data;
            ++image.idat_chunks;
        } else {
            EXPECT_EQ(type, "IEND");
            ended = true;
        }
        at += 12 + length;
    }
    EXPECT_TRUE(ended);
    EXPECT_EQ(at, png.size());
    const std::size_t channels = colour_type == 3 ? 1 : 3;
    const std::size_t stride = 1 + image.width * channels;
    std::string raw(stride * image.height, '\0');
    uLongf raw_size = raw.size();
    EXPECT_EQ(uncompress(reinterpret_cast<Bytef*>(raw.data()), &raw_size,
                         reinterpret_cast<const Bytef*>(compressed.data()), compressed.size()),
              Z_OK);
    EXPECT_EQ(raw_size, raw.size());
    std::string previous(stride - 1, '\0');
    for (std::uint32_t y = 0; y < image.height; ++y) {
        const char filter = raw[y * stride];
        std::string row = raw.substr(y * stride + 1, stride - 1);
        for (std::size_t x = 0; x < row.size(); ++x) {
            if (filter == 1 && x >= channels) {
                row[x] = static_cast<char>(row[x] + row[x - channels]);
            } else if (filter == 2) {
                row[x] = static_cast<char>(row[x] + previous[x]);
            } else {
                EXPECT_TRUE(filter == 0 || filter == 1) << static_cast<int>(filter);
            }
        }
        previous = row;
        for (const char sample : row) {
            if (colour_type == 3) {
                image.rgb.append(
                    palette, 3 * static_cast<std::size_t>(static_cast<unsigned char>(sample)), 3);
            } else {
                image.rgb += sample;
            }
        }
    }
    return image;
}

std::string png_of(const LevelGrid& grid, std::uint32_t scale) {
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
        reason))
        << reason;
    return png;
}

std::string ppm_raster_of(const LevelGrid& grid) {
    std::vector<char> pixel_rows(1 << 20);
    std::string raster;
    write_raster(grid, pixel_rows, [&raster](std::span<const std::span<const char>> pieces) {
        for (const std::span<const char> piece : pieces) {
            raster.append(piece.data(), piece.size());
        }
        return true;
    });
    return raster;
}

}  // namespace

TEST(ImagePalette, EveryColourIndexKeepsItsColour) {
    const ImagePalette& palette = image_palette();
    EXPECT_LE(palette.colours.size(), 256U);
    std::map<std::tuple<int, int, int>, int> distinct;
    for (std::size_t index = 0; index < COLOUR_COUNT; ++index) {
        EXPECT_EQ(palette.colours.at(palette.entry[index]), indexed_colour(index)) << index;
        const Rgb colour = indexed_colour(index);
        distinct[{colour.red, colour.green, colour.blue}] = 1;
    }
    EXPECT_EQ(palette.colours.size(), distinct.size());
}

TEST(PngImage, DecodesToThePixelsOfThePpmImage) {
    // Every colour, the masked ones and those above the range, in a grid
    // whose rows and columns all differ, north at the top.
    LevelGrid grid{37, 9, {}};
    for (std::int32_t i = 0; i < grid.ncols * grid.nrows; ++i) {
        grid.levels.push_back(i % 11 == 0 ? MASK_LEVEL : i % 13 == 0 ? 300 : (i * 7) % 256);
    }
    const std::string ppm = ppm_raster_of(grid);
    const Decoded at_five = decode(png_of(grid, 5));
    EXPECT_EQ(at_five.width, 37U * 5);
    EXPECT_EQ(at_five.height, 9U * 5);
    EXPECT_TRUE(at_five.rgb == ppm);
    // At one pixel a cell: every fifth pixel of every fifth row of the PPM.
    const Decoded at_one = decode(png_of(grid, 1));
    std::string sampled;
    for (std::size_t y = 0; y < 9; ++y) {
        for (std::size_t x = 0; x < 37; ++x) {
            sampled += ppm.substr((y * 5 * 37 * 5 + x * 5) * 3, 3);
        }
    }
    EXPECT_TRUE(at_one.rgb == sampled);
    for (const std::uint32_t scale : {2U, 10U}) {
        const Decoded scaled = decode(png_of(grid, scale));
        EXPECT_EQ(scaled.width, 37U * scale);
        EXPECT_EQ(scaled.rgb.size(), 37U * 9U * scale * scale * 3U);
    }
}

TEST(PngImage, LargeImageSpansManyChunksAndRefusesWhatPngCannotHold) {
    // Random colours, which deflate cannot squeeze into one chunk.
    LevelGrid grid{400, 300, std::vector<std::int32_t>(400 * 300)};
    std::mt19937 random(20260708);
    for (std::int32_t& level : grid.levels) {
        level = static_cast<std::int32_t>(random() % 258) - 1;
    }
    const Decoded decoded = decode(png_of(grid, 5));
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
    const Decoded decoded = decode(*png);
    ASSERT_EQ(decoded.width, static_cast<std::uint32_t>(legend.width));
    std::string expected;
    for (const Rgb& pixel : legend.pixels) {
        expected += {static_cast<char>(pixel.red), static_cast<char>(pixel.green),
                     static_cast<char>(pixel.blue)};
    }
    EXPECT_TRUE(decoded.rgb == expected);
}
