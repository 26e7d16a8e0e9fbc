#include "colour_table.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <map>
#include <tuple>

TEST(ColourTable, EveryColourIndexKeepsItsColourInOneEntryOfLevelsInOrder) {
    const ColourTable& table = colour_table();
    EXPECT_LE(table.colours.size(), 256U);
    std::map<std::tuple<int, int, int>, int> distinct;
    for (std::size_t index = 0; index < COLOUR_COUNT; ++index) {
        EXPECT_EQ(table.colours.at(table.entry[index]), indexed_colour(index)) << index;
        const Rgb colour = indexed_colour(index);
        distinct[{colour.red, colour.green, colour.blue}] = 1;
    }
    EXPECT_EQ(table.colours.size(), distinct.size());
    // The entries run through the levels in order, a run of levels each, and
    // black last; above the range is yellow, the colour of levels 191 and 192.
    const std::vector<EntryLevels> levels = colour_entry_levels();
    ASSERT_EQ(levels.size(), table.colours.size());
    EXPECT_EQ(levels.size(), 254U);
    for (std::size_t entry = 1; entry + 1 < levels.size(); ++entry) {
        EXPECT_EQ(levels[entry].lowest, levels[entry - 1].highest + 1) << entry;
    }
    EXPECT_EQ(levels.back().lowest, -1);
    EXPECT_EQ(table.entry[NONE_INDEX], levels.size() - 1);
    EXPECT_EQ(levels[table.entry[ABOVE_INDEX]].lowest, 191);
    EXPECT_EQ(levels[table.entry[ABOVE_INDEX]].highest, 192);
}

TEST(ColourTable, ColourIndexOfLevels) {
    EXPECT_EQ(colour_index(UNPLACEABLE_LEVEL), NONE_INDEX);
    EXPECT_EQ(colour_index(MASK_LEVEL), NONE_INDEX);
    EXPECT_EQ(colour_index(-1), NONE_INDEX);
    EXPECT_EQ(colour_index(0), 0U);
    EXPECT_EQ(colour_index(255), 255U);
    EXPECT_EQ(colour_index(256), ABOVE_INDEX);
    EXPECT_EQ(colour_index(std::numeric_limits<std::int32_t>::max()), ABOVE_INDEX);
}

// Each threshold is exact: its value has the level, the float just below it
// has a lower one.
TEST(ColourTable, LevelThresholdsAreTheFirstFloatsOfTheirLevels) {
    const ValueRange ranges[] = {
        {.maximum = 100.0F, .minimum = 0.0F},
        {.maximum = 1902.24597F, .minimum = 0.00800000038F},
        {.maximum = 0.001F, .minimum = -5.0F},
        {.maximum = 3000.0F, .minimum = 20.0F},
    };
    for (const ValueRange range : ranges) {
        for (std::int32_t level = 0; level <= TOP_LEVEL + 1; ++level) {
            const float threshold = level_threshold(level, range);
            ASSERT_TRUE(std::isfinite(threshold)) << level;
            EXPECT_GE(discharge_level(threshold, range), level) << level;
            const float below = std::nextafter(threshold, -1.0F);
            if (threshold > 0.0F) {
                const std::int32_t lower = discharge_level(below, range);
                EXPECT_TRUE(lower < level) << level << " " << below << " " << lower;
            }
        }
    }
    // The minimum starts level 0, the maximum level 255; level 256 begins
    // above the maximum, by (256/255)^2 of the span.
    const ValueRange percent{.maximum = 100.0F, .minimum = 0.0F};
    EXPECT_EQ(level_threshold(0, percent), 0.0F);
    EXPECT_EQ(level_threshold(255, percent), 100.0F);
    EXPECT_NEAR(level_threshold(256, percent), 100.0F * (256.0F / 255.0F) * (256.0F / 255.0F),
                1e-4F);
    // Below a typed negative minimum the values are no discharge: the ramp
    // starts at 0 with the level that 0 has.
    EXPECT_EQ(level_threshold(0, {.maximum = 0.001F, .minimum = -5.0F}), 0.0F);
    // A range so wide that no float reaches the level above its top.
    EXPECT_EQ(level_threshold(256, {.maximum = 3.4e38F, .minimum = 0.0F}),
              std::numeric_limits<float>::infinity());
}

TEST(ColourTable, EntryBoundsFollowTheLevels) {
    const ValueRange range{.maximum = 100.0F, .minimum = 0.0F};
    const ColourBounds bounds = colour_entry_bounds(range);
    const std::vector<EntryLevels> levels = colour_entry_levels();
    ASSERT_EQ(bounds.entries.size(), levels.size());
    EXPECT_EQ(bounds.entries.front().low, 0.0F);
    for (std::size_t entry = 0; entry + 1 < bounds.entries.size(); ++entry) {
        EXPECT_EQ(bounds.entries[entry].low, level_threshold(levels[entry].lowest, range));
        EXPECT_EQ(bounds.entries[entry].high, level_threshold(levels[entry].highest + 1, range));
    }
    EXPECT_FALSE(bounds.entries.back().low.has_value());  // black
    EXPECT_EQ(bounds.above, level_threshold(256, range));
    // Halfway through the range is level 180.
    EXPECT_EQ(discharge_level(50.0F, range), 180);
}
