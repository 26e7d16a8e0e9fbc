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

// The legend of `range` (minimum below maximum), drawn with the images' own
// level and colour functions: the ramp is linear in discharge.
Picture draw_legend(ValueRange range);

// Writes `picture` to `path` as a binary PPM, whole or not at all. False if
// it cannot be created or written.
bool write_picture(const std::string& path, const Picture& picture);

#endif  // DISCHARGE_IMAGE_RENDERER_LEGEND_H
