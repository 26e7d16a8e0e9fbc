// The legend of a colour range: the colour ramp of the images between a
// swatch of the colour of no discharge and one of values above the range,
// each named, with the discharge written where the ramp begins, reaches the
// levels 63, 127 and 191 (cyan, green and yellow in the classic palette),
// and ends. Text is in the font of text_drawing.h. The same legend stands
// beside a month's images and in the band of an annotated frame.
#ifndef DISCHARGE_IMAGE_RENDERER_LEGEND_H
#define DISCHARGE_IMAGE_RENDERER_LEGEND_H

#include <string>
#include <vector>

#include "discharge_image.h"
#include "picture.h"

// How a legend is drawn: the pixel height of its text, its colours, and the
// width of its ramp.
struct LegendStyle {
    int text_height = 14;
    Rgb background{255, 255, 255};
    Rgb ink{0, 0, 0};
    int ramp_width = 512;
};

// Where a legend's parts are, in the picture it is drawn in: the ramp from
// column `ramp_left` for `ramp_width` columns, the colours from row `top` for
// `bar` rows, and the swatches of no discharge and above the range, each
// with its name centred below it.
struct LegendLayout {
    int left = 0;  // the legend's first column
    int top = 0;
    int width = 0;
    int height = 0;
    int bar = 0;
    int none_width = 0;  // of the swatch of no discharge, the width of its name
    int ramp_left = 0;
    int ramp_width = 0;
    int above_left = 0;
    int above_width = 0;
    int tick = 0;  // rows of a tick below the colours
    int line = 0;  // rows of a line of labels
};

// The layout of a legend in `style` drawn from column `left`, row `top`.
LegendLayout legend_layout(const LegendStyle& style, int left = 0, int top = 0);

// The style whose legend is `width` columns wide at text of `text_height`
// pixels (the ramp takes what the swatches leave), or nullopt where the
// ramp would have fewer than 64 columns.
std::optional<LegendStyle> legend_style_of_width(int width, int text_height, Rgb background,
                                                 Rgb ink);

// A value written below the ramp: the picture column of its tick, the row of
// labels it is written in (0 the upper, 1 the lower), and its text.
struct LegendLabel {
    int column = 0;
    int row = 0;
    std::string text;
};

// The labels of the legend of `range` laid out as `layout`, from left to
// right: always the range's own minimum and maximum under the ends of the
// ramp, and between them the discharge where the ramp first reaches the
// levels 63, 127 and 191, each unless it falls on an end or its text would
// crowd another in its row.
std::vector<LegendLabel> legend_labels(ValueRange range, const LegendLayout& layout,
                                       int text_height);

// Draws the legend of `range` (minimum below maximum) in `palette` into
// `picture` as `layout` places it, with the images' own level and colour
// functions: the ramp is linear in discharge, or in its logarithm for a log
// stretch.
void draw_legend_into(Picture& picture, const LegendLayout& layout, ValueRange range,
                      Palette palette, const LegendStyle& style);

// The legend of `range` in `palette` alone, on white, as
// legend_picture_layout() places it.
Picture draw_legend(ValueRange range, Palette palette = Palette::classic);
LegendLayout legend_picture_layout();

// The names under the swatches.
inline constexpr const char* NONE_SWATCH_NAME = "no discharge";
inline constexpr const char* ABOVE_SWATCH_NAME = "above range";

// Writes `picture` to `path` as a binary PPM, whole or not at all. False,
// with `reason` in the system's words, if it cannot be created or written.
bool write_picture(const std::string& path, const Picture& picture, std::string& reason);

#endif  // DISCHARGE_IMAGE_RENDERER_LEGEND_H
