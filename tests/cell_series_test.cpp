#include "cell_series.h"

#include <gtest/gtest.h>

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
