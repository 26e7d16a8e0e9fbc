#include "colour_table.h"

#include <gtest/gtest.h>

#include <algorithm>
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
        {.maximum = 100.0F, .minimum = 0.0F, .stretch = Stretch::linear},
        {.maximum = 0.001F, .minimum = -5.0F, .stretch = Stretch::linear},
        {.maximum = 187731.0F, .minimum = 0.0141F, .stretch = Stretch::log},
        {.maximum = 3000.0F, .minimum = 20.0F, .stretch = Stretch::log},
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

// The linear and log stretches at the ends of their levels; below the
// minimum and not a number are no discharge, as under the square root.
TEST(ColourTable, StretchedLevelsAtTheirBoundaries) {
    const ValueRange linear{.maximum = 100.0F, .minimum = 0.0F, .stretch = Stretch::linear};
    const ValueRange log{.maximum = 10000.0F, .minimum = 1.0F, .stretch = Stretch::log};
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const struct {
        ValueRange range;
        float value;
        std::int32_t level;
    } cases[] = {
        {linear, 0.0F, 0},
        {linear, 50.0F, 127},  // 127.5
        {linear, 100.0F, 255},
        {linear, 100.3F, 255},  // 255.8: still the top
        {linear, 100.4F, 256},  // above the range
        {linear, -1.0F, MASK_LEVEL},
        {linear, nan, UNPLACEABLE_LEVEL},
        {linear, inf, UNPLACEABLE_LEVEL},
        {log, 1.0F, 0},
        {log, 10.0F, 63},  // a quarter of the decades: 63.75
        {log, 100.0F, 127},
        {log, 1000.0F, 191},
        {log, 10000.0F, 255},
        {log, 0.999F, UNPLACEABLE_LEVEL},  // below the minimum
        {log, 0.0F, UNPLACEABLE_LEVEL},    // whose logarithm is minus infinity
        {log, -2.0F, MASK_LEVEL},
        {log, nan, UNPLACEABLE_LEVEL},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(discharge_level(c.value, c.range), c.level)
            << stretch_name(c.range.stretch) << " " << c.value;
    }
}

// stretch_value() is the inverse of each stretch's scaling: the value at
// level L's share of the range has level L (or, rounded down, L - 1).
TEST(ColourTable, StretchValueIsTheInverseOfTheLevels) {
    for (const Stretch stretch : {Stretch::sqrt, Stretch::linear, Stretch::log}) {
        const ValueRange range{.maximum = 187731.0F, .minimum = 0.0141F, .stretch = stretch};
        EXPECT_FLOAT_EQ(static_cast<float>(stretch_value(0.0, range)), range.minimum);
        EXPECT_FLOAT_EQ(static_cast<float>(stretch_value(1.0, range)), range.maximum);
        for (std::int32_t level = 1; level < TOP_LEVEL; ++level) {
            const double value = stretch_value(level / 255.0, range);
            const std::int32_t found = discharge_level(static_cast<float>(value), range);
            EXPECT_TRUE(found == level || found == level - 1) << stretch_name(stretch) << level;
        }
    }
    for (const char* name : {"sqrt", "linear", "log"}) {
        EXPECT_STREQ(stretch_name(*parse_stretch(name)), name);
    }
    EXPECT_FALSE(parse_stretch("Log").has_value());
}

// viridis and cividis: level L in map entry L, no discharge and above the
// range in two colours that no level has; every palette fits PNG's and
// GIF's 256 entries, with the band's background where it is no level's.
TEST(ColourTable, EveryPaletteFitsInTwoHundredAndFiftySixEntries) {
    const struct {
        Palette palette;
        std::size_t entries;
    } cases[] = {{Palette::classic, 254}, {Palette::viridis, 256}, {Palette::cividis, 255}};
    for (const auto& c : cases) {
        const ColourTable& table = colour_table(c.palette);
        EXPECT_EQ(table.colours.size(), c.entries) << palette_name(c.palette);
        const std::vector<EntryLevels> levels = colour_entry_levels(c.palette);
        for (std::int32_t level = 0; level <= TOP_LEVEL; ++level) {
            const EntryLevels& entry = levels[table.entry[static_cast<std::size_t>(level)]];
            EXPECT_TRUE(entry.lowest <= level && level <= entry.highest) << level;
        }
        const BandColours band = band_colours(c.palette);
        const auto in_table = [&table](Rgb colour) {
            return std::find(table.colours.begin(), table.colours.end(), colour) !=
                   table.colours.end();
        };
        EXPECT_TRUE(in_table(band.ink));
        EXPECT_EQ(table.colours.size() + (in_table(band.background) ? 0 : 1) <= 256, true);
        EXPECT_STREQ(palette_name(*parse_palette(palette_name(c.palette))),
                     palette_name(c.palette));
        if (c.palette == Palette::classic) {
            continue;
        }
        EXPECT_EQ(levels[table.entry[NONE_INDEX]].lowest, -1);
        EXPECT_EQ(levels[table.entry[ABOVE_INDEX]].lowest, -1);
        EXPECT_EQ(indexed_colour(NONE_INDEX, c.palette), (Rgb{204, 204, 204}));
        EXPECT_EQ(indexed_colour(ABOVE_INDEX, c.palette), (Rgb{255, 0, 255}));
    }
    EXPECT_EQ(indexed_colour(0, Palette::viridis), (Rgb{68, 1, 84}));
    EXPECT_EQ(indexed_colour(255, Palette::viridis), (Rgb{253, 231, 36}));
    EXPECT_EQ(indexed_colour(0, Palette::cividis), (Rgb{0, 34, 77}));
}
