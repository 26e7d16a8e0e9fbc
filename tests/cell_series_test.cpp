#include "cell_series.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#ifndef _WIN32
#include "fifo_feeder.h"
#endif
#include "run_texts.h"
#include "run_tree.h"

TEST(SeriesFileName, YearToFourDigitsMonthToTwoCellAsTyped) {
    const struct {
        std::int32_t year;
        std::int32_t month;
        GridCell cell;
        const char* name;
    } cases[] = {
        {2019, 7, {46, 14}, "./201907-46-14_discharge.dat"},
        {999, 3, {1, 2}, "./099903-1-2_discharge.dat"},  // padded year, no padded cell
        {2020, 12, {10000, 4000}, "./202012-10000-4000_discharge.dat"},
        {12345, 1, {2147483647, 2147483647}, "./1234501-2147483647-2147483647_discharge.dat"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(series_file_name(c.year, c.month, c.cell), c.name) << c.name;
    }
}

namespace {

// Reads the series of `cells` from July 2019 of the run tree, a 2 x NCOLS
// grid of two days whose values count from 1 in storage order.
constexpr std::int32_t WIDE_NCOLS = 300000;
bool read_wide_month(const RunTree& tree, std::span<const GridCell> cells,
                     std::vector<std::vector<float>>& series) {
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(tree.output);
    DischargeFile data;
    std::ostringstream console;
    const bool read = open_discharge_file(data, 2019, 7, console) &&
                      read_cells_series(data, 2, 2, WIDE_NCOLS, cells, series);
    std::filesystem::current_path(previous);
    return read;
}

}  // namespace

// Many cells of a wide grid: neighbours read in one stretch, cells further
// apart than a stretch's gap or length each on their own, a cell given twice,
// the last cell of the month; a file or a pipe, the same values, and a file
// that ends one value early refused.
TEST(CellsSeries, StretchesOfAWideGridGiveEveryCellItsValue) {
    std::vector<GridCell> cells = {{WIDE_NCOLS, 2}, {1, 1}, {2, 1}, {2, 1}, {1, 2}};
    for (std::int32_t column = 100; column < WIDE_NCOLS; column += 2048 + column % 3) {
        cells.push_back({column, column % 2 + 1});  // gaps of 2048 to 2050 values
    }
    const std::vector<float> values = counting_values(2U * 2U * WIDE_NCOLS);
    const std::string bytes = encode_values(values);
    const auto check = [&](const std::vector<std::vector<float>>& series) {
        ASSERT_EQ(series.size(), cells.size());
        for (std::size_t i = 0; i < cells.size(); ++i) {
            for (std::size_t day = 0; day < 2; ++day) {
                const std::size_t at = day * 2 * WIDE_NCOLS +
                                       static_cast<std::size_t>(cells[i].row - 1) * WIDE_NCOLS +
                                       static_cast<std::size_t>(cells[i].column - 1);
                ASSERT_EQ(series[i][day], values[at]) << i << " " << day;
            }
        }
    };
    RunTree tree;
    std::vector<std::vector<float>> series;
    write_text(tree.output / "201907_dailyDischarge.bin", bytes);
    ASSERT_TRUE(read_wide_month(tree, cells, series));
    check(series);
#ifndef _WIN32
    std::filesystem::remove(tree.output / "201907_dailyDischarge.bin");
    {
        FifoFeeder feeder(tree.output / "201907_dailyDischarge.bin", bytes, 1);
        ASSERT_TRUE(read_wide_month(tree, cells, series));
        check(series);
    }
    std::filesystem::remove(tree.output / "201907_dailyDischarge.bin");
#endif
    write_text(tree.output / "201907_dailyDischarge.bin", bytes.substr(0, bytes.size() - 4));
    EXPECT_FALSE(read_wide_month(tree, cells, series));
}
