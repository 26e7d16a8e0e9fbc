#include "legend.h"

#include <gtest/gtest.h>

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
