#include "cell_series.h"

#include <algorithm>
#include <cstdio>
#include <ostream>
#include <utility>

std::string series_file_name(std::int32_t year, std::int32_t month, GridCell cell) {
    char name[96];
    std::snprintf(name, sizeof name, "./%04d%02d-%d-%d_discharge.dat", static_cast<int>(year),
                  static_cast<int>(month), static_cast<int>(cell.column),
                  static_cast<int>(cell.row));
    return name;
}

bool read_cell_series(DischargeFile& data, std::int32_t day_count, std::int32_t nrows,
                      std::int32_t ncols, GridCell cell, std::vector<float>& series) {
    std::vector<std::vector<float>> one;
    const bool read = read_cells_series(data, day_count, nrows, ncols, std::span(&cell, 1), one);
    series = std::move(one.front());
    return read;
}

bool read_cells_series(DischargeFile& data, std::int32_t day_count, std::int32_t nrows,
                       std::int32_t ncols, std::span<const GridCell> cells,
                       std::vector<std::vector<float>>& series) {
    // holds_month() has checked that the month's value count fits in 64 bits,
    // so no position below computed overflows.
    const std::uint64_t grid_values =
        static_cast<std::uint64_t>(nrows) * static_cast<std::uint64_t>(ncols);
    const std::size_t days = static_cast<std::size_t>(day_count);
    // The cells in storage order, each with its place in the grid.
    std::vector<std::pair<std::uint64_t, std::size_t>> order;
    for (std::size_t i = 0; i < cells.size(); ++i) {
        order.emplace_back(
            static_cast<std::uint64_t>(cells[i].row - 1) * static_cast<std::uint64_t>(ncols) +
                static_cast<std::uint64_t>(cells[i].column - 1),
            i);
    }
    std::sort(order.begin(), order.end());
    series.assign(cells.size(), std::vector<float>(days, 0.0F));

    // A regular file is read at the cells' positions only; a stream that
    // cannot seek is read through in storage order, to the end of the month,
    // so that a month cut short is noticed.
    std::uint64_t position = 0;
    for (std::size_t day = 0; day < days; ++day) {
        for (std::size_t k = 0; k < order.size(); ++k) {
            const auto [cell_index, i] = order[k];
            float& value = series[i][day];
            if (k > 0 && order[k - 1].first == cell_index) {
                value = series[order[k - 1].second][day];  // the same cell twice
                continue;
            }
            const std::uint64_t target = day * grid_values + cell_index;
            const bool read = data.seekable ? read_discharge_value_at(data, target, value)
                                            : skip_discharge_values(data, target - position) &&
                                                  read_discharge_value(data, value);
            if (!read) {
                return false;
            }
            position = target + 1;
        }
    }
    return data.seekable || skip_discharge_values(data, days * grid_values - position);
}

bool write_cell_series(std::ostream& out, YearMonth month, const std::vector<float>& series) {
    std::int32_t day = 1;
    for (const float value : series) {
        out << month.year << ' ' << month.month << ' ' << day << ' ' << discharge_text(value)
            << std::endl;
        ++day;
    }
    return static_cast<bool>(out);
}
