#include "discharge_image.h"

#include <algorithm>
#include <array>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <new>
#include <ostream>

// A level is defined by single-precision arithmetic. Where a compiler keeps
// floats in wider registers (the x87 unit of 32-bit x86), the same value gets
// another level now and then; the build selects SSE arithmetic there.
static_assert(FLT_EVAL_METHOD == 0, "colour levels need single-precision float arithmetic");

namespace {

constexpr std::uint64_t PIXEL_BYTES = 3;
constexpr std::uint64_t CELL_ROW_BYTES = BLOCK_SIZE * PIXEL_BYTES;  // one pixel row of one cell

// Raster bytes are gathered into writes of about this size.
constexpr std::uint64_t RASTER_BLOCK_BYTES = std::uint64_t{1} << 20;

// Every colour a cell can have, as the 15 bytes of its five pixels side by
// side: levels 0 to 255, then black (any negative level), then yellow (above
// 255).
using CellRow = std::array<char, CELL_ROW_BYTES>;
constexpr std::size_t BLACK_INDEX = 256;
constexpr std::size_t YELLOW_INDEX = 257;

std::array<CellRow, 258> make_cell_rows() {
    std::array<CellRow, 258> rows{};
    for (std::size_t index = 0; index < rows.size(); ++index) {
        const std::int32_t level = index == BLACK_INDEX    ? -1
                                   : index == YELLOW_INDEX ? 256
                                                           : static_cast<std::int32_t>(index);
        const Rgb colour = level_colour(level);
        for (std::uint64_t pixel = 0; pixel < BLOCK_SIZE; ++pixel) {
            rows[index][pixel * 3] = static_cast<char>(colour.red);
            rows[index][pixel * 3 + 1] = static_cast<char>(colour.green);
            rows[index][pixel * 3 + 2] = static_cast<char>(colour.blue);
        }
    }
    return rows;
}

const CellRow& cell_row(std::int32_t level) {
    static const std::array<CellRow, 258> rows = make_cell_rows();
    if (level < 0) {
        return rows[BLACK_INDEX];
    }
    return rows[level > 255 ? YELLOW_INDEX : static_cast<std::size_t>(level)];
}

// One pixel row of grid row `levels`: five pixels of each cell's colour.
void build_pixel_row(const std::int32_t* levels, std::size_t ncols, char* out) {
    for (std::size_t column = 0; column < ncols; ++column) {
        std::memcpy(out + column * CELL_ROW_BYTES, cell_row(levels[column]).data(), CELL_ROW_BYTES);
    }
}

}  // namespace

std::optional<std::uint64_t> raster_bytes(std::int32_t ncols, std::int32_t nrows) {
    if (ncols < 0 || nrows < 0) {
        return std::nullopt;
    }
    const auto cells =
        checked_product(static_cast<std::uint64_t>(ncols), static_cast<std::uint64_t>(nrows));
    return cells ? checked_product(*cells, BLOCK_SIZE * BLOCK_SIZE * PIXEL_BYTES) : std::nullopt;
}

std::optional<DayCanvas> make_day_canvas(std::int32_t ncols, std::int32_t nrows) {
    const std::optional<std::uint64_t> raster = raster_bytes(ncols, nrows);
    if (!raster || *raster > std::numeric_limits<std::size_t>::max()) {
        return std::nullopt;
    }
    // The raster's size bounds the cell count and a block of five pixel rows,
    // so neither size below overflows.
    const std::size_t cells = static_cast<std::size_t>(ncols) * static_cast<std::size_t>(nrows);
    const std::size_t five_rows = static_cast<std::size_t>(ncols) * BLOCK_SIZE * CELL_ROW_BYTES;
    try {
        DayCanvas canvas;
        canvas.values.resize(cells);
        canvas.grid.ncols = ncols;
        canvas.grid.nrows = nrows;
        canvas.grid.levels.resize(cells);
        canvas.raster_block.resize(std::max<std::size_t>(five_rows, RASTER_BLOCK_BYTES));
        return canvas;
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    } catch (const std::length_error&) {
        return std::nullopt;
    }
}

