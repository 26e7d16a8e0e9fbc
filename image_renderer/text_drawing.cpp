#include "text_drawing.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "text_font.h"

// stb_truetype, compiled into this file alone, its functions private to it.
// It comes from a system include folder (cmake/glyphs.cmake), which keeps
// its code out of the project's warnings; the pragmas do so for any compiler
// that reads it otherwise.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpedantic"
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wimplicit-fallthrough"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#define STB_TRUETYPE_IMPLEMENTATION
#define STBTT_STATIC
#include <stb/stb_truetype.h>
#pragma GCC diagnostic pop

namespace {

// The built-in font, parsed once. Its vertical metrics are in font units,
// y up: `descent` is negative, as the font gives it.
struct Font {
    stbtt_fontinfo info{};
    int ascent = 0;
    int descent = 0;
    int line_gap = 0;
    int units_height = 0;  // ascent - descent: what a pixel height scales to
    int replacement = 0;   // the glyph of '?'
};

Font parse_font() {
    const std::string_view bytes = TEXT_FONT_FILES[0].bytes;
    Font font;
    // stb_truetype reads the tables where the font's directory says, without
    // knowing the size: the font is the one built in, not any file.
    if (bytes.size() < 12 ||
        stbtt_InitFont(&font.info, reinterpret_cast<const unsigned char*>(bytes.data()), 0) == 0) {
        throw std::runtime_error("the built-in font cannot be read");
    }
    stbtt_GetFontVMetrics(&font.info, &font.ascent, &font.descent, &font.line_gap);
    font.units_height = font.ascent - font.descent;
    font.replacement = stbtt_FindGlyphIndex(&font.info, '?');
    if (font.units_height <= 0 || font.replacement == 0) {
        throw std::runtime_error("the built-in font has no usable metrics");
    }
    return font;
}

// Initialised by the first caller, while any other waits.
const Font& font() {
    static const Font parsed = parse_font();
    return parsed;
}

void check_height(int pixel_height) {
    if (pixel_height < MIN_TEXT_HEIGHT || pixel_height > MAX_TEXT_HEIGHT) {
        throw std::out_of_range("text height " + std::to_string(pixel_height) + " is outside " +
                                std::to_string(MIN_TEXT_HEIGHT) + " to " +
                                std::to_string(MAX_TEXT_HEIGHT) + " pixels");
    }
}

// A length in font units, `units` (below 2^50 in magnitude), in pixels at
// `pixel_height`, rounded to the nearest, halves up. Exact integer
// arithmetic: the pen's pixel never depends on a platform's rounding.
std::int64_t to_pixels(std::int64_t units, int pixel_height) {
    const std::int64_t denominator = 2 * std::int64_t{font().units_height};
    const std::int64_t numerator = 2 * units * pixel_height + font().units_height;
    // The floor of the quotient, also below zero.
    return numerator >= 0 ? numerator / denominator
                          : -((-numerator + denominator - 1) / denominator);
}

constexpr char32_t REPLACEMENT = U'?';

// The second byte of a UTF-8 sequence lies in a range of its own after some
// leading bytes, which keeps out overlong forms, surrogates and code points
// above U+10FFFF; every later byte in 0x80 to 0xBF.
struct Sequence {
    int length = 0;  // 0 for a byte that no sequence begins with
    unsigned char second_low = 0x80;
    unsigned char second_high = 0xBF;
};
Sequence sequence_of(unsigned char lead) {
    if (lead >= 0xC2 && lead <= 0xDF) {
        return {2};
    }
    if (lead >= 0xE0 && lead <= 0xEF) {
        return {3, static_cast<unsigned char>(lead == 0xE0 ? 0xA0 : 0x80),
                static_cast<unsigned char>(lead == 0xED ? 0x9F : 0xBF)};
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        return {4, static_cast<unsigned char>(lead == 0xF0 ? 0x90 : 0x80),
                static_cast<unsigned char>(lead == 0xF4 ? 0x8F : 0xBF)};
    }
    return {};
}

// The character of `text` at `position` (before its end), and `position`
// moved past it. A maximal ill-formed subsequence, the longest start of a
// well-formed sequence that breaks off or a single byte that starts none,
// is one '?', and reading goes on with the byte after it.
char32_t next_character(std::string_view text, std::size_t& position) {
    const auto lead = static_cast<unsigned char>(text[position++]);
    if (lead < 0x80) {
        return lead;
    }
    const Sequence sequence = sequence_of(lead);
    if (sequence.length == 0) {
        return REPLACEMENT;
    }
    char32_t value = lead & (0x7Fu >> sequence.length);
    unsigned char low = sequence.second_low;
    unsigned char high = sequence.second_high;
    for (int index = 1; index < sequence.length; ++index) {
        if (position == text.size()) {
            return REPLACEMENT;
        }
        const auto byte = static_cast<unsigned char>(text[position]);
        if (byte < low || byte > high) {
            return REPLACEMENT;
        }
        value = (value << 6) | (byte & 0x3Fu);
        ++position;
        low = 0x80;
        high = 0xBF;
    }
    return value;
}

int glyph_of(char32_t character) {
    const int glyph = stbtt_FindGlyphIndex(&font().info, static_cast<int>(character));
    return glyph != 0 ? glyph : font().replacement;
}

// Calls place(glyph, pen) for each glyph of `text` in turn, `pen` its start
// in font units from the start of the text, kerned against the glyph before;
// returns where the pen ends.
template <typename Place>
std::int64_t lay_out(std::string_view text, Place&& place) {
    const stbtt_fontinfo& info = font().info;
    std::int64_t pen = 0;
    int previous = -1;
    for (std::size_t position = 0; position < text.size();) {
        const int glyph = glyph_of(next_character(text, position));
        if (previous >= 0) {
            pen += stbtt_GetGlyphKernAdvance(&info, previous, glyph);
        }
        place(glyph, pen);
        int advance = 0;
        int left_side_bearing = 0;
        stbtt_GetGlyphHMetrics(&info, glyph, &advance, &left_side_bearing);
        pen += advance;
        previous = glyph;
    }
    return pen;
}

// A glyph's coverage at a pixel height, placed relative to the pen's pixel
// on the baseline: `left` columns to the right, `top` rows down (negative
// above the baseline).
struct GlyphBitmap {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    std::vector<unsigned char> coverage;  // rows from the top, 0 to 255
};

// stb_truetype's rasteriser (its second, exact-area one) on the glyph's
// outline scaled so that the font's ascent to descent is `pixel_height`,
// the outline's origin on a pixel corner.
GlyphBitmap rasterise(int glyph, int pixel_height) {
    const stbtt_fontinfo& info = font().info;
    const float scale = stbtt_ScaleForPixelHeight(&info, static_cast<float>(pixel_height));
    int x0 = 0;
    int y0 = 0;
    int x1 = 0;
    int y1 = 0;
    stbtt_GetGlyphBitmapBox(&info, glyph, scale, scale, &x0, &y0, &x1, &y1);
    GlyphBitmap bitmap{x0, y0, std::max(0, x1 - x0), std::max(0, y1 - y0), {}};
    if (bitmap.width > 0 && bitmap.height > 0) {
        bitmap.coverage.resize(static_cast<std::size_t>(bitmap.width) *
                               static_cast<std::size_t>(bitmap.height));
        stbtt_MakeGlyphBitmap(&info, bitmap.coverage.data(), bitmap.width, bitmap.height,
                              bitmap.width, scale, scale, glyph);
    }
    return bitmap;
}

// The glyphs rasterised so far, by glyph and pixel height, shared by every
// thread. Up to CACHE_CAPACITY of them are kept (a frame needs a few dozen);
// beyond that a glyph is rasterised for each use.
constexpr std::size_t CACHE_CAPACITY = 4096;
std::shared_ptr<const GlyphBitmap> glyph_bitmap(int glyph, int pixel_height) {
    static std::mutex mutex;
    static std::map<std::pair<int, int>, std::shared_ptr<const GlyphBitmap>> cache;
    const std::pair key{glyph, pixel_height};
    const std::lock_guard lock(mutex);
    const auto found = cache.find(key);
    if (found != cache.end()) {
        return found->second;
    }
    auto bitmap = std::make_shared<const GlyphBitmap>(rasterise(glyph, pixel_height));
    if (cache.size() < CACHE_CAPACITY) {
        cache.emplace(key, bitmap);
    }
    return bitmap;
}

std::uint8_t blend(std::uint8_t old, std::uint8_t ink, unsigned coverage) {
    return static_cast<std::uint8_t>((old * (255u - coverage) + ink * coverage + 127u) / 255u);
}

// Blends `bitmap` in `ink` over the picture (whose pixels number width x
// height) with its top left corner at column `x`, row `y`, leaving out what
// falls outside.
void blend_bitmap(Picture& picture, std::int64_t x, std::int64_t y, const GlyphBitmap& bitmap,
                  Rgb ink) {
    const std::int64_t first_column = std::max<std::int64_t>(0, -x);
    const std::int64_t end_column = std::min<std::int64_t>(bitmap.width, picture.width - x);
    const std::int64_t first_row = std::max<std::int64_t>(0, -y);
    const std::int64_t end_row = std::min<std::int64_t>(bitmap.height, picture.height - y);
    for (std::int64_t row = first_row; row < end_row; ++row) {
        for (std::int64_t column = first_column; column < end_column; ++column) {
            const unsigned coverage =
                bitmap.coverage[static_cast<std::size_t>(row * bitmap.width + column)];
            Rgb& pixel =
                picture.pixels[static_cast<std::size_t>((y + row) * picture.width + (x + column))];
            pixel = {blend(pixel.red, ink.red, coverage), blend(pixel.green, ink.green, coverage),
                     blend(pixel.blue, ink.blue, coverage)};
        }
    }
}

}  // namespace

