#include "png_image.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <span>

// The strategies as PngSettings numbers them are zlib's own.
static_assert(Z_DEFAULT_STRATEGY == 0 && Z_FILTERED == 1 && Z_HUFFMAN_ONLY == 2 && Z_RLE == 3);

namespace {

// Bytes of deflate's output gathered into one IDAT chunk.
constexpr std::size_t CHUNK_DATA = std::size_t{1} << 16;

// PNG's row filters.
constexpr unsigned char FILTER_NONE = 0;
constexpr unsigned char FILTER_SUB = 1;  // each byte less the one a pixel to its left
constexpr unsigned char FILTER_UP = 2;   // each byte less the one above it

constexpr unsigned char SIGNATURE[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

void put_big_endian(std::uint32_t value, unsigned char* bytes) {
    bytes[0] = static_cast<unsigned char>(value >> 24);
    bytes[1] = static_cast<unsigned char>(value >> 16);
    bytes[2] = static_cast<unsigned char>(value >> 8);
    bytes[3] = static_cast<unsigned char>(value);
}

// A chunk: its length, its type, its data and the CRC of type and data.
struct Chunk {
    unsigned char head[8];
    unsigned char crc[4];
};

Chunk make_chunk(const char* type, std::span<const unsigned char> data) {
    Chunk chunk{};
    put_big_endian(static_cast<std::uint32_t>(data.size()), chunk.head);
    std::memcpy(chunk.head + 4, type, 4);
    uLong crc = crc32(0L, chunk.head + 4, 4);
    // zlib takes a null buffer (that of empty data) as a request for the
    // initial value.
    if (!data.empty()) {
        crc = crc32(crc, data.data(), static_cast<uInt>(data.size()));
    }
    put_big_endian(static_cast<std::uint32_t>(crc), chunk.crc);
    return chunk;
}

std::span<const char> as_chars(const void* bytes, std::size_t size) {
    return {static_cast<const char*>(bytes), size};
}

bool write_chunk(const PieceWriter& write, const char* type, std::span<const unsigned char> data) {
    const Chunk chunk = make_chunk(type, data);
    const std::span<const char> pieces[] = {as_chars(chunk.head, sizeof chunk.head),
                                            as_chars(data.data(), data.size()),
                                            as_chars(chunk.crc, sizeof chunk.crc)};
    return write(pieces);
}

bool write_header(const PieceWriter& write, std::uint32_t width, std::uint32_t height,
                  unsigned char colour_type) {
    unsigned char header[13] = {};
    put_big_endian(width, header);
    put_big_endian(height, header + 4);
    header[8] = 8;  // bits a sample (a palette index, or a channel)
    header[9] = colour_type;
    // header[10..12]: deflate, adaptive filters, no interlace
    const std::span<const char> signature[] = {as_chars(SIGNATURE, sizeof SIGNATURE)};
    return write(signature) && write_chunk(write, "IHDR", header);
}

// A deflate stream whose output leaves in IDAT chunks. zlib's state is
// freed however it ends.
struct ImageData {
    z_stream stream{};
    bool started = false;
    ~ImageData() {
        if (started) {
            deflateEnd(&stream);
        }
    }
};

// Compresses `input` (all of it) with `flush`, writing each full output
// buffer as an IDAT chunk, and the rest too once finished.
bool deflate_into_chunks(ImageData& data, std::span<const unsigned char> input, int flush,
                         std::vector<unsigned char>& out, const PieceWriter& write) {
    data.stream.next_in = const_cast<Bytef*>(input.data());
    data.stream.avail_in = static_cast<uInt>(input.size());
    for (;;) {
        const int status = deflate(&data.stream, flush);
        if (status == Z_STREAM_ERROR) {
            return false;
        }
        const std::size_t produced = out.size() - data.stream.avail_out;
        const bool finished = status == Z_STREAM_END;
        if (data.stream.avail_out == 0 || (finished && produced > 0)) {
            if (!write_chunk(write, "IDAT", std::span(out.data(), produced))) {
                return false;
            }
            data.stream.next_out = out.data();
            data.stream.avail_out = static_cast<uInt>(out.size());
        }
        if (finished ||
            (flush == Z_NO_FLUSH && data.stream.avail_in == 0 && data.stream.avail_out > 0)) {
            return true;
        }
    }
}

bool start_image_data(ImageData& data, std::vector<unsigned char>& out, std::string& reason,
                      const PngSettings& settings = {}) {
    out.resize(CHUNK_DATA);
    if (deflateInit2(&data.stream, settings.deflate_level, Z_DEFLATED, MAX_WBITS, 8,
                     settings.deflate_strategy) != Z_OK) {
        reason = "zlib cannot start";
        return false;
    }
    data.started = true;
    data.stream.next_out = out.data();
    data.stream.avail_out = static_cast<uInt>(out.size());
    return true;
}

// The pixel side of `cells` cells of `scale` pixels, if PNG can hold it.
std::optional<std::uint32_t> png_side(std::int32_t cells, std::uint32_t scale) {
    const std::uint64_t side = static_cast<std::uint64_t>(cells) * scale;
    if (cells < 1 || side > static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max())) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(side);
}

}  // namespace

