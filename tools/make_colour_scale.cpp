// make_colour_scale: draws the colour scale of discharge_image, the legend of
// the range 0 to 100 (per cent of any range), as a PNG for the documentation.
//
//   make_colour_scale FILE.png
#include <iostream>
#include <optional>
#include <string>

#include "legend.h"
#include "output_file.h"
#include "png_image.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: make_colour_scale FILE.png\n";
        return 2;
    }
    const std::optional<std::string> png =
        encode_png_picture(draw_legend({.maximum = 100.0F, .minimum = 0.0F}));
    std::string reason = "zlib failed";
    if (!png || !write_whole_output(argv[1], *png, false, reason)) {
        std::cerr << "make_colour_scale: cannot write " << argv[1] << " (" << reason << ")\n";
        return 1;
    }
    return 0;
}