std::int32_t discharge_level(float value, ValueRange range) {
    if (value < 0.0F) {
        return MASK_LEVEL;
    }
    const float position = (value - range.minimum) / (range.maximum - range.minimum);
    const double scaled = static_cast<double>(std::sqrt(position)) * 255.0;
    // The square root is never negative; it is not a number below a typed
    // minimum or for a stored NaN, and infinite for infinite discharge.
    if (!(scaled >= 0.0 && scaled < 2147483648.0)) {
        return UNPLACEABLE_LEVEL;
    }
    return static_cast<std::int32_t>(scaled);
}

Rgb level_colour(std::int32_t level) {
    if (level < 0) {
        return {0, 0, 0};
    }
    if (level < 64) {
        return {0, static_cast<std::uint8_t>(4 * level), 252};
    }
    if (level < 128) {
        return {0, 252, static_cast<std::uint8_t>(508 - 4 * level)};
    }
    if (level < 192) {
        return {static_cast<std::uint8_t>(4 * level - 512), 252, 0};
    }
    if (level < 256) {
        return {252, static_cast<std::uint8_t>(1020 - 4 * level), 0};
    }
    return {252, 252, 0};
}

void compute_levels(const std::vector<float>& values, ValueRange range, LevelGrid& grid) {
    const std::size_t ncols = static_cast<std::size_t>(grid.ncols);
    const std::size_t nrows = static_cast<std::size_t>(grid.nrows);
    for (std::size_t row = 0; row < nrows; ++row) {
        std::int32_t* levels = &grid.levels[row * ncols];
        // The ring: the second row and column from each edge, not the outermost.
        if (row == 1 || row + 2 == nrows) {
            std::fill(levels, levels + ncols, MASK_LEVEL);
            continue;
        }
        const float* row_values = &values[row * ncols];
        for (std::size_t column = 0; column < ncols; ++column) {
            levels[column] = discharge_level(row_values[column], range);
        }
        if (ncols >= 2) {
            levels[1] = MASK_LEVEL;
            levels[ncols - 2] = MASK_LEVEL;
        }
    }
}

bool fill_level_grid(DischargeFile& data, ValueRange range, DayCanvas& canvas) {
    if (read_discharge_values(data, canvas.values) != canvas.values.size()) {
        return false;
    }
    compute_levels(canvas.values, range, canvas.grid);
    return true;
}

void write_image_header(std::ostream& out, std::int32_t ncols, std::int32_t nrows) {
    out << "P6\n"
        << static_cast<std::uint64_t>(ncols) * BLOCK_SIZE << ' '
        << static_cast<std::uint64_t>(nrows) * BLOCK_SIZE << "\n255\n";
}

void write_raster(std::ostream& out, const LevelGrid& grid, std::vector<char>& block) {
    const std::size_t ncols = static_cast<std::size_t>(grid.ncols);
    const std::size_t pixel_row = ncols * CELL_ROW_BYTES;
    const std::size_t five_rows = pixel_row * BLOCK_SIZE;
    std::size_t used = 0;
    // North at the top: the last stored row comes first. Each grid row is
    // built once as a pixel row and repeated for the block's height.
    for (std::size_t row = static_cast<std::size_t>(grid.nrows); row-- > 0;) {
        if (used + five_rows > block.size()) {
            out.write(block.data(), static_cast<std::streamsize>(used));
            used = 0;
            if (!out) {
                return;
            }
        }
        char* first = block.data() + used;
        build_pixel_row(&grid.levels[row * ncols], ncols, first);
        for (std::size_t copy = 1; copy < BLOCK_SIZE; ++copy) {
            std::memcpy(first + copy * pixel_row, first, pixel_row);
        }
        used += five_rows;
    }
    out.write(block.data(), static_cast<std::streamsize>(used));
}

bool open_discharge_image(OutputFile& image, const std::string& path, std::int32_t ncols,
                          std::int32_t nrows) {
    if (!create_output_file(image, path, false)) {
        return false;
    }
    // A header that fails to be written fails the image when it is committed.
    OutputFileBuffer buffer(image);
    std::ostream out(&buffer);
    write_image_header(out, ncols, nrows);
    return true;
}

bool write_discharge_raster(OutputFile& image, DayCanvas& canvas) {
    OutputFileBuffer buffer(image);
    std::ostream out(&buffer);
    write_raster(out, canvas.grid, canvas.raster_block);
    return commit_output_file(image);
}
