#include "legend.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

TEST(Legend, RampBetweenSwatchesWithTicksAndDigits) {
    const Picture legend = draw_legend({.maximum = 100.0F, .minimum = 0.0F});
    ASSERT_EQ(legend.pixels.size(), static_cast<std::size_t>(legend.width * legend.height));
    const auto at = [&](int x, int y) {
        return legend.pixels[static_cast<std::size_t>(y * legend.width + x)];
    };
    // Black and yellow swatches at the ends; the ramp from blue to red.
    EXPECT_EQ(at(0, 0), (Rgb{0, 0, 0}));
    EXPECT_EQ(at(legend.width - 1, 0), (Rgb{252, 252, 0}));
    EXPECT_EQ(at(60, 0), (Rgb{0, 0, 252}));
    EXPECT_EQ(at(60 + 511, 0), (Rgb{252, 0, 0}));
    // Below the ramp: white, a black tick under each end, and black dots of
    // the digits, all in the bottom rows.
    EXPECT_EQ(at(100, 50), (Rgb{255, 255, 255}));
    EXPECT_EQ(at(60, 50), (Rgb{0, 0, 0}));
    EXPECT_EQ(at(60 + 511, 50), (Rgb{0, 0, 0}));
    int dots = 0;
    for (int y = 58; y < legend.height; ++y) {
        for (int x = 0; x < legend.width; ++x) {
            dots += at(x, y) == Rgb{0, 0, 0} ? 1 : 0;
        }
    }
    EXPECT_GT(dots, 100);
}

namespace {

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

std::string labels_text(const std::vector<LegendLabel>& labels) {
    std::ostringstream text;
    for (const LegendLabel& label : labels) {
        text << '[' << label.column << ' ' << label.row << ' ' << label.text << ']';
    }
    return text.str();
}

}  // namespace

TEST(Legend, OrdinaryRangesKeepTheirPictures) {
    // Ranges from zero or above: the pictures drawn before the labels of
    // the ends were made to always read as the range's ends.
    const struct {
        float minimum;
        float maximum;
        std::uint64_t hash;
    } cases[] = {
        {0.0F, 100.0F, 0x18e7b9b46ebdeae5ULL},  {0.001F, 1000.0F, 0x3e07c23a82b56609ULL},
        {10.0F, 10.5F, 0x6db4193eb900483dULL},  {3.5F, 123456.0F, 0x681678ffe68e1831ULL},
        {0.0F, 0.0001F, 0xdd5e4d219ffc5ed9ULL}, {0.0F, 3e38F, 0x82c00d91185803e1ULL},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(picture_hash(draw_legend({.maximum = c.maximum, .minimum = c.minimum})), c.hash)
            << c.minimum << "," << c.maximum;
    }
}

TEST(Legend, EndsAlwaysReadAsTheRangesOwnEnds) {
    // [picture column of the tick, row, text]: the ramp spans columns 60 to
    // 571. Below a negative minimum the ramp is black up to zero discharge,
    // so the marks crowd its right part: a mark on the last column, or one
    // whose text would run into another's in its row, is left out.
    const struct {
        float minimum;
        float maximum;
        const char* labels;
    } cases[] = {
        {0.0F, 100.0F, "[60 0 0][92 1 6.104][187 0 24.8][347 1 56.1][571 0 100]"},
        {0.0F, 0.00012345F,
         "[60 0 0][92 1 7.535e-06][187 0 3.062e-05][347 1 6.926e-05][571 0 0.0001234]"},
        {-5.0F, 0.001F, "[60 0 -5][571 1 0.001]"},
        {-1.0F, 0.0F, "[60 0 -1][571 1 0]"},
        {-100.0F, 1.0F, "[60 0 -100][567 1 -74.95][571 0 1]"},
        {-5.0F, 5.0F, "[60 0 -5][316 1 -4.39][317 0 -2.52][571 1 5]"},
        {-3e38F, 3e38F, "[60 0 -3e+38][571 1 3e+38]"},
    };
    for (const auto& c : cases) {
        const ValueRange range{.maximum = c.maximum, .minimum = c.minimum};
        EXPECT_EQ(labels_text(legend_labels(range)), c.labels) << c.minimum << "," << c.maximum;
        // Each label's tick is drawn down to its row.
        const Picture legend = draw_legend(range);
        for (const LegendLabel& label : legend_labels(range)) {
            const int tick_bottom = 48 + 8 + label.row * 20 - 1;
            EXPECT_EQ(
                legend.pixels[static_cast<std::size_t>(tick_bottom * legend.width + label.column)],
                (Rgb{0, 0, 0}))
                << c.minimum << "," << c.maximum << " at " << label.column;
        }
    }
}
