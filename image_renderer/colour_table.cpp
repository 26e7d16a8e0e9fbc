#include "colour_table.h"

#include <bit>

Rgb level_colour(std::int32_t level) {
    if (level < 0) {
        return {0, 0, 0};
    }
    if (level < 64) {
        return {0, static_cast<std::uint8_t>(4 * level), 252};
    }
    if (level < 128) {
        return {0, 252, static_cast<std::uint8_t>(508 - 4 * level)};
    }
    if (level < 192) {
        return {static_cast<std::uint8_t>(4 * level - 512), 252, 0};
    }
    if (level <= TOP_LEVEL) {
        return {252, static_cast<std::uint8_t>(1020 - 4 * level), 0};
    }
    return {252, 252, 0};
}

Rgb indexed_colour(std::size_t index) {
    return level_colour(index == BLACK_INDEX   ? -1
                        : index == ABOVE_INDEX ? TOP_LEVEL + 1
                                               : static_cast<std::int32_t>(index));
}

const ColourTable& colour_table() {
    static const ColourTable table = [] {
        ColourTable built;
        for (std::size_t index = 0; index < COLOUR_COUNT; ++index) {
            const Rgb colour = indexed_colour(index);
            std::size_t entry = 0;
            while (entry < built.colours.size() && !(built.colours[entry] == colour)) {
                ++entry;
            }
            if (entry == built.colours.size()) {
                built.colours.push_back(colour);
            }
            built.entry[index] = static_cast<std::uint8_t>(entry);
        }
        return built;
    }();
    return table;
}

std::vector<EntryLevels> colour_entry_levels() {
    const ColourTable& table = colour_table();
    std::vector<EntryLevels> levels(table.colours.size());
    for (std::int32_t level = 0; level <= TOP_LEVEL; ++level) {
        EntryLevels& entry = levels[table.entry[static_cast<std::size_t>(level)]];
        entry.lowest = entry.lowest < 0 ? level : entry.lowest;
        entry.highest = level;
    }
    return levels;
}

namespace {

// Whether `value` (not negative) has `level` or a higher one under `range`.
// A value so far above the maximum that its level overflows has the
// highest of all.
bool reaches(float value, std::int32_t level, ValueRange range) {
    const std::int32_t found = discharge_level(value, range);
    return found >= level ||
           (found == UNPLACEABLE_LEVEL && std::isfinite(value) && value > range.maximum);
}

}  // namespace

float level_threshold(std::int32_t level, ValueRange range) {
    // Levels grow with the value: among the non-negative floats, ordered as
    // their bit patterns are, the first that reaches the level is found by
    // halving.
    std::uint32_t low = std::bit_cast<std::uint32_t>(0.0F);
    std::uint32_t high = std::bit_cast<std::uint32_t>(std::numeric_limits<float>::max());
    if (!reaches(std::bit_cast<float>(high), level, range)) {
        return std::numeric_limits<float>::infinity();
    }
    if (reaches(0.0F, level, range)) {
        return 0.0F;
    }
    // Invariant: `low` does not reach the level, `high` does.
    while (high - low > 1) {
        const std::uint32_t middle = low + (high - low) / 2;
        (reaches(std::bit_cast<float>(middle), level, range) ? high : low) = middle;
    }
    return std::bit_cast<float>(high);
}

ColourBounds colour_entry_bounds(ValueRange range) {
    ColourBounds bounds;
    for (const EntryLevels& levels : colour_entry_levels()) {
        EntryBounds entry;
        if (levels.lowest >= 0) {
            entry.low = level_threshold(levels.lowest, range);
            entry.high = level_threshold(levels.highest + 1, range);
        }
        bounds.entries.push_back(entry);
    }
    bounds.above = level_threshold(TOP_LEVEL + 1, range);
    return bounds;
}
