// png_settings: how the PNG writer's choices of row filter and deflate
// setting trade time against size on real days of discharge, to choose its
// defaults by measurement.
//
//   png_settings DATA_FILE NCOLS NROWS DAY MIN MAX [ROUNDS]
//
// Reads day DAY of a monthly file of NCOLS x NROWS grids, levels it with the
// range MIN,MAX, and encodes it in memory at 5 and at 1 pixels a cell with
// every combination of first-row filter, zlib level and zlib strategy,
// ROUNDS times each (default 5), interleaved. Prints for each the median
// encoding time in milliseconds and the size in bytes; the PPM of the same
// day for scale.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "discharge_image.h"
#include "png_image.h"

namespace {

struct Contender {
    std::string label;
    PngSettings settings;
    std::uint32_t scale = 5;
    std::vector<double> milliseconds;
    std::size_t bytes = 0;
};

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2.0;
}

// The levels of day `day` of a monthly file of ncols x nrows grids, or
// nullopt after saying why not.
std::optional<LevelGrid> day_levels(const char* path, std::int32_t ncols, std::int32_t nrows,
                                    long day, ValueRange range) {
    const std::size_t cells = static_cast<std::size_t>(ncols) * static_cast<std::size_t>(nrows);
    std::ifstream data(path, std::ios::binary);
    data.seekg(static_cast<std::streamoff>((day - 1) * static_cast<long>(cells) * 4));
    std::vector<unsigned char> bytes(cells * 4);
    if (!data.read(reinterpret_cast<char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()))) {
        std::fprintf(stderr, "png_settings: cannot read day %ld of %s\n", day, path);
        return std::nullopt;
    }
    std::vector<float> values(cells);
    for (std::size_t i = 0; i < cells; ++i) {
        values[i] = decode_discharge_value(&bytes[i * 4]);
    }
    LevelGrid grid{ncols, nrows, std::vector<std::int32_t>(cells)};
    compute_levels(values, range, grid);
    return grid;
}

// Every combination of scale, first-row filter, zlib level and strategy.
std::vector<Contender> every_setting() {
    using FirstRow = PngSettings::FirstRow;
    const std::pair<const char*, FirstRow> filters[] = {
        {"none", FirstRow::none}, {"sub", FirstRow::sub}, {"up", FirstRow::up}};
    const std::pair<const char*, int> strategies[] = {{"default", 0}, {"filtered", 1}, {"rle", 3}};
    std::vector<Contender> contenders;
    for (const std::uint32_t scale : {5U, 1U}) {
        for (const auto& [filter_name, filter] : filters) {
            for (const int level : {1, 3, 6, 9}) {
                for (const auto& [strategy_name, strategy] : strategies) {
                    contenders.push_back({std::to_string(scale) + " " + filter_name + " " +
                                              std::to_string(level) + " " + strategy_name,
                                          {filter, level, strategy},
                                          scale,
                                          {},
                                          0});
                }
            }
        }
    }
    return contenders;
}

// Encodes `grid` with each contender `rounds` times, interleaved, each round
// starting one further along.
void measure(const LevelGrid& grid, std::vector<Contender>& contenders, int rounds) {
    PngScratch scratch;
    for (int round = 0; round < rounds; ++round) {
        for (std::size_t i = 0; i < contenders.size(); ++i) {
            Contender& c = contenders[(i + static_cast<std::size_t>(round)) % contenders.size()];
            std::size_t size = 0;
            std::string reason;
            const auto start = std::chrono::steady_clock::now();
            write_png_image(
                grid, c.scale, scratch,
                [&size](std::span<const std::span<const char>> pieces) {
                    for (const std::span<const char> piece : pieces) {
                        size += piece.size();
                    }
                    return true;
                },
                reason, c.settings);
            c.milliseconds.push_back(
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                    .count());
            c.bytes = size;
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 7) {
        std::fprintf(stderr, "usage: png_settings DATA_FILE NCOLS NROWS DAY MIN MAX [ROUNDS]\n");
        return 2;
    }
    const std::int32_t ncols = std::atoi(argv[2]);
    const std::int32_t nrows = std::atoi(argv[3]);
    const long day = std::atol(argv[4]);
    const ValueRange range{.maximum = std::strtof(argv[6], nullptr),
                           .minimum = std::strtof(argv[5], nullptr)};
    const int rounds = argc > 7 ? std::atoi(argv[7]) : 5;
    const std::optional<LevelGrid> grid = day_levels(argv[1], ncols, nrows, day, range);
    if (!grid) {
        return 1;
    }
    std::vector<Contender> contenders = every_setting();
    measure(*grid, contenders, rounds);
    std::printf("day %ld of %s, %d x %d cells, PPM %llu bytes at scale 5\n", day, argv[1], ncols,
                nrows, static_cast<unsigned long long>(raster_bytes(ncols, nrows).value_or(0)));
    std::printf("%-26s %10s %12s\n", "scale filter level strategy", "median ms", "bytes");
    for (const Contender& c : contenders) {
        std::printf("%-26s %10.1f %12zu\n", c.label.c_str(), median(c.milliseconds), c.bytes);
    }
    return 0;
}
