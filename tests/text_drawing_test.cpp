#include "text_drawing.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr Rgb BLACK{0, 0, 0};
constexpr Rgb WHITE{255, 255, 255};

// White on black: each pixel's channels are the coverage of the text there.
// The text starts 2 columns in, with room for its whole line and 2 rows
// above and below.
Picture coverage_picture(const std::string& text, int pixel_height) {
    const FontMetrics metrics = font_metrics(pixel_height);
    Picture picture = filled_picture(text_width(text, pixel_height) + 4,
                                     metrics.ascent + metrics.descent + 4, BLACK);
    draw_text(picture, 2, 2 + metrics.ascent, text, pixel_height, WHITE);
    return picture;
}

// FNV-1a (64 bits) of the picture's size and its pixels' bytes.
std::uint64_t fnv1a(const Picture& picture) {
    std::uint64_t hash = 14695981039346656037u;
    const auto add = [&hash](std::uint8_t byte) {
        hash ^= byte;
        hash *= 1099511628211u;
    };
    for (const int size : {picture.width, picture.height}) {
        for (int shift = 0; shift < 32; shift += 8) {
            add(static_cast<std::uint8_t>(static_cast<unsigned>(size) >> shift));
        }
    }
    for (const Rgb& pixel : picture.pixels) {
        add(pixel.red);
        add(pixel.green);
        add(pixel.blue);
    }
    return hash;
}

// The exact bytes of strings in the built-in font: the same on every platform
// the programs are built for, since each glyph is rasterised at a whole pixel.
struct PinnedText {
    const char* text;
    int pixel_height;
    int width;
    std::uint64_t hash;
};
const PinnedText PINNED[] = {
    {"2019-07-12", 12, 60, 0xedb459272ea4b515u},
    {"2019-07-12", 16, 80, 0x8cd509a5c6ffaa60u},
    {"2019-07-12", 24, 120, 0xf0c706b520ab96b3u},
    {"2019-07-12", 32, 160, 0xfd711014da3b2d3cu},
    {"m3 s-1", 12, 36, 0x86c7e73de6f385e9u},
    {"m3 s-1", 16, 47, 0x119e2a4df7b9da35u},
    {"m3 s-1", 24, 71, 0x400742b1c43037bdu},
    {"m3 s-1", 32, 95, 0x227d31bf7430e168u},
    {"0.0141", 12, 36, 0x3215c04996200692u},
    {"0.0141", 16, 48, 0xcdd4f8345b96489au},
    {"0.0141", 24, 72, 0xbf2df8952822e00cu},
    {"0.0141", 32, 96, 0x861b96c031473ccfu},
    {"1.877e+05", 12, 58, 0x7c7e3472caf509aau},
    {"1.877e+05", 16, 77, 0xf6b9a4511aa5b5b3u},
    {"1.877e+05", 24, 115, 0xc8d57a80b57e471u},
    {"1.877e+05", 32, 154, 0xf81faad30f7560b8u},
    {"m\u00b3 s\u207b\u00b9", 12, 32, 0xcd2da84aeccb489fu},
    {"m\u00b3 s\u207b\u00b9", 16, 43, 0xcfc0893ce7755d41u},
    {"m\u00b3 s\u207b\u00b9", 24, 65, 0xbd2f4c38e74b8c25u},
    {"m\u00b3 s\u207b\u00b9", 32, 86, 0xc7305120a10f7206u},
    {"12.5 \u00b0C, Mosel \u00e0 Tr\u00e8ves", 10, 101, 0x20572cd819dbd8fu},
    {"AVAWAY Toulouse", 40, 298, 0x801e2ae7123a86e0u},
};

TEST(TextDrawing, PinnedCoverage) {
    for (const PinnedText& pinned : PINNED) {
        SCOPED_TRACE(std::string(pinned.text) + " at " + std::to_string(pinned.pixel_height));
        const Picture picture = coverage_picture(pinned.text, pinned.pixel_height);
        EXPECT_EQ(text_width(pinned.text, pinned.pixel_height), pinned.width);
        EXPECT_EQ(fnv1a(picture), pinned.hash) << std::hex << "0x" << fnv1a(picture) << "u";
    }
}