FontMetrics font_metrics(int pixel_height) {
    check_height(pixel_height);
    const Font& parsed = font();
    // Each below the pixel height times a small factor: they fit an int.
    return {static_cast<int>(to_pixels(parsed.ascent, pixel_height)),
            static_cast<int>(to_pixels(-std::int64_t{parsed.descent}, pixel_height)),
            static_cast<int>(to_pixels(parsed.line_gap, pixel_height))};
}

int text_width(std::string_view text, int pixel_height) {
    check_height(pixel_height);
    const std::int64_t pen = lay_out(text, [](int, std::int64_t) {});
    return static_cast<int>(std::clamp<std::int64_t>(to_pixels(pen, pixel_height),
                                                     std::numeric_limits<int>::min(),
                                                     std::numeric_limits<int>::max()));
}

void draw_text(Picture& picture, int left, int baseline, std::string_view text, int pixel_height,
               Rgb ink) {
    check_height(pixel_height);
    if (picture.width <= 0 || picture.height <= 0 ||
        picture.pixels.size() !=
            static_cast<std::size_t>(picture.width) * static_cast<std::size_t>(picture.height)) {
        return;
    }
    lay_out(text, [&](int glyph, std::int64_t pen) {
        const std::shared_ptr<const GlyphBitmap> bitmap = glyph_bitmap(glyph, pixel_height);
        blend_bitmap(picture, left + to_pixels(pen, pixel_height) + bitmap->left,
                     std::int64_t{baseline} + bitmap->top, *bitmap, ink);
    });
}
