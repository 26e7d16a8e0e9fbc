#include "discharge_image.h"

#include <algorithm>
#include <array>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <ostream>
#include <sstream>

// A level is defined by single-precision arithmetic (discharge_level()).
// Where a compiler keeps floats in wider registers (the x87 unit of 32-bit
// x86), the same value gets another level now and then; the build selects
// SSE arithmetic there.
static_assert(FLT_EVAL_METHOD == 0, "colour levels need single-precision float arithmetic");

namespace {

constexpr std::uint64_t PIXEL_BYTES = 3;

// Pixel rows are handed to the file a batch at a time, each once for every
// pixel row of a cell's height: batches of about this many bytes of pixel
// rows make writes of about 1 MiB at five pixels a cell. At most this many
// rows a batch keeps the pieces of a write within what every system takes in
// one call.
constexpr std::size_t BATCH_BYTES = std::size_t{192} << 10;
constexpr std::size_t BATCH_ROWS_LIMIT = 200;

// Every colour a cell can have, as the pixels of one pixel row of its block
// side by side and spare bytes after them, so that a cell is placed with one
// fixed-size copy whose spare bytes the next cell overwrites: levels 0 to
// 255, then black (any negative level), then above 255, as the colour
// indices number them. A block of up to five pixels (15 bytes) is copied 16
// bytes at a time, a wider one 32.
using CellRow = std::array<char, 32>;
constexpr std::size_t NARROW_COPY = 16;
static_assert(IMAGE_SCALE_MAX * PIXEL_BYTES <= sizeof(CellRow));

using CellRows = std::array<CellRow, COLOUR_COUNT>;

CellRows make_cell_rows(std::uint32_t scale, Palette palette) {
    CellRows rows{};
    for (std::size_t index = 0; index < rows.size(); ++index) {
        const Rgb colour = indexed_colour(index, palette);
        for (std::uint32_t pixel = 0; pixel < scale; ++pixel) {
            rows[index][pixel * 3] = static_cast<char>(colour.red);
            rows[index][pixel * 3 + 1] = static_cast<char>(colour.green);
            rows[index][pixel * 3 + 2] = static_cast<char>(colour.blue);
        }
    }
    return rows;
}

// The cell rows of `scale` pixels a cell in `palette`, built once for each
// scale and palette.
const CellRows& cell_rows(std::uint32_t scale, Palette palette) {
    constexpr std::size_t PALETTE_COUNT = 3;
    using Tables = std::array<std::array<CellRows, IMAGE_SCALE_MAX>, PALETTE_COUNT>;
    static const std::unique_ptr<const Tables> tables = [] {
        auto built = std::make_unique<Tables>();
        for (std::size_t p = 0; p < PALETTE_COUNT; ++p) {
            for (std::uint32_t s = 1; s <= IMAGE_SCALE_MAX; ++s) {
                (*built)[p][s - 1] = make_cell_rows(s, static_cast<Palette>(p));
            }
        }
        return built;
    }();
    return (*tables)[static_cast<std::size_t>(palette)][scale - 1];
}

// ---------------------------------------------------------------------------
// The kernels: the loops over a row that run in vector lanes, each compiled
// for the baseline of the target and, on x86, for AVX2.

// The levels of one row, one value a lane, in a loop of each stretch's own.
[[gnu::always_inline]] inline void level_row(const float* values, std::size_t count,
                                             ValueRange range, std::int32_t* levels) {
    switch (range.stretch) {
        case Stretch::sqrt:
            for (std::size_t i = 0; i < count; ++i) {
                levels[i] = sqrt_level(values[i], range);
            }
            break;
        case Stretch::linear:
            for (std::size_t i = 0; i < count; ++i) {
                levels[i] = linear_level(values[i], range);
            }
            break;
        case Stretch::log:
            for (std::size_t i = 0; i < count; ++i) {
                levels[i] = log_level(values[i], range);
            }
            break;
    }
}

// The colour of each cell of a row, as its index in the table of cell rows.
[[gnu::always_inline]] inline void colour_row(const std::int32_t* levels, std::size_t count,
                                              std::uint16_t* indices) {
    for (std::size_t i = 0; i < count; ++i) {
        indices[i] = static_cast<std::uint16_t>(colour_index(levels[i]));
    }
}

void level_row_baseline(const float* values, std::size_t count, ValueRange range,
                        std::int32_t* levels) {
    level_row(values, count, range, levels);
}

void colour_row_baseline(const std::int32_t* levels, std::size_t count, std::uint16_t* indices) {
    colour_row(levels, count, indices);
}

DISCHARGE_AVX2 void level_row_avx2(const float* values, std::size_t count, ValueRange range,
                                   std::int32_t* levels) {
    level_row(values, count, range, levels);
}

DISCHARGE_AVX2 void colour_row_avx2(const std::int32_t* levels, std::size_t count,
                                    std::uint16_t* indices) {
    colour_row(levels, count, indices);
}

using LevelRow = void (*)(const float*, std::size_t, ValueRange, std::int32_t*);
using ColourRow = void (*)(const std::int32_t*, std::size_t, std::uint16_t*);

LevelRow level_row_of(VectorKernel kernel) {
    return kernel == VectorKernel::avx2 ? level_row_avx2 : level_row_baseline;
}

ColourRow colour_row_of(VectorKernel kernel) {
    return kernel == VectorKernel::avx2 ? colour_row_avx2 : colour_row_baseline;
}

// Places each cell's row of pixels, `Copy` bytes at a time.
template <std::size_t Copy>
void place_cells(const CellRows& rows, const std::uint16_t* indices, std::size_t ncols,
                 std::size_t cell_bytes, char* out) {
    for (std::size_t column = 0; column < ncols; ++column) {
        std::memcpy(out + column * cell_bytes, rows[indices[column]].data(), Copy);
    }
}

// Bytes copied for each cell at `scale`.
std::size_t copy_bytes(std::uint32_t scale) {
    return scale * PIXEL_BYTES <= NARROW_COPY ? NARROW_COPY : sizeof(CellRow);
}

// One pixel row of grid row `levels`: `scale` pixels of each cell's colour.
// First the colour of every cell, in vector lanes, into `indices`; then one
// copy a cell. The last copy reaches past the row, into room the buffer has.
void build_pixel_row(const std::int32_t* levels, std::size_t ncols, std::uint32_t scale,
                     Palette palette, ColourRow colour_row_with, std::uint16_t* indices,
                     char* out) {
    const CellRows& rows = cell_rows(scale, palette);
    const std::size_t cell_bytes = scale * PIXEL_BYTES;
    colour_row_with(levels, ncols, indices);
    if (copy_bytes(scale) == NARROW_COPY) {
        place_cells<NARROW_COPY>(rows, indices, ncols, cell_bytes, out);
    } else {
        place_cells<sizeof(CellRow)>(rows, indices, ncols, cell_bytes, out);
    }
}

// Bytes between the starts of two pixel rows in the buffer: the row, the
// spare bytes of its last cell's copy, rounded up to a cache line.
std::size_t pixel_row_stride(std::size_t ncols, std::uint32_t scale) {
    const std::size_t cell_bytes = scale * PIXEL_BYTES;
    return (ncols * cell_bytes + copy_bytes(scale) - cell_bytes + 63) / 64 * 64;
}

bool valid_scale(std::uint32_t scale) {
    return scale >= IMAGE_SCALE_MIN && scale <= IMAGE_SCALE_MAX;
}

}  // namespace

