// Encoding one day of discharge as a colour image: each grid cell becomes a
// 5 x 5 block of pixels whose colour (colour_table.h) follows a blue - cyan -
// green - yellow - red ramp over the square root of the cell's position in the
// value range (or another palette and stretch, for discharge_term). Images are binary portable
// pixmaps (P6) with north at the top.
#ifndef DISCHARGE_IMAGE_RENDERER_DISCHARGE_IMAGE_H
#define DISCHARGE_IMAGE_RENDERER_DISCHARGE_IMAGE_H

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "colour_table.h"
#include "output_file.h"
#include "run_input.h"
#include "value_range.h"
#include "vector_kernel.h"

// Side of the square block of pixels that draws one grid cell, as
// discharge_image draws it; discharge_term draws from IMAGE_SCALE_MIN to
// IMAGE_SCALE_MAX pixels a side.
inline constexpr std::uint32_t BLOCK_SIZE = 5;
inline constexpr std::uint32_t IMAGE_SCALE_MIN = 1;
inline constexpr std::uint32_t IMAGE_SCALE_MAX = 10;

// One day's colour levels, row index 0 (the southernmost row) first.
struct LevelGrid {
    std::int32_t ncols = 0;
    std::int32_t nrows = 0;
    std::vector<std::int32_t> levels;  // nrows x ncols
};

// Bytes of the raster of an ncols x nrows grid (3 bytes a pixel, `scale` x
// `scale` pixels a cell), or nullopt if that does not fit in 64 bits or the
// scale is out of bounds.
std::optional<std::uint64_t> raster_bytes(std::int32_t ncols, std::int32_t nrows,
                                          std::uint32_t scale = BLOCK_SIZE);

// Everything drawing a day needs, allocated once per run and reused daily, so
// that memory stays bounded by three day grids whatever the month's length.
struct DayCanvas {
    std::uint32_t scale = BLOCK_SIZE;    // pixels a cell side in the images drawn
    Palette palette = Palette::classic;  // of the PPM images drawn
    std::vector<float> values;           // the day's discharge, as read in one block
    LevelGrid grid;                      // the levels of the day being drawn
    LevelGrid next_grid;                 // the next day's levels, computed while it is written
    std::vector<char> pixel_rows;        // a batch of pixel rows on their way to the file
};

// Allocates the canvas for an ncols x nrows grid drawn at `scale`. Returns
// nullopt when memory runs out, the scale is out of bounds, or a day's grid
// or a pixel row at that scale cannot be counted in this machine's sizes.
// The image is never held whole: it may be larger than memory.
std::optional<DayCanvas> make_day_canvas(std::int32_t ncols, std::int32_t nrows,
                                         std::uint32_t scale = BLOCK_SIZE);

// The colour index of each of `count` levels (colour_index()), in vector
// lanes where the machine has them.
void colour_indices(const std::int32_t* levels, std::size_t count, std::uint16_t* indices);

// Stores the level of every cell of one day's `values` (row index 0 first) in
// `grid`, with the widest kernel available. The second row and column from
// each edge form a masked ring whatever their values.
void compute_levels(const std::vector<float>& values, ValueRange range, LevelGrid& grid);

// As compute_levels(), with `kernel`, which must be available.
void compute_levels(const std::vector<float>& values, ValueRange range, LevelGrid& grid,
                    VectorKernel kernel);

// Reads the next day of the monthly file into canvas.values and fills
// canvas.grid with its levels. Returns false if the data ran out before the
// day was complete.
bool fill_level_grid(DischargeFile& data, ValueRange range, DayCanvas& canvas);

// As fill_level_grid(data, range, canvas), reading into `values` and
// storing the levels in `grid`.
bool fill_level_grid(DischargeFile& data, ValueRange range, std::vector<float>& values,
                     LevelGrid& grid);

// The P6 header: "P6", the width and height in pixels, and 255.
void write_image_header(std::ostream& out, std::int32_t ncols, std::int32_t nrows,
                        std::uint32_t scale = BLOCK_SIZE);

// Hands over pieces of bytes to be written in order; returns false once any
// failed to be written.
using PieceWriter = std::function<bool(std::span<const std::span<const char>>)>;

// The raster, northernmost row first, through `write`: each grid row becomes
// one pixel row, built in `pixel_rows` (make_day_canvas() sizes it for a
// batch of rows) and handed over five times. Returns false, stopping, once
// `write` has failed.
bool write_raster(const LevelGrid& grid, std::vector<char>& pixel_rows, const PieceWriter& write);

// As write_raster(), with `kernel`, which must be available.
bool write_raster(const LevelGrid& grid, std::vector<char>& pixel_rows, const PieceWriter& write,
                  VectorKernel kernel);

// As write_raster(), at `scale` pixels a cell side (pixel_rows sized by
// make_day_canvas() for that scale), in `palette`.
bool write_raster(const LevelGrid& grid, std::uint32_t scale, std::vector<char>& pixel_rows,
                  const PieceWriter& write, VectorKernel kernel,
                  Palette palette = Palette::classic);

// Creates the image that will appear at `path` (under a temporary name until
// complete) and writes the header. Returns false, having created nothing, if
// the image cannot be created there.
bool open_discharge_image(OutputFile& image, const std::string& path, std::int32_t ncols,
                          std::int32_t nrows, std::uint32_t scale = BLOCK_SIZE);

// Writes the raster of canvas.grid at canvas.scale and puts the complete image under its
// name. Returns false, leaving no file behind, if anything failed to be
// written, also on closing.
bool write_discharge_raster(OutputFile& image, DayCanvas& canvas);

#endif  // DISCHARGE_IMAGE_RENDERER_DISCHARGE_IMAGE_H