namespace {

// Deflates the pixel rows of one row of cells: scratch.row, the first, and
// `repeat` for each of the others of the cell's height.
bool deflate_cell_rows(ImageData& data, PngScratch& scratch,
                       const std::vector<unsigned char>& repeat, std::uint32_t scale,
                       const PieceWriter& write) {
    if (!deflate_into_chunks(data, scratch.row, Z_NO_FLUSH, scratch.out, write)) {
        return false;
    }
    for (std::uint32_t repeat_row = 1; repeat_row < scale; ++repeat_row) {
        if (!deflate_into_chunks(data, repeat, Z_NO_FLUSH, scratch.out, write)) {
            return false;
        }
    }
    return true;
}

// The filter of the first pixel row of each cell's block.
unsigned char first_row_filter(const PngSettings& settings) {
    using FirstRow = PngSettings::FirstRow;
    return settings.first_row == FirstRow::sub  ? FILTER_SUB
           : settings.first_row == FirstRow::up ? FILTER_UP
                                                : FILTER_NONE;
}

// Builds in scratch.row the first pixel row of the block of grid row
// `levels`, filtered with `filter`: with Sub one byte a cell is left, the
// difference from the cell to its west, followed by zeros; with Up the
// difference from the cell to its north, in every pixel. scratch.above
// holds the palette entries of the row above, and then of this one.
void build_first_row(const std::int32_t* levels, std::size_t ncols, std::uint32_t scale,
                     unsigned char filter, const ColourTable& palette, PngScratch& scratch) {
    colour_indices(levels, ncols, scratch.indices.data());
    scratch.row[0] = filter;
    unsigned char left = 0;
    unsigned char* pixel = scratch.row.data() + 1;
    for (std::size_t column = 0; column < ncols; ++column) {
        const unsigned char entry = palette.entry[scratch.indices[column]];
        const unsigned char above = scratch.above[column];
        if (filter == FILTER_UP) {
            std::fill_n(pixel, scale, static_cast<unsigned char>(entry - above));
            pixel += scale;
        } else {
            *pixel++ = filter == FILTER_SUB ? static_cast<unsigned char>(entry - left) : entry;
            for (std::uint32_t repeat_pixel = 1; repeat_pixel < scale; ++repeat_pixel) {
                *pixel++ = filter == FILTER_SUB ? 0 : entry;
            }
        }
        left = entry;
        scratch.above[column] = entry;
    }
}

// The signature, the header and the palette: the entries of the colour
// table; without the palette where the entries are grey levels.
bool write_palette_head(const PieceWriter& write, std::uint32_t width, std::uint32_t height,
                        bool entries_as_grey, const ColourTable& palette) {
    if (entries_as_grey) {
        return write_header(write, width, height, 0);
    }
    std::vector<unsigned char> colours;
    for (const Rgb& colour : palette.colours) {
        colours.insert(colours.end(), {colour.red, colour.green, colour.blue});
    }
    return write_header(write, width, height, 3) && write_chunk(write, "PLTE", colours);
}

}  // namespace

