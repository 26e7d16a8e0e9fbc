// The legend of a colour range: the colour ramp of the images with the
// discharge written where it begins, reaches cyan, green and yellow, and
// ends, between a black swatch (no discharge) and a yellow one (above a typed
// maximum). The digits come from a small bitmap font of the code's own.
#ifndef DISCHARGE_IMAGE_RENDERER_LEGEND_H
#define DISCHARGE_IMAGE_RENDERER_LEGEND_H

#include <string>
#include <vector>

#include "discharge_image.h"

struct Picture {
    int width = 0;
    int height = 0;
    std::vector<Rgb> pixels;  // rows from the top, each from the left
};

// A value written below the ramp: the picture column of its tick, the row of
// labels it is written in (0 the upper, 1 the lower), and its text.
struct LegendLabel {
    int column = 0;
    int row = 0;
    std::string text;
};

// The labels of the legend of `range`, from left to right: always the
// range's own minimum and maximum under the ends of the ramp, and between
// them the discharge where the ramp first reaches cyan, green and yellow,
// each unless it falls on an end or its text would crowd another in its row.
std::vector<LegendLabel> legend_labels(ValueRange range);

// The legend of `range` (minimum below maximum), drawn with the images' own
// level and colour functions: the ramp is linear in discharge.
Picture draw_legend(ValueRange range, Palette palette = Palette::classic);

// Writes `picture` to `path` as a binary PPM, whole or not at all. False,
// with `reason` in the system's words, if it cannot be created or written.
bool write_picture(const std::string& path, const Picture& picture, std::string& reason);

#endif  // DISCHARGE_IMAGE_RENDERER_LEGEND_H
