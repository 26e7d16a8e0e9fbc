// make_colour_scale: draws the colour scale of discharge_image, the legend of
// the range 0 to 100 (per cent of any range), as a PNG for the documentation.
//
//   make_colour_scale FILE.png
#include <array>
#include <cstdint>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "legend.h"

namespace {

std::uint32_t crc32(const std::string& bytes) {
    std::uint32_t crc = 0xFFFFFFFFU;
    for (const char byte : bytes) {
        crc ^= static_cast<unsigned char>(byte);
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc >> 1) ^ (0xEDB88320U & (0U - (crc & 1U)));
        }
    }
    return ~crc;
}

void put_u32(std::string& out, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        out += static_cast<char>((value >> shift) & 0xFFU);
    }
}

void put_chunk(std::string& png, const char* type, const std::string& data) {
    put_u32(png, static_cast<std::uint32_t>(data.size()));
    const std::string typed = type + data;
    png += typed;
    put_u32(png, crc32(typed));
}

// A zlib stream of stored (uncompressed) blocks: small pictures need no more.
std::string zlib_stored(const std::string& raw) {
    std::string out = "\x78\x01";
    std::size_t at = 0;
    do {
        const std::size_t size = std::min<std::size_t>(raw.size() - at, 65535);
        const bool last = at + size == raw.size();
        out += static_cast<char>(last ? 1 : 0);
        out += static_cast<char>(size & 0xFF);
        out += static_cast<char>(size >> 8);
        out += static_cast<char>(~size & 0xFF);
        out += static_cast<char>((~size >> 8) & 0xFF);
        out.append(raw, at, size);
        at += size;
    } while (at < raw.size());
    std::uint32_t a = 1;
    std::uint32_t b = 0;
    for (const char byte : raw) {
        a = (a + static_cast<unsigned char>(byte)) % 65521U;
        b = (b + a) % 65521U;
    }
    put_u32(out, (b << 16) | a);
    return out;
}

std::string encode_png(const Picture& picture) {
    std::string raw;
    for (int y = 0; y < picture.height; ++y) {
        raw += '\0';  // no filter
        for (int x = 0; x < picture.width; ++x) {
            const Rgb& pixel = picture.pixels[static_cast<std::size_t>(y * picture.width + x)];
            raw += {static_cast<char>(pixel.red), static_cast<char>(pixel.green),
                    static_cast<char>(pixel.blue)};
        }
    }
    std::string header;
    put_u32(header, static_cast<std::uint32_t>(picture.width));
    put_u32(header, static_cast<std::uint32_t>(picture.height));
    header += std::string("\x08\x02\x00\x00\x00", 5);  // 8 bits, RGB, no interlace
    std::string png = "\x89PNG\r\n\x1a\n";
    put_chunk(png, "IHDR", header);
    put_chunk(png, "IDAT", zlib_stored(raw));
    put_chunk(png, "IEND", "");
    return png;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: make_colour_scale FILE.png\n";
        return 2;
    }
    std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
    out << encode_png(draw_legend({.maximum = 100.0F, .minimum = 0.0F}));
    out.close();
    if (!out) {
        std::cerr << "make_colour_scale: cannot write " << argv[1] << '\n';
        return 1;
    }
    return 0;
}
