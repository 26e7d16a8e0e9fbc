// The colours of discharge, in one table that every picture takes them from:
// the PPM and PNG images, the legends, the animations and the view page.
//
// A discharge value becomes a colour level 0 to 255 by its position in the
// colour range under the range's stretch (discharge_level()); a level
// becomes one of the colour indices (colour_index()): the levels 0 to 255
// under their own number, every negative level (no discharge, a value the
// ramp cannot place) under NONE_INDEX, every level above 255 under
// ABOVE_INDEX. Each index has its colour in each palette, and the distinct
// colours, in the order of the indices, are the entries of the palette that
// PNG images, animations and the page draw with: at most 256, as PNG and GIF
// palettes hold. For a given range each entry covers the discharge of its
// levels, which colour_entry_bounds() gives exactly.
#ifndef DISCHARGE_IMAGE_RENDERER_COLOUR_TABLE_H
#define DISCHARGE_IMAGE_RENDERER_COLOUR_TABLE_H

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string_view>
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

// Whether `scaled`, a level before truncation, names a 32-bit level.
inline bool placeable_level(double scaled) {
    return scaled >= 0.0 && scaled < 2147483648.0;
}

// The level of a value whose level before truncation is `scaled`: MASK_LEVEL
// for a negative value, UNPLACEABLE_LEVEL where `scaled` is no level.
inline std::int32_t truncated_level(float value, double scaled) {
    const bool placeable = placeable_level(scaled);
    const std::int32_t level = static_cast<std::int32_t>(placeable ? scaled : 0.0);
    return value < 0.0F ? MASK_LEVEL : placeable ? level : UNPLACEABLE_LEVEL;
}

// The square-root ramp: the square root of the value's position between
// minimum and maximum, scaled to 255 and truncated, all in single precision
// but the last multiplication. Without branches: the square root is never
// negative; it is not a number below a typed minimum or for a stored NaN,
// and infinite for infinite discharge, and only a placeable product is
// converted.
inline std::int32_t sqrt_level(float value, ValueRange range) {
    const float position = (value - range.minimum) / (range.maximum - range.minimum);
    return truncated_level(value, static_cast<double>(std::sqrt(position)) * 255.0);
}

// The linear ramp: 255 times the value's position, in double precision.
inline std::int32_t linear_level(float value, ValueRange range) {
    const double minimum = range.minimum;
    const double position =
        (static_cast<double>(value) - minimum) / (static_cast<double>(range.maximum) - minimum);
    return truncated_level(value, position * 255.0);
}

// The logarithmic ramp (a minimum above zero): 255 times the position of the
// value's natural logarithm between those of minimum and maximum, in double
// precision. Zero, whose logarithm is minus infinity, is below every range.
inline std::int32_t log_level(float value, ValueRange range) {
    const double low = std::log(static_cast<double>(range.minimum));
    const double position = (std::log(static_cast<double>(value)) - low) /
                            (std::log(static_cast<double>(range.maximum)) - low);
    return truncated_level(value, position * 255.0);
}

// Colour level 0 to 255 of a non-negative discharge under the range's
// stretch; MASK_LEVEL for a negative value; above 255 for values above the
// maximum; UNPLACEABLE_LEVEL where no 32-bit level exists (below a typed
// minimum, not a number, infinite). Inline, so that the loops over a row that
// call each stretch's function run in vector lanes.
inline std::int32_t discharge_level(float value, ValueRange range) {
    switch (range.stretch) {
        case Stretch::linear:
            return linear_level(value, range);
        case Stretch::log:
            return log_level(value, range);
        case Stretch::sqrt:
            break;
    }
    return sqrt_level(value, range);
}

// The value at `share` (0 to 1) of the way from the range's minimum to its
// maximum under its stretch: the inverse of the level's scaling, in double
// precision, for the legends' marks.
double stretch_value(double share, ValueRange range);

