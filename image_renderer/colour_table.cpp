#include "colour_table.h"

#include <bit>
#include <string_view>

// The colour maps, level by level (palette_tables.cpp, generated).
extern const std::array<Rgb, 256> VIRIDIS_COLOURS;
extern const std::array<Rgb, 256> CIVIDIS_COLOURS;

namespace {

constexpr Rgb LIGHT_GREY{204, 204, 204};
constexpr Rgb MAGENTA{255, 0, 255};
constexpr Palette PALETTES[] = {Palette::classic, Palette::viridis, Palette::cividis};
constexpr const char* PALETTE_NAMES[] = {"classic", "viridis", "cividis"};
constexpr Stretch STRETCHES[] = {Stretch::sqrt, Stretch::linear, Stretch::log};
constexpr const char* STRETCH_NAMES[] = {"sqrt", "linear", "log"};

}  // namespace

std::optional<Stretch> parse_stretch(std::string_view name) {
    for (std::size_t i = 0; i < std::size(STRETCHES); ++i) {
        if (name == STRETCH_NAMES[i]) {
            return STRETCHES[i];
        }
    }
    return std::nullopt;
}

const char* stretch_name(Stretch stretch) {
    return STRETCH_NAMES[static_cast<std::size_t>(stretch)];
}

std::optional<Palette> parse_palette(std::string_view name) {
    for (std::size_t i = 0; i < std::size(PALETTES); ++i) {
        if (name == PALETTE_NAMES[i]) {
            return PALETTES[i];
        }
    }
    return std::nullopt;
}

const char* palette_name(Palette palette) {
    return PALETTE_NAMES[static_cast<std::size_t>(palette)];
}

double stretch_value(double share, ValueRange range) {
    const double minimum = range.minimum;
    const double maximum = range.maximum;
    switch (range.stretch) {
        case Stretch::linear:
            return minimum + (maximum - minimum) * share;
        case Stretch::log:
            return std::exp(std::log(minimum) + (std::log(maximum) - std::log(minimum)) * share);
        case Stretch::sqrt:
            break;
    }
    return minimum + (maximum - minimum) * share * share;
}

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

Rgb indexed_colour(std::size_t index, Palette palette) {
    if (palette == Palette::classic) {
        return level_colour(index == NONE_INDEX    ? -1
                            : index == ABOVE_INDEX ? TOP_LEVEL + 1
                                                   : static_cast<std::int32_t>(index));
    }
    const std::array<Rgb, 256>& map =
        palette == Palette::viridis ? VIRIDIS_COLOURS : CIVIDIS_COLOURS;
    return index == NONE_INDEX ? LIGHT_GREY : index == ABOVE_INDEX ? MAGENTA : map[index];
}

const char* none_colour_name(Palette palette) {
    return palette == Palette::classic ? "black" : "light grey";
}

const char* above_colour_name(Palette palette) {
    return palette == Palette::classic ? "yellow" : "magenta";
}

BandColours band_colours(Palette palette) {
    if (palette == Palette::classic) {
        return {{255, 255, 255}, {0, 0, 0}};
    }
    return {LIGHT_GREY, indexed_colour(0, palette)};
}

namespace {

ColourTable build_colour_table(Palette palette) {
    ColourTable built;
    for (std::size_t index = 0; index < COLOUR_COUNT; ++index) {
        const Rgb colour = indexed_colour(index, palette);
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
}

}  // namespace

const ColourTable& colour_table(Palette palette) {
    static const std::array<ColourTable, std::size(PALETTES)> tables = [] {
        std::array<ColourTable, std::size(PALETTES)> built;
        for (std::size_t i = 0; i < built.size(); ++i) {
            built[i] = build_colour_table(PALETTES[i]);
        }
        return built;
    }();
    return tables[static_cast<std::size_t>(palette)];
}

std::vector<EntryLevels> colour_entry_levels(Palette palette) {
    const ColourTable& table = colour_table(palette);
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

ColourBounds colour_entry_bounds(ValueRange range, Palette palette) {
    ColourBounds bounds;
    for (const EntryLevels& levels : colour_entry_levels(palette)) {
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