bool write_png_image(const LevelGrid& grid, std::uint32_t scale, PngScratch& scratch,
                     const PieceWriter& write, std::string& reason, const PngSettings& settings) {
    const std::optional<std::uint32_t> width = png_side(grid.ncols, scale);
    const std::optional<std::uint32_t> height = png_side(grid.nrows, scale);
    if (scale < IMAGE_SCALE_MIN || scale > IMAGE_SCALE_MAX || !width || !height) {
        reason = "the image is too large for PNG";
        return false;
    }
    ImageData data;
    const ColourTable& palette = colour_table(settings.palette);
    if (!write_palette_head(write, *width, *height, settings.entries_as_grey, palette) ||
        !start_image_data(data, scratch.out, reason, settings)) {
        return false;
    }
    const std::size_t ncols = static_cast<std::size_t>(grid.ncols);
    scratch.indices.resize(ncols);
    scratch.row.assign(std::size_t{1} + *width, 0);
    scratch.above.assign(ncols, 0);
    // The repeats of a row for a cell's height with the Up filter, which
    // leaves no non-zero byte.
    std::vector<unsigned char> repeat(std::size_t{1} + *width, 0);
    repeat[0] = FILTER_UP;
    const unsigned char filter = first_row_filter(settings);
    for (std::size_t row = static_cast<std::size_t>(grid.nrows); row-- > 0;) {
        build_first_row(&grid.levels[row * ncols], ncols, scale, filter, palette, scratch);
        if (!deflate_cell_rows(data, scratch, repeat, scale, write)) {
            return false;
        }
    }
    return deflate_into_chunks(data, {}, Z_FINISH, scratch.out, write) &&
           write_chunk(write, "IEND", {});
}

namespace {

// `pixels` (RGB, 3 bytes each) as a row filtered Sub: each byte less the one
// of the pixel to its left, which leaves runs of zeros where pixels repeat.
void sub_filtered(const unsigned char* pixels, std::size_t bytes, std::vector<unsigned char>& row) {
    row.resize(bytes + 1);
    row[0] = FILTER_SUB;
    for (std::size_t i = 0; i < bytes; ++i) {
        row[1 + i] = static_cast<unsigned char>(pixels[i] - (i >= 3 ? pixels[i - 3] : 0));
    }
}

// The RGB bytes of the map's pixel row of grid row `levels`, filled out to
// `width` pixels with `fill`.
void map_row_pixels(const std::int32_t* levels, std::size_t ncols, std::uint32_t scale,
                    const ColourTable& table, Rgb fill, std::uint32_t width, PngScratch& scratch) {
    colour_indices(levels, ncols, scratch.indices.data());
    scratch.above.clear();
    for (std::size_t column = 0; column < ncols; ++column) {
        const Rgb colour = table.colours[table.entry[scratch.indices[column]]];
        for (std::uint32_t pixel = 0; pixel < scale; ++pixel) {
            scratch.above.insert(scratch.above.end(), {colour.red, colour.green, colour.blue});
        }
    }
    while (scratch.above.size() < std::size_t{3} * width) {
        scratch.above.insert(scratch.above.end(), {fill.red, fill.green, fill.blue});
    }
}

}  // namespace

