// The chunks of a NetCDF-4 file's discharge as HDF5 stores them, made
// here rather than by the library so that many threads can make them: the
// values of a chunk gathered from whole grids, quantized to significant
// digits as netCDF-C does it (granular BitRound), shuffled and deflated
// as HDF5's shuffle and deflate filters do. A reader cannot tell them from
// chunks the library made; reading inflates and unshuffles them as usual.
#ifndef DISCHARGE_TERM_RUNNER_NETCDF_CHUNKS_H
#define DISCHARGE_TERM_RUNNER_NETCDF_CHUNKS_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

// How the dataset stores its chunks: their extent in days, rows and
// columns, and the filters in the order they run on writing.
struct ChunkCoding {
    std::size_t days = 1;
    std::size_t rows = 1;
    std::size_t cols = 1;
    bool shuffle = false;        // HDF5's shuffle filter, before deflate
    std::optional<int> deflate;  // zlib's level, where deflated
    std::optional<int> digits;   // significant digits kept (granular BitRound)
    float fill = 0.0F;           // never quantized, and pads edge chunks
};

// Where a chunk lies in the grids of a time chunk: its first row and
// column; a chunk always begins at the time chunk's first day.
struct ChunkPlace {
    std::size_t row = 0;
    std::size_t col = 0;
};

// Rounds each value to `digits` significant decimal digits the way
// netCDF-C's granular BitRound does (its bits below those the digits need
// are rounded off, to nearest, ties away from zero in the last bit kept),
// so that the values are those the library itself would store. Zero, the
// fill value and values that are not finite are kept as they are.
void quantize_granular_bitround(std::span<float> values, int digits, float fill);

// What encode_chunk() works in, kept between calls.
struct ChunkScratch {
    std::vector<float> values;
    std::vector<unsigned char> shuffled;
    std::vector<unsigned char> deflated;
};

// The chunk at `place` of `held` days of whole grids of `rows` x `cols`
// values (day after day, row after row), coded as `coding` says: its
// values, beyond the grids' edge the fill value, quantized, shuffled and
// deflated, into `chunk`, which takes no more room than its bytes. Throws
// std::bad_alloc only.
void encode_chunk(const ChunkCoding& coding, std::span<const float> grids, std::size_t held,
                  std::size_t rows, std::size_t cols, ChunkPlace place,
                  std::vector<unsigned char>& chunk, ChunkScratch& scratch);

#endif  // DISCHARGE_TERM_RUNNER_NETCDF_CHUNKS_H