// Every printable ASCII character and those of units and place names, each
// on its own, at every height from 10 to 40: one hash of them all.
TEST(TextDrawing, PinnedCoverageOfEveryCharacterAtEveryHeight) {
    std::vector<std::string> characters;
    for (char character = ' '; character <= '~'; ++character) {
        characters.emplace_back(1, character);
    }
    for (const char* character :
         {"\u00b0", "\u00b2", "\u00b3", "\u00b9", "\u207b", "\u00b5", "\u00e9", "\u00e8", "\u00e0",
          "\u00e4", "\u00f6", "\u00fc", "\u00df", "\u00c4", "\u2013", "\u2212"}) {
        characters.emplace_back(character);
    }
    std::uint64_t hash = 0;
    for (int height = 10; height <= 40; ++height) {
        for (const std::string& character : characters) {
            hash = hash * 31 + fnv1a(coverage_picture(character, height));
        }
    }
    EXPECT_EQ(hash, 0x322bd4fef5c86879u) << std::hex << "0x" << hash << "u";
}

// The font's hhea table: ascender 1901, descender -483, line gap 0, of 2384
// units from ascent to descent, each rounded to the nearest pixel.
TEST(TextDrawing, FontMetricsInWholePixels) {
    struct Case {
        int pixel_height;
        FontMetrics metrics;
    };
    const Case cases[] = {
        {1, {1, 0, 0}},   {10, {8, 2, 0}},  {12, {10, 2, 0}}, {16, {13, 3, 0}},
        {24, {19, 5, 0}}, {32, {26, 6, 0}}, {40, {32, 8, 0}}, {256, {204, 52, 0}},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.pixel_height);
        const FontMetrics metrics = font_metrics(test.pixel_height);
        EXPECT_EQ(metrics.ascent, test.metrics.ascent);
        EXPECT_EQ(metrics.descent, test.metrics.descent);
        EXPECT_EQ(metrics.line_gap, test.metrics.line_gap);
    }
}

TEST(TextDrawing, HeightsOutsideTheRangeAreRefused) {
    Picture picture = filled_picture(4, 4, BLACK);
    for (const int height : {INT_MIN, -1, 0, MAX_TEXT_HEIGHT + 1, INT_MAX}) {
        SCOPED_TRACE(height);
        EXPECT_THROW(font_metrics(height), std::out_of_range);
        EXPECT_THROW(text_width("1", height), std::out_of_range);
        EXPECT_THROW(draw_text(picture, 0, 2, "1", height, WHITE), std::out_of_range);
    }
    for (const int height : {MIN_TEXT_HEIGHT, MAX_TEXT_HEIGHT}) {
        EXPECT_GT(text_width("W", height), 0);
        const Picture drawn = coverage_picture("W", height);
        EXPECT_NE(drawn.pixels, filled_picture(drawn.width, drawn.height, BLACK).pixels);
    }
}

TEST(TextDrawing, TextWidth) {
    for (const int height : {1, 12, 40, MAX_TEXT_HEIGHT}) {
        EXPECT_EQ(text_width("", height), 0);
    }
    // A and V advance 1401 font units each (of 2384 from ascent to descent),
    // and the font kerns them by -131: 23.5 + 23.5 pixels at 40, but 44.8
    // together.
    EXPECT_EQ(text_width("A", 40), 24);
    EXPECT_EQ(text_width("V", 40), 24);
    EXPECT_EQ(text_width("AV", 40), 45);
    EXPECT_EQ(text_width("VA", 40), 45);
    EXPECT_LT(text_width("AV", 12), text_width("A", 12) + text_width("V", 12));
    // The pen is rounded once, at the end, not glyph by glyph: ten digits of
    // 1303 units are 131.2 pixels at 24, a space of 651 units 6.55.
    EXPECT_EQ(text_width("0", 24), 13);
    EXPECT_EQ(text_width("0123456789", 24), 131);
    EXPECT_EQ(text_width(" ", 24), 7);
}

