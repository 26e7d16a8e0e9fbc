// Encoding one day of discharge as a PNG image: the same pixels as the PPM
// image of that day, north at the top, each cell a square block of `scale`
// pixels a side, in an 8-bit palette (PNG colour type 3): the entries of the
// colour table. Deflate and the chunks' CRC come from zlib. Only discharge_term
// writes PNG: the dialogue programs stay on the standard library.
#ifndef DISCHARGE_IMAGE_RENDERER_PNG_IMAGE_H
#define DISCHARGE_IMAGE_RENDERER_PNG_IMAGE_H

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "discharge_image.h"
#include "picture.h"

// What encoding a day needs, allocated once per worker and reused daily.
struct PngScratch {
    std::vector<std::uint16_t> indices;  // the colour index of each cell of a row
    std::vector<unsigned char> row;      // a filtered pixel row: filter byte, then pixels
    std::vector<unsigned char> above;    // the palette entries of the row above
    std::vector<unsigned char> out;      // deflate's output, one IDAT chunk at a time
};

// How the pixel rows are filtered and deflated. The rows repeating a cell
// row for a cell's height are always filtered Up, which leaves them all
// zeros; the first row of each cell's block is filtered as chosen here.
//
// The defaults were chosen by measuring every combination on days of a
// 1200 x 1000 sample (bench/png_settings): unfiltered first rows deflated as
// runs only (zlib's Z_RLE), whatever the level, were the fastest at both
// scales (about 55 ms a day at five pixels a cell, 10 ms at one) and smaller
// than the usual strategy at levels 1 to 3; level 6 saved another 5 to 15%
// in three times the time, level 9 a little more in ten times. The palette
// entries of a cell, and of cells alike beside it, are the runs.
struct PngSettings {
    enum class FirstRow { none, sub, up } first_row = FirstRow::none;
    int deflate_level = 1;     // zlib's 1 (fastest) to 9 (smallest); runs alone take any
    int deflate_strategy = 3;  // zlib's: 0 default, 1 filtered, 2 Huffman only, 3 runs
    // Each pixel the number of its palette entry as an 8-bit grey level, and
    // no palette: for the view page, which colours the entries itself and
    // reads a cell's entry straight from the pixel.
    bool entries_as_grey = false;
    Palette palette = Palette::classic;  // whose table the entries are of
};

// The PNG of `grid` at `scale` (IMAGE_SCALE_MIN to IMAGE_SCALE_MAX) through
// `write`. Returns false once `write` failed, or if the image is too large
// for PNG (a side of 2^31 pixels or more) or zlib cannot start, with
// `reason` set for those two.
bool write_png_image(const LevelGrid& grid, std::uint32_t scale, PngScratch& scratch,
                     const PieceWriter& write, std::string& reason,
                     const PngSettings& settings = {});

// The PNG of an annotated frame through `write`: `band` above the map of
// `grid` at `scale` pixels a cell in settings.palette, each map row filled
// out to the band's width with `fill`, as 8-bit RGB (colour type 2), since
// the band's text is blended. Returns false as write_png_image() does.
bool write_annotated_png(const LevelGrid& grid, std::uint32_t scale, const Picture& band, Rgb fill,
                         PngScratch& scratch, const PieceWriter& write, std::string& reason,
                         const PngSettings& settings = {});

// A picture (the legend) as an 8-bit RGB PNG (colour type 2), in memory.
std::optional<std::string> encode_png_picture(const Picture& picture);

#endif  // DISCHARGE_IMAGE_RENDERER_PNG_IMAGE_H