void colour_indices(const std::int32_t* levels, std::size_t count, std::uint16_t* indices) {
    colour_row_of(widest_vector_kernel())(levels, count, indices);
}

std::optional<std::uint64_t> raster_bytes(std::int32_t ncols, std::int32_t nrows,
                                          std::uint32_t scale) {
    if (ncols < 0 || nrows < 0 || !valid_scale(scale)) {
        return std::nullopt;
    }
    const auto cells =
        checked_product(static_cast<std::uint64_t>(ncols), static_cast<std::uint64_t>(nrows));
    return cells ? checked_product(*cells, std::uint64_t{scale} * scale * PIXEL_BYTES)
                 : std::nullopt;
}

std::optional<DayCanvas> make_day_canvas(std::int32_t ncols, std::int32_t nrows,
                                         std::uint32_t scale) {
    // What is allocated must be counted in this machine's sizes: the values
    // and levels of a day, and a pixel row at the scale drawn (with room for
    // the last cell's copy and alignment). The image itself is written a
    // batch of rows at a time and never held whole, so it may be larger than
    // memory can count, as on 32-bit systems.
    if (ncols < 0 || nrows < 0 || !valid_scale(scale)) {
        return std::nullopt;
    }
    const std::optional<std::uint64_t> value_bytes = checked_product(
        checked_product(static_cast<std::uint64_t>(ncols), static_cast<std::uint64_t>(nrows))
            .value_or(std::numeric_limits<std::uint64_t>::max()),
        sizeof(float));
    const std::uint64_t row_bytes =
        static_cast<std::uint64_t>(ncols) * scale * PIXEL_BYTES + sizeof(CellRow) + 64;
    if (!value_bytes || *value_bytes > std::numeric_limits<std::size_t>::max() ||
        row_bytes > std::numeric_limits<std::size_t>::max()) {
        return std::nullopt;
    }
    const std::size_t cells = static_cast<std::size_t>(ncols) * static_cast<std::size_t>(nrows);
    const std::size_t stride = pixel_row_stride(static_cast<std::size_t>(ncols), scale);
    const std::size_t batch_rows =
        std::clamp<std::size_t>(BATCH_BYTES / stride, 1, BATCH_ROWS_LIMIT);
    try {
        DayCanvas canvas;
        canvas.scale = scale;
        canvas.values.resize(cells);
        canvas.grid.ncols = ncols;
        canvas.grid.nrows = nrows;
        canvas.grid.levels.resize(cells);
        canvas.next_grid = canvas.grid;
        canvas.pixel_rows.resize(batch_rows * stride);
        return canvas;
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    } catch (const std::length_error&) {
        return std::nullopt;
    }
}