// Bytes that are not UTF-8, and characters the font lacks, are drawn as '?':
// one for each maximal ill-formed subsequence.
TEST(TextDrawing, InvalidUtf8AndMissingGlyphsAreQuestionMarks) {
    struct Case {
        std::string text;
        std::string drawn_as;
    };
    const Case cases[] = {
        {"\x80", "?"},                    // a continuation byte alone
        {"a\xBFz", "a?z"},                // ... between characters
        {"\xC0\xAF", "??"},               // overlong '/'
        {"\xC3", "?"},                    // cut off at the end
        {"\xE2\x82z", "?z"},              // cut off by a character
        {"\xE0\x80\x80", "???"},          // overlong three bytes
        {"\xED\xA0\x80", "???"},          // a surrogate
        {"\xF0\x8F\xBF\xBF", "????"},     // overlong four bytes
        {"\xF4\x90\x80\x80", "????"},     // above U+10FFFF
        {"\xF0\x9F\x98", "?"},            // four bytes cut off
        {"\xF5\x80\xFF", "???"},          // bytes no sequence begins with
        {"\xE4\xB8\xAD", "?"},            // U+4E2D, which the font lacks
        {"\xF4\x8F\xBF\xBF", "?"},        // U+10FFFF, well formed, no glyph
        {std::string("1\0z", 3), "1?z"},  // a control character
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.drawn_as);
        EXPECT_EQ(text_width(test.text, 16), text_width(test.drawn_as, 16));
        EXPECT_EQ(coverage_picture(test.text, 16).pixels,
                  coverage_picture(test.drawn_as, 16).pixels);
    }
    // Characters the font has are themselves, not '?'.
    for (const char* text : {"\u00e9", "\u00b0", "\u00b3", "\u207b", "\u20ac", "\u00e0"}) {
        SCOPED_TRACE(text);
        EXPECT_NE(coverage_picture(text, 16).pixels, coverage_picture("?", 16).pixels);
    }
}

// How many pixels of a text had no coverage, whole coverage and some.
struct CoverageCounts {
    int none = 0;
    int whole = 0;
    int partial = 0;
};

// Draws `text` in one colour over another and checks every pixel against
// its coverage, which the same text white on black shows.
CoverageCounts check_blending(const std::string& text) {
    const Picture coverage = coverage_picture(text, 24);
    const Rgb background{10, 200, 77};
    const Rgb ink{250, 3, 128};
    Picture picture = filled_picture(coverage.width, coverage.height, background);
    draw_text(picture, 2, 2 + font_metrics(24).ascent, text, 24, ink);
    const auto blend = [](int old, int full, int a) {
        return static_cast<std::uint8_t>((old * (255 - a) + full * a + 127) / 255);
    };
    CoverageCounts counts;
    for (std::size_t index = 0; index < picture.pixels.size(); ++index) {
        const int a = coverage.pixels[index].red;
        const Rgb expected{blend(10, 250, a), blend(200, 3, a), blend(77, 128, a)};
        EXPECT_EQ(picture.pixels[index], expected) << "coverage " << a;
        counts.none += a == 0;
        counts.whole += a == 255;
        counts.partial += a > 0 && a < 255;
    }
    return counts;
}

// Each channel becomes (old * (255 - a) + ink * a + 127) / 255 for a
// pixel's coverage a: none leaves the pixel as it was, whole gives the ink.
TEST(TextDrawing, BlendsInkOverWhatIsThere) {
    const CoverageCounts block = check_blending("\u2588");  // a full block
    EXPECT_GT(block.none, 0);
    EXPECT_GT(block.whole, 200);
    for (const char* text : {"/", "e"}) {  // a slant and a curve
        SCOPED_TRACE(text);
        const CoverageCounts counts = check_blending(text);
        EXPECT_GT(counts.none, 0);
        EXPECT_GT(counts.partial, 10);
    }
}