// The stretches and palettes by name, as options give them.
std::optional<Stretch> parse_stretch(std::string_view name);
const char* stretch_name(Stretch stretch);

// The colour indices: a level's own number from 0 to 255, then these two.
inline constexpr std::size_t NONE_INDEX = 256;   // every negative level: no discharge
inline constexpr std::size_t ABOVE_INDEX = 257;  // every level above 255
inline constexpr std::size_t COLOUR_COUNT = 258;

// The colour index of a level. Inline, for the loops over a row.
inline std::size_t colour_index(std::int32_t level) {
    return level < 0           ? NONE_INDEX
           : level > TOP_LEVEL ? ABOVE_INDEX
                               : static_cast<std::size_t>(level);
}

// The palettes: discharge_image's ramp, and matplotlib's colour maps viridis
// and cividis, which stay readable to colour-blind eyes and in grey.
enum class Palette : std::uint8_t { classic, viridis, cividis };

std::optional<Palette> parse_palette(std::string_view name);
const char* palette_name(Palette palette);

// Colour of a level in the classic palette: black below 0, the ramp from 0
// (blue) through 63 (cyan), 127 (green), 191 (yellow) to 255 (red), and
// yellow above 255. The brightest channel value is 252.
Rgb level_colour(std::int32_t level);

// The colour of colour index `index` (below COLOUR_COUNT) in `palette`. In
// viridis and cividis level L is the map's entry L, no discharge a neutral
// light grey and above the range magenta, colours that neither map holds.
Rgb indexed_colour(std::size_t index, Palette palette = Palette::classic);

// The names of the colours of no discharge and of values above the range,
// as legends and the page name them: "black" and "yellow" in the classic
// palette, "light grey" and "magenta" in the others.
const char* none_colour_name(Palette palette);
const char* above_colour_name(Palette palette);

// The colours of the band of an annotated frame, which holds text, in each
// palette: white and black for the classic palette; for viridis and cividis,
// whose 256 levels leave no room in a GIF's 256 colours for more, the light
// grey of no discharge and the map's darkest colour, level 0.
struct BandColours {
    Rgb background;
    Rgb ink;
};
BandColours band_colours(Palette palette);

// The palette: the distinct colours of the colour indices, in the order of
// the indices, and for each index its entry. Each entry covers a run of
// consecutive levels, or no discharge alone; in the classic palette the
// colour of levels above 255 is that of a level of the ramp (yellow, 191 and
// 192). At most 256 entries in every palette (viridis and cividis have
// levels of one 8-bit colour too).
struct ColourTable {
    std::vector<Rgb> colours;  // at most 256
    std::array<std::uint8_t, COLOUR_COUNT> entry{};
};

// The table of `palette`, built once from indexed_colour().
const ColourTable& colour_table(Palette palette = Palette::classic);

// The levels of the ramp drawn in each palette entry: the lowest and the
// highest, -1 for none (no discharge, and above the range where that has a
// colour of its own).
struct EntryLevels {
    std::int32_t lowest = -1;
    std::int32_t highest = -1;
};
std::vector<EntryLevels> colour_entry_levels(Palette palette = Palette::classic);

// The smallest value whose level under `range` is `level` or more (0 to
// 256), or +infinity where no float reaches it.
float level_threshold(std::int32_t level, ValueRange range);

// What a colour says of a value under `range`: each palette entry's values
// from `low` up to, not including, `high` (nullopt for an entry with no
// level of the ramp); `above` the value from which a value is above the
// ramp's top and drawn in ABOVE_INDEX's entry.
struct EntryBounds {
    std::optional<float> low;
    std::optional<float> high;
};
struct ColourBounds {
    std::vector<EntryBounds> entries;  // one per palette entry
    float above = 0.0F;                // level_threshold(256, range)
};
ColourBounds colour_entry_bounds(ValueRange range, Palette palette = Palette::classic);

#endif  // DISCHARGE_IMAGE_RENDERER_COLOUR_TABLE_H
