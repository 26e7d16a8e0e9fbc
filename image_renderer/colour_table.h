// The colours of discharge, in one table that every picture takes them from:
// the PPM and PNG images, the legends and the view page.
//
// A discharge value becomes a colour level by the square root of its
// position in the colour range, scaled to 255 (discharge_level()); a level
// becomes one of the colour indices (colour_index()): the levels 0 to 255
// under their own number, every negative level (no discharge, a value the
// ramp cannot place) under BLACK_INDEX, every level above 255 under
// ABOVE_INDEX. Each index has its colour, and the distinct colours, in the
// order of the indices, are the entries of the palette that PNG images and
// the page draw with. For a given range each entry covers the discharge of
// its levels, which colour_entry_bounds() gives exactly.
#ifndef DISCHARGE_IMAGE_RENDERER_COLOUR_TABLE_H
#define DISCHARGE_IMAGE_RENDERER_COLOUR_TABLE_H

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <vector>

#include "value_range.h"

struct Rgb {
    std::uint8_t red = 0;
    std::uint8_t green = 0;
    std::uint8_t blue = 0;
    bool operator==(const Rgb&) const = default;
};

// Level of a value the ramp cannot place: not a number, infinite, below a
// typed minimum, or so far above the maximum that its level overflows 32 bits.
// Drawn black like every negative level.
inline constexpr std::int32_t UNPLACEABLE_LEVEL = std::numeric_limits<std::int32_t>::min();

// Level of a cell drawn black: missing discharge (a negative value), or the
// masked ring of the images.
inline constexpr std::int32_t MASK_LEVEL = -999;

// The levels of the ramp, 0 (the minimum) to TOP_LEVEL (the maximum).
inline constexpr std::int32_t TOP_LEVEL = 255;

// Colour level 0 to 255 of a non-negative discharge: the square root of its
// position between minimum and maximum, scaled to 255 and truncated, all in
// single precision but the last multiplication. MASK_LEVEL for a negative
// value; above 255 for values above the maximum; UNPLACEABLE_LEVEL
// where no 32-bit level exists. Inline, so that the loops over a row that
// call it run in vector lanes.
inline std::int32_t discharge_level(float value, ValueRange range) {
    // Without branches. The square root is never negative; it is not a number
    // below a typed minimum or for a stored NaN, and infinite for infinite
    // discharge: only a placeable product is converted.
    const float position = (value - range.minimum) / (range.maximum - range.minimum);
    const double scaled = static_cast<double>(std::sqrt(position)) * 255.0;
    const bool placeable = scaled >= 0.0 && scaled < 2147483648.0;
    const std::int32_t level = static_cast<std::int32_t>(placeable ? scaled : 0.0);
    return value < 0.0F ? MASK_LEVEL : placeable ? level : UNPLACEABLE_LEVEL;
}

// The colour indices: a level's own number from 0 to 255, then these two.
inline constexpr std::size_t BLACK_INDEX = 256;  // every negative level
inline constexpr std::size_t ABOVE_INDEX = 257;  // every level above 255
inline constexpr std::size_t COLOUR_COUNT = 258;

// The colour index of a level. Inline, for the loops over a row.
inline std::size_t colour_index(std::int32_t level) {
    return level < 0           ? BLACK_INDEX
           : level > TOP_LEVEL ? ABOVE_INDEX
                               : static_cast<std::size_t>(level);
}

// Colour of a level: black below 0, the ramp from 0 (blue) through 63 (cyan),
// 127 (green), 191 (yellow) to 255 (red), and yellow above 255. The brightest
// channel value is 252.
Rgb level_colour(std::int32_t level);

// The colour of colour index `index` (below COLOUR_COUNT).
Rgb indexed_colour(std::size_t index);

// The palette: the distinct colours of the colour indices, in the order of
// the indices, and for each index its entry. Each entry covers a run of
// consecutive levels, or black alone; the colour of levels above 255 is that
// of a level of the ramp (yellow, 191 and 192).
struct ColourTable {
    std::vector<Rgb> colours;  // at most 256
    std::array<std::uint8_t, COLOUR_COUNT> entry{};
};

// The table, built once from indexed_colour().
const ColourTable& colour_table();

// The levels of the ramp drawn in each palette entry: the lowest and the
// highest, -1 for none (black).
struct EntryLevels {
    std::int32_t lowest = -1;
    std::int32_t highest = -1;
};
std::vector<EntryLevels> colour_entry_levels();

// The smallest value whose level under `range` is `level` or more (0 to
// 256), or +infinity where no float reaches it.
float level_threshold(std::int32_t level, ValueRange range);

// What a colour says of a value under `range`: each palette entry's values
// from `low` up to, not including, `high` (nullopt for black, which has no
// level of the ramp); `above`, where it is set, the value from which a value
// is above the ramp's top and drawn in ABOVE_INDEX's entry.
struct EntryBounds {
    std::optional<float> low;
    std::optional<float> high;
};
struct ColourBounds {
    std::vector<EntryBounds> entries;  // one per palette entry
    float above = 0.0F;                // level_threshold(256, range)
};
ColourBounds colour_entry_bounds(ValueRange range);

#endif  // DISCHARGE_IMAGE_RENDERER_COLOUR_TABLE_H