void compute_levels(const std::vector<float>& values, ValueRange range, LevelGrid& grid) {
    compute_levels(values, range, grid, widest_vector_kernel());
}

void compute_levels(const std::vector<float>& values, ValueRange range, LevelGrid& grid,
                    VectorKernel kernel) {
    const LevelRow level_row_with = level_row_of(kernel);
    const std::size_t ncols = static_cast<std::size_t>(grid.ncols);
    const std::size_t nrows = static_cast<std::size_t>(grid.nrows);
    for (std::size_t row = 0; row < nrows; ++row) {
        std::int32_t* levels = &grid.levels[row * ncols];
        // The ring: the second row and column from each edge, not the outermost.
        if (row == 1 || row + 2 == nrows) {
            std::fill(levels, levels + ncols, MASK_LEVEL);
            continue;
        }
        level_row_with(&values[row * ncols], ncols, range, levels);
        if (ncols >= 2) {
            levels[1] = MASK_LEVEL;
            levels[ncols - 2] = MASK_LEVEL;
        }
    }
}

bool fill_level_grid(DischargeFile& data, ValueRange range, DayCanvas& canvas) {
    return fill_level_grid(data, range, canvas.values, canvas.grid);
}

bool fill_level_grid(DischargeFile& data, ValueRange range, std::vector<float>& values,
                     LevelGrid& grid) {
    if (read_discharge_values(data, values) != values.size()) {
        return false;
    }
    compute_levels(values, range, grid);
    return true;
}

void write_image_header(std::ostream& out, std::int32_t ncols, std::int32_t nrows,
                        std::uint32_t scale) {
    out << "P6\n"
        << static_cast<std::uint64_t>(ncols) * scale << ' '
        << static_cast<std::uint64_t>(nrows) * scale << "\n255\n";
}

bool write_raster(const LevelGrid& grid, std::vector<char>& pixel_rows, const PieceWriter& write) {
    return write_raster(grid, BLOCK_SIZE, pixel_rows, write, widest_vector_kernel());
}

bool write_raster(const LevelGrid& grid, std::vector<char>& pixel_rows, const PieceWriter& write,
                  VectorKernel kernel) {
    return write_raster(grid, BLOCK_SIZE, pixel_rows, write, kernel);
}

bool write_raster(const LevelGrid& grid, std::uint32_t scale, std::vector<char>& pixel_rows,
                  const PieceWriter& write, VectorKernel kernel, Palette palette) {
    const ColourRow colour_row_with = colour_row_of(kernel);
    const std::size_t ncols = static_cast<std::size_t>(grid.ncols);
    const std::size_t pixel_row = ncols * scale * PIXEL_BYTES;
    const std::size_t stride = pixel_row_stride(ncols, scale);
    const std::size_t batch_rows = std::min(pixel_rows.size() / stride, BATCH_ROWS_LIMIT);
    std::vector<std::span<const char>> pieces;
    pieces.reserve(batch_rows * scale);
    std::vector<std::uint16_t> indices(ncols);
    // North at the top: the last stored row comes first. Each grid row is
    // built once as a pixel row and handed over once for every pixel row of
    // the block's height, without copying it.
    std::size_t built = 0;
    for (std::size_t row = static_cast<std::size_t>(grid.nrows); row-- > 0;) {
        char* slot = pixel_rows.data() + built * stride;
        build_pixel_row(&grid.levels[row * ncols], ncols, scale, palette, colour_row_with,
                        indices.data(), slot);
        pieces.insert(pieces.end(), scale, std::span<const char>(slot, pixel_row));
        if (++built == batch_rows) {
            if (!write(pieces)) {
                return false;
            }
            pieces.clear();
            built = 0;
        }
    }
    return pieces.empty() || write(pieces);
}

bool open_discharge_image(OutputFile& image, const std::string& path, std::int32_t ncols,
                          std::int32_t nrows, std::uint32_t scale) {
    if (!create_output_file(image, path, false)) {
        return false;
    }
    // A header that fails to be written fails the image when it is committed.
    std::ostringstream out;
    write_image_header(out, ncols, nrows, scale);
    const std::string header = out.str();
    write_output_file(image, header.data(), header.size());
    return true;
}

bool write_discharge_raster(OutputFile& image, DayCanvas& canvas) {
    // A raster that fails to be written fails the commit.
    write_raster(
        canvas.grid, canvas.scale, canvas.pixel_rows,
        [&image](std::span<const std::span<const char>> pieces) {
            return write_output_pieces(image, pieces);
        },
        widest_vector_kernel(), canvas.palette);
    return commit_output_file(image);
}
