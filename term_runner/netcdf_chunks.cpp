#include "netcdf_chunks.h"

#include <zlib.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <new>
#include <numbers>

namespace {

// Explicit bits of a float's significand.
constexpr int SIGNIFICAND_BITS = 23;

// The significand bits that `digits` decimal digits of `value` need, as
// granular BitRound counts them (Delaunay, Goffart and Gautier 2019, as
// netCDF-C 4.9 computes it, one bit fewer than their formula): from the
// value's decimal magnitude, so that the digits kept are the same whatever
// the binary exponent.
int bits_needed(double value, int digits) {
    // As the library has them, to the last bit.
    const double bits_per_digit = std::numbers::ln10 / std::numbers::ln2;
    const double digits_per_bit = std::numbers::ln2 / std::numbers::ln10;
    int exponent = 0;
    const double mantissa = std::abs(std::frexp(value, &exponent));
    const double log_mantissa = std::log10(mantissa);
    // The value's digits before the decimal point, and the power of two of
    // its last digit kept. Both are small: |exponent| < 150 for a float.
    const int digits_before =
        static_cast<int>(std::floor(exponent * digits_per_bit + log_mantissa)) + 1;
    const int power = static_cast<int>(std::floor(bits_per_digit * (digits_before - digits)));
    const int bits =
        std::abs(static_cast<int>(std::floor(exponent - bits_per_digit * log_mantissa)) - power);
    // The library counts one bit fewer, in an unsigned short: from none it
    // would wrap around to all of them, a shift its C does not define. None
    // it is here, the value rounded to a power of two.
    return std::max(bits - 1, 0);
}

}  // namespace

void quantize_granular_bitround(std::span<float> values, int digits, float fill) {
    for (float& value : values) {
        const std::uint32_t bits = std::bit_cast<std::uint32_t>(value);
        // Not zero (nor minus zero, whose mantissa is zero), nor the fill
        // value, nor infinity or NaN, which have no digits.
        if (value == fill || value == 0.0F || !std::isfinite(value)) {
            continue;
        }
        const int kept =
            std::min(bits_needed(static_cast<double>(value), digits), SIGNIFICAND_BITS);
        const int dropped = SIGNIFICAND_BITS - kept;
        if (dropped == 0) {
            continue;
        }
        // Half of the last bit kept is added, and the bits below it cleared:
        // rounding to nearest, a carry going on into the exponent.
        const std::uint32_t keep_mask = ~std::uint32_t{0} << dropped;
        const std::uint32_t half = std::uint32_t{1} << (dropped - 1);
        value = std::bit_cast<float>((bits + half) & keep_mask);
    }
}

void encode_chunk(const ChunkCoding& coding, std::span<const float> grids, std::size_t held,
                  std::size_t rows, std::size_t cols, ChunkPlace place,
                  std::vector<unsigned char>& chunk, ChunkScratch& scratch) {
    const std::size_t count = coding.days * coding.rows * coding.cols;
    std::vector<float>& values = scratch.values;
    values.assign(count, coding.fill);
    const std::size_t row_end = std::min(place.row + coding.rows, rows);
    const std::size_t col_end = std::min(place.col + coding.cols, cols);
    for (std::size_t day = 0; day < std::min(held, coding.days); ++day) {
        for (std::size_t row = place.row; row < row_end; ++row) {
            const float* from = grids.data() + (day * rows + row) * cols + place.col;
            std::copy(from, from + (col_end - place.col),
                      values.begin() + static_cast<std::ptrdiff_t>(
                                           (day * coding.rows + row - place.row) * coding.cols));
        }
    }
    if (coding.digits) {
        quantize_granular_bitround(values, *coding.digits, coding.fill);
    }
    const std::size_t bytes = count * sizeof(float);
    const auto* from = reinterpret_cast<const unsigned char*>(values.data());
    if (coding.shuffle) {
        // The first bytes of every value, then the second bytes, ...: the
        // bytes of equal significance of neighbouring values together.
        scratch.shuffled.resize(bytes);
        for (std::size_t b = 0; b < sizeof(float); ++b) {
            for (std::size_t i = 0; i < count; ++i) {
                scratch.shuffled[b * count + i] = from[i * sizeof(float) + b];
            }
        }
        from = scratch.shuffled.data();
    }
    if (!coding.deflate) {
        chunk.assign(from, from + bytes);
        return;
    }
    // A zlib stream of the chunk, as HDF5's deflate filter writes it.
    uLongf length = compressBound(static_cast<uLong>(bytes));
    scratch.deflated.resize(length);
    if (compress2(scratch.deflated.data(), &length, from, static_cast<uLong>(bytes),
                  *coding.deflate) != Z_OK) {
        // With room for the worst case, zlib fails for want of memory only.
        throw std::bad_alloc();
    }
    chunk.assign(scratch.deflated.data(), scratch.deflated.data() + length);
}
