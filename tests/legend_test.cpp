#include "legend.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

namespace {

Rgb pixel_at(const Picture& picture, int x, int y) {
    return picture.pixels[static_cast<std::size_t>(y * picture.width + x)];
}

// FNV-1a of the picture's bytes, row by row.
std::uint64_t picture_hash(const Picture& picture) {
    std::uint64_t hash = 14695981039346656037ULL;
    for (const Rgb& pixel : picture.pixels) {
        for (const std::uint8_t byte : {pixel.red, pixel.green, pixel.blue}) {
            hash = (hash ^ byte) * 1099511628211ULL;
        }
    }
    return hash;
}

// [row text] of each label.
std::string labels_text(const std::vector<LegendLabel>& labels) {
    std::ostringstream text;
    for (const LegendLabel& label : labels) {
        text << '[' << label.row << ' ' << label.text << ']';
    }
    return text.str();
}

}  // namespace

// The swatches of no discharge and above the range, outlined and named, at
// the ends of the ramp, whose colours run through the palette.
TEST(Legend, RampBetweenNamedSwatchesInEachPalette) {
    const struct {
        Palette palette;
        Rgb none;
        Rgb above;
        Rgb lowest;
        Rgb highest;
    } cases[] = {
        {Palette::classic, {0, 0, 0}, {252, 252, 0}, {0, 0, 252}, {252, 0, 0}},
        {Palette::viridis, {204, 204, 204}, {255, 0, 255}, {68, 1, 84}, {253, 231, 36}},
    };
    for (const auto& c : cases) {
        const Picture legend = draw_legend({.maximum = 100.0F, .minimum = 0.0F}, c.palette);
        ASSERT_EQ(legend.pixels.size(), static_cast<std::size_t>(legend.width * legend.height));
        const LegendLayout layout = legend_picture_layout();
        const int middle = layout.top + layout.bar / 2;
        const int none_centre = layout.left + layout.none_width / 2;
        const int above_centre = layout.above_left + layout.above_width / 2;
        EXPECT_EQ(pixel_at(legend, none_centre, middle), c.none);
        EXPECT_EQ(pixel_at(legend, above_centre, middle), c.above);
        EXPECT_EQ(pixel_at(legend, none_centre, layout.top), (Rgb{0, 0, 0}));  // the outline
        EXPECT_EQ(pixel_at(legend, layout.ramp_left, middle), c.lowest);
        EXPECT_EQ(pixel_at(legend, layout.ramp_left + layout.ramp_width - 1, middle), c.highest);
        // Ink below each swatch: its name.
        for (const int left : {layout.left, layout.above_left}) {
            int ink = 0;
            for (int y = layout.top + layout.bar; y < layout.top + layout.height; ++y) {
                for (int x = left; x < left + layout.none_width && x < legend.width; ++x) {
                    ink += pixel_at(legend, x, y).red < 128 ? 1 : 0;
                }
            }
            EXPECT_GT(ink, 20) << left;
        }
    }
}

TEST(Legend, LabelsReadTheEndsAndTheMarksOfEachStretch) {
    // Below a negative minimum the ramp has no colour up to zero discharge,
    // so the marks crowd its right part: a mark on the last column, or one
    // whose text would run into another's in its row, is left out.
    const struct {
        ValueRange range;
        const char* labels;
    } cases[] = {
        {{.maximum = 100.0F, .minimum = 0.0F}, "[0 0][1 6.104][0 24.8][1 56.1][0 100]"},
        {{.maximum = 100.0F, .minimum = 0.0F, .stretch = Stretch::linear},
         "[0 0][1 24.71][0 49.8][1 74.9][0 100]"},
        {{.maximum = 10000.0F, .minimum = 1.0F, .stretch = Stretch::log},
         "[0 1][1 9.733][0 98.21][1 991][0 1e+04]"},
        {{.maximum = 0.001F, .minimum = -5.0F}, "[0 -5][1 0.001]"},
        {{.maximum = 3e38F, .minimum = -3e38F}, "[0 -3e+38][1 3e+38]"},
    };
    const LegendLayout layout = legend_layout({});
    for (const auto& c : cases) {
        const std::vector<LegendLabel> labels = legend_labels(c.range, layout, 14);
        EXPECT_EQ(labels_text(labels), c.labels) << c.range.minimum << "," << c.range.maximum;
        EXPECT_EQ(labels.front().column, layout.ramp_left);
        EXPECT_EQ(labels.back().column, layout.ramp_left + layout.ramp_width - 1);
    }
}

// The same picture on every platform: the font's glyphs and the levels are
// computed alike everywhere.
TEST(Legend, PicturesAreTheSameEverywhere) {
    EXPECT_EQ(picture_hash(draw_legend({.maximum = 1902.24597F, .minimum = 0.0199999996F})),
              0x86b57ed00c9ad04cULL);
    EXPECT_EQ(
        picture_hash(draw_legend(
            {.maximum = 187731.0F, .minimum = 0.0141F, .stretch = Stretch::log}, Palette::cividis)),
        0x0eb5f678735b572fULL);
}
