// make_colour_scale: draws the colour scale of discharge_image with the
// program's own level and colour functions, as a PNG for the documentation.
//
//   make_colour_scale FILE.png
//
// From left to right: black, for a cell without discharge; the ramp from the
// minimum to the maximum of the range, linear in discharge, with a tick below
// it where the colour reaches cyan, green and yellow; yellow, for discharge
// above a typed maximum.
#include <array>
#include <cstdint>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "discharge_image.h"

namespace {

constexpr int SWATCH = 48;  // width of the black and the yellow swatch
constexpr int GAP = 12;
constexpr int RAMP = 512;
constexpr int WIDTH = SWATCH + GAP + RAMP + GAP + SWATCH;
constexpr int BAR = 48;    // height of the colours
constexpr int TICKS = 12;  // height of the tick marks below them
constexpr int HEIGHT = BAR + TICKS;
constexpr Rgb WHITE{255, 255, 255};
constexpr Rgb BLACK{0, 0, 0};

// The discharge of ramp column x, as a position between minimum 0 and
// maximum 1.
float ramp_value(int x) {
    return static_cast<float>(x) / static_cast<float>(RAMP - 1);
}

std::vector<Rgb> draw_scale() {
    const ValueRange range{.maximum = 1.0F, .minimum = 0.0F};
    std::vector<Rgb> pixels(static_cast<std::size_t>(WIDTH * HEIGHT), WHITE);
    auto at = [&pixels](int x, int y) -> Rgb& {
        return pixels[static_cast<std::size_t>(y * WIDTH + x)];
    };
    // The first columns at cyan (level 63), green (127) and yellow (191).
    const std::array<std::int32_t, 3> marked_levels = {63, 127, 191};
    std::size_t next_mark = 0;
    for (int x = 0; x < WIDTH; ++x) {
        const int ramp_x = x - SWATCH - GAP;
        Rgb colour = WHITE;
        bool tick = false;
        if (x < SWATCH) {
            colour = level_colour(discharge_level(-999.0F, range));
        } else if (ramp_x >= 0 && ramp_x < RAMP) {
            const std::int32_t level = discharge_level(ramp_value(ramp_x), range);
            colour = level_colour(level);
            if (next_mark < marked_levels.size() && level >= marked_levels[next_mark]) {
                tick = true;
                ++next_mark;
            }
        } else if (x >= SWATCH + GAP + RAMP + GAP) {
            colour = level_colour(discharge_level(2.0F, range));
        }
        for (int y = 0; y < BAR; ++y) {
            at(x, y) = colour;
        }
        for (int y = BAR; y < HEIGHT && tick; ++y) {
            at(x, y) = BLACK;
        }
    }
    return pixels;
}

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

std::string encode_png(const std::vector<Rgb>& pixels) {
    std::string raw;
    for (int y = 0; y < HEIGHT; ++y) {
        raw += '\0';  // no filter
        for (int x = 0; x < WIDTH; ++x) {
            const Rgb& pixel = pixels[static_cast<std::size_t>(y * WIDTH + x)];
            raw += {static_cast<char>(pixel.red), static_cast<char>(pixel.green),
                    static_cast<char>(pixel.blue)};
        }
    }
    std::string header;
    put_u32(header, WIDTH);
    put_u32(header, HEIGHT);
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
    out << encode_png(draw_scale());
    out.close();
    if (!out) {
        std::cerr << "make_colour_scale: cannot write " << argv[1] << '\n';
        return 1;
    }
    return 0;
}