// A picture that text runs off shows just what a larger picture shows of the
// same text in the same place.
TEST(TextDrawing, ClipsAtEveryEdge) {
    constexpr int WIDTH = 30;
    constexpr int HEIGHT = 20;
    constexpr int MARGIN = 64;
    const std::string text = "W\u00c4gq|";  // ascender, accent and descenders
    struct Case {
        int left;
        int baseline;
    };
    const Case cases[] = {
        {-12, 15}, {-40, 15}, {10, 15},  {25, 15}, {29, 15},  // left and right
        {2, 3},    {2, 1},    {2, 22},   {2, 30},             // top and bottom
        {-15, 2},  {20, 2},   {-15, 28}, {20, 28},            // corners
        {-20, 10}, {-50, 25},                                 // larger than the picture
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(std::to_string(test.left) + ", " + std::to_string(test.baseline));
        Picture small = filled_picture(WIDTH, HEIGHT, BLACK);
        draw_text(small, test.left, test.baseline, text, 24, WHITE);
        Picture large = filled_picture(WIDTH + 2 * MARGIN, HEIGHT + 2 * MARGIN, BLACK);
        draw_text(large, test.left + MARGIN, test.baseline + MARGIN, text, 24, WHITE);
        int inked = 0;
        for (int y = 0; y < HEIGHT; ++y) {
            for (int x = 0; x < WIDTH; ++x) {
                const Rgb pixel = small.pixels[static_cast<std::size_t>(y * WIDTH + x)];
                ASSERT_EQ(pixel, large.pixels[static_cast<std::size_t>((y + MARGIN) * large.width +
                                                                       x + MARGIN)]);
                inked += pixel != BLACK;
            }
        }
        EXPECT_GT(inked, 0);
    }
}

TEST(TextDrawing, TextWhollyOutsideLeavesThePicture) {
    const Picture blank = filled_picture(30, 20, BLACK);
    const int far[] = {INT_MIN, INT_MIN + 1, -1000, 1000, INT_MAX - 1, INT_MAX};
    for (const int left : far) {
        Picture picture = blank;
        draw_text(picture, left, 15, "Wg", 24, WHITE);
        EXPECT_EQ(picture.pixels, blank.pixels) << left;
    }
    for (const int baseline : far) {
        Picture picture = blank;
        draw_text(picture, 0, baseline, "Wg", 24, WHITE);
        EXPECT_EQ(picture.pixels, blank.pixels) << baseline;
    }
    // Pictures without room, or whose pixels do not match their size.
    const Picture odd[] = {
        {},
        {0, 5, {}},
        {5, 0, {}},
        {-5, -5, std::vector<Rgb>(25)},
        {5, 5, std::vector<Rgb>(24)},
        {5, 5, std::vector<Rgb>(26)},
    };
    for (const Picture& shape : odd) {
        Picture picture = shape;
        draw_text(picture, 0, 4, "Wg", 24, WHITE);
        EXPECT_EQ(picture.pixels, shape.pixels);
    }
}

// Frames are drawn on several threads at once; the glyphs at these heights
// are first rasterised by the two threads together.
TEST(TextDrawing, TwoThreadsDrawAlike) {
    const std::string texts[] = {"2019-07-12", "m\u00b3 s\u207b\u00b9", "1.877e+05", "AVAWAY"};
    const auto draw_all = [&texts](std::vector<Picture>& pictures) {
        for (const int height : {37, 39, 41}) {
            for (const std::string& text : texts) {
                pictures.push_back(coverage_picture(text, height));
            }
        }
    };
    std::vector<Picture> first;
    std::vector<Picture> second;
    std::thread one(draw_all, std::ref(first));
    std::thread other(draw_all, std::ref(second));
    one.join();
    other.join();
    std::vector<Picture> alone;
    draw_all(alone);
    ASSERT_EQ(first.size(), alone.size());
    ASSERT_EQ(second.size(), alone.size());
    for (std::size_t index = 0; index < alone.size(); ++index) {
        EXPECT_EQ(first[index].pixels, alone[index].pixels);
        EXPECT_EQ(second[index].pixels, alone[index].pixels);
    }
}

}  // namespace