bool write_annotated_png(const LevelGrid& grid, std::uint32_t scale, const Picture& band, Rgb fill,
                         PngScratch& scratch, const PieceWriter& write, std::string& reason,
                         const PngSettings& settings) {
    const std::optional<std::uint32_t> map_height = png_side(grid.nrows, scale);
    const std::optional<std::uint32_t> map_width = png_side(grid.ncols, scale);
    const std::uint32_t width = static_cast<std::uint32_t>(band.width);
    if (scale < IMAGE_SCALE_MIN || scale > IMAGE_SCALE_MAX || !map_height || !map_width ||
        band.width < 1 || *map_width > width ||
        *map_height > static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max()) -
                          static_cast<std::uint32_t>(band.height)) {
        reason = "the image is too large for PNG";
        return false;
    }
    ImageData data;
    if (!write_header(write, width, *map_height + static_cast<std::uint32_t>(band.height), 2) ||
        !start_image_data(data, scratch.out, reason, settings)) {
        return false;
    }
    std::vector<unsigned char> pixels(std::size_t{3} * width);
    for (int y = 0; y < band.height; ++y) {
        for (std::uint32_t x = 0; x < width; ++x) {
            const Rgb& pixel = band.pixels[static_cast<std::size_t>(y) * width + x];
            pixels[3 * x] = pixel.red;
            pixels[3 * x + 1] = pixel.green;
            pixels[3 * x + 2] = pixel.blue;
        }
        sub_filtered(pixels.data(), pixels.size(), scratch.row);
        if (!deflate_into_chunks(data, scratch.row, Z_NO_FLUSH, scratch.out, write)) {
            return false;
        }
    }
    // Each cell row's first pixel row filtered Sub, its repeats Up: zeros.
    const std::vector<unsigned char> repeat = [width] {
        std::vector<unsigned char> row(std::size_t{1} + std::size_t{3} * width, 0);
        row[0] = FILTER_UP;
        return row;
    }();
    const ColourTable& table = colour_table(settings.palette);
    const std::size_t ncols = static_cast<std::size_t>(grid.ncols);
    scratch.indices.resize(ncols);
    for (std::size_t row = static_cast<std::size_t>(grid.nrows); row-- > 0;) {
        map_row_pixels(&grid.levels[row * ncols], ncols, scale, table, fill, width, scratch);
        sub_filtered(scratch.above.data(), scratch.above.size(), scratch.row);
        if (!deflate_cell_rows(data, scratch, repeat, scale, write)) {
            return false;
        }
    }
    return deflate_into_chunks(data, {}, Z_FINISH, scratch.out, write) &&
           write_chunk(write, "IEND", {});
}

std::optional<std::string> encode_png_picture(const Picture& picture) {
    std::string bytes;
    const PieceWriter collect = [&bytes](std::span<const std::span<const char>> pieces) {
        for (const std::span<const char> piece : pieces) {
            bytes.append(piece.data(), piece.size());
        }
        return true;
    };
    ImageData data;
    PngScratch scratch;
    std::string reason;
    const std::uint32_t width = static_cast<std::uint32_t>(picture.width);
    if (picture.width < 1 || picture.height < 1 ||
        !write_header(collect, width, static_cast<std::uint32_t>(picture.height), 2) ||
        !start_image_data(data, scratch.out, reason)) {
        return std::nullopt;
    }
    std::vector<unsigned char> row(std::size_t{1} + std::size_t{3} * width);
    for (int y = 0; y < picture.height; ++y) {
        row[0] = 0;  // no filter: the legend is small
        for (std::uint32_t x = 0; x < width; ++x) {
            const Rgb& pixel = picture.pixels[static_cast<std::size_t>(y) * width + x];
            row[1 + 3 * x] = pixel.red;
            row[2 + 3 * x] = pixel.green;
            row[3 + 3 * x] = pixel.blue;
        }
        if (!deflate_into_chunks(data, row, Z_NO_FLUSH, scratch.out, collect)) {
            return std::nullopt;
        }
    }
    if (!deflate_into_chunks(data, {}, Z_FINISH, scratch.out, collect) ||
        !write_chunk(collect, "IEND", {})) {
        return std::nullopt;
    }
    return bytes;
}
