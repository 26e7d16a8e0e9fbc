#include "png_decoder.h"

#include <gtest/gtest.h>
#include <zlib.h>

namespace {

std::uint32_t big_endian(const std::string& bytes, std::size_t at) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at])) << 24 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 1])) << 16 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 2])) << 8 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 3]));
}

}  // namespace

Decoded decode_png(const std::string& png) {
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
    const std::size_t channels = colour_type == 3 || colour_type == 0 ? 1 : 3;
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
            } else if (colour_type == 0) {
                image.rgb.append(3, sample);
            } else {
                image.rgb += sample;
            }
        }
    }
    return image;
}
