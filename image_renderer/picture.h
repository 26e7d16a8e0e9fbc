// A picture held whole in memory, for the small ones: legends and the bands
// of annotated frames.
#ifndef DISCHARGE_IMAGE_RENDERER_PICTURE_H
#define DISCHARGE_IMAGE_RENDERER_PICTURE_H

#include <vector>

#include "colour_table.h"

struct Picture {
    int width = 0;
    int height = 0;
    std::vector<Rgb> pixels;  // rows from the top, each from the left
};

// A picture of width x height pixels of `colour`.
inline Picture filled_picture(int width, int height, Rgb colour) {
    return {width, height,
            std::vector<Rgb>(static_cast<std::size_t>(width) * static_cast<std::size_t>(height),
                             colour)};
}

#endif  // DISCHARGE_IMAGE_RENDERER_PICTURE_H
