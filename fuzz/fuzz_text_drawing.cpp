// Any bytes as text drawn in the built-in font, as the units of an annotated
// frame come from the command line: whatever the bytes (broken UTF-8,
// characters the font lacks), at any height and place, the text is drawn
// within the picture and nothing crashes.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz_tree.h"
#include "text_drawing.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3) {
        return 0;
    }
    const int height = 1 + data[0] % 48;
    const int left = static_cast<int>(data[1]) - 128;
    const int baseline = static_cast<int>(data[2]) % 64 - 16;
    const std::string_view text(reinterpret_cast<const char*>(data + 3), size - 3);
    Picture picture = filled_picture(64, 32, {255, 255, 255});
    draw_text(picture, left, baseline, text, height, {0, 0, 0});
    require(picture.pixels.size() == 64U * 32U, "the picture keeps its size");
    // Black blended over white leaves greys only.
    for (const Rgb& pixel : picture.pixels) {
        require(pixel.red == pixel.green && pixel.green == pixel.blue, "text blends to grey");
    }
    require(!text.empty() || text_width(text, height) == 0, "an empty text has no width");
    return 0;
}
