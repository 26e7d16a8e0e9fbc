// A PNG decoder of the tests' own, for the images discharge_term writes:
// it checks the signature, every chunk's CRC and the end, and knows the
// filters the writer uses (None, Sub, Up) and no others. Inflate comes from
// zlib. Failures are reported as test failures.
#ifndef DISCHARGE_TESTS_PNG_DECODER_H
#define DISCHARGE_TESTS_PNG_DECODER_H

#include <cstddef>
#include <cstdint>
#include <string>

// What a PNG decodes to: its size and its pixels as RGB (a grey level in all
// three), rows from the top.
struct Decoded {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::string rgb;
    std::size_t idat_chunks = 0;
};

Decoded decode_png(const std::string& png);

#endif  // DISCHARGE_TESTS_PNG_DECODER_H
