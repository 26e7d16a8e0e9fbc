#include "disk_space.h"

#include <gtest/gtest.h>

#include <limits>

TEST(BytesText, ThreeDigitsInTheUnitTheyRoundTo) {
    const std::pair<std::uint64_t, const char*> cases[] = {
        {0, "0 bytes"},
        {999, "999 bytes"},
        {1000, "1 kB (1000 bytes)"},
        {323584, "324 kB (323584 bytes)"},
        {999499, "999 kB (999499 bytes)"},
        {999600, "1 MB (999600 bytes)"},  // not "1e+03 kB"
        {2790001234, "2.79 GB (2790001234 bytes)"},
        {std::numeric_limits<std::uint64_t>::max(), "18.4 EB (18446744073709551615 bytes)"},
    };
    for (const auto& [bytes, text] : cases) {
        EXPECT_EQ(bytes_text(bytes), text) << bytes;
    }
}
