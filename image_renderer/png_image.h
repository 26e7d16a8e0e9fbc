// Encoding one day of discharge as a PNG image: the same pixels as the PPM
// image of that day, north at the top, each cell a square block of `scale`
// pixels a side, in an 8-bit palette (PNG colour type 3) of the images' own
// colours. Deflate and the chunks' CRC come from zlib. Only discharge_term
// writes PNG: the dialogue programs stay on the standard library.
#ifndef DISCHARGE_IMAGE_RENDERER_PNG_IMAGE_H
#define DISCHARGE_IMAGE_RENDERER_PNG_IMAGE_H

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "discharge_image.h"
#include "legend.h"

// The images' palette: the distinct colours of the colour indices, in order
// of first appearance, and for each colour index its entry.
struct ImagePalette {
    std::vector<Rgb> colours;  // at most 256
    std::array<std::uint8_t, COLOUR_COUNT> entry{};
};

// The palette, built once from indexed_colour().
const ImagePalette& image_palette();

// What encoding a day needs, allocated once per worker and reused daily.
struct PngScratch {
    std::vector<std::uint16_t> indices;  // the colour index of each cell of a row
    std::vector<unsigned char> row;      // a filtered pixel row: filter byte, then pixels
    std::vector<unsigned char> out;      // deflate's output, one IDAT chunk at a time
};

// The PNG of `grid` at `scale` (IMAGE_SCALE_MIN to IMAGE_SCALE_MAX) through
// `write`. Returns false once `write` failed, or if the image is too large
// for PNG (a side of 2^31 pixels or more) or zlib cannot start, with
// `reason` set for those two.
bool write_png_image(const LevelGrid& grid, std::uint32_t scale, PngScratch& scratch,
                     const PieceWriter& write, std::string& reason);

// The most bytes the PNG of an ncols x nrows grid at `scale` can take,
// whatever its levels: deflate never yields more than zlib's bound for its
// input, the filtered rows, which it could have stored as they are; with the
// chunks around them. Nullopt if the image is too large for PNG.
std::optional<std::uint64_t> png_image_bytes_bound(std::int32_t ncols, std::int32_t nrows,
                                                   std::uint32_t scale);

// A picture (the legend) as an 8-bit RGB PNG (colour type 2), in memory.
std::optional<std::string> encode_png_picture(const Picture& picture);

#endif  // DISCHARGE_IMAGE_RENDERER_PNG_IMAGE_H
