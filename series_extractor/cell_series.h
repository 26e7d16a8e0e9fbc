// The daily time series of one grid cell over a month.
#ifndef DISCHARGE_SERIES_EXTRACTOR_CELL_SERIES_H
#define DISCHARGE_SERIES_EXTRACTOR_CELL_SERIES_H

#include <cstdint>
#include <iosfwd>
#include <span>
#include <string>
#include <vector>

#include "run_input.h"

// A grid cell as the user counts it: column 1 to ncols, row 1 (south) to nrows.
struct GridCell {
    std::int32_t column = 0;
    std::int32_t row = 0;
};

// "./%04d%02d-%d-%d_discharge.dat" filled with year, month, column and row.
std::string series_file_name(std::int32_t year, std::int32_t month, GridCell cell);

// Reads the value of `cell` for each of `day_count` days of an open monthly file
// with nrows x ncols grids that holds_month() accepted. A regular file is read
// at the cell's positions only; a pipe is read through to the month's end.
// Returns false when the data runs out before the month is complete.
bool read_cell_series(DischargeFile& data, std::int32_t day_count, std::int32_t nrows,
                      std::int32_t ncols, GridCell cell, std::vector<float>& series);

// As read_cell_series() for several cells at once, in one pass over the
// month: series[i] receives the values of cells[i]. A cell may be given twice.
bool read_cells_series(DischargeFile& data, std::int32_t day_count, std::int32_t nrows,
                       std::int32_t ncols, std::span<const GridCell> cells,
                       std::vector<std::vector<float>>& series);

// Writes one line per day: "year month day value", the value in the stream's
// default notation, each line flushed. Returns false if the stream failed.
bool write_cell_series(std::ostream& out, YearMonth month, const std::vector<float>& series);

#endif  // DISCHARGE_SERIES_EXTRACTOR_CELL_SERIES_H
