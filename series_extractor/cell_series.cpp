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

namespace {

// The cells of a regular file's day closer together than this, in values,
// are read in one read with the values between them: a seek and a buffered
// read fetch a few kilobytes whatever is asked, so for many cells a stretch
// of the grid read once costs less, and no byte is read twice. A stretch is
// at most STRETCH_VALUES long (128 KiB, the blocks cat reads in, which stay
// in the core's cache as they are copied).
constexpr std::uint64_t GATHER_GAP = 2048;
constexpr std::uint64_t STRETCH_VALUES = std::uint64_t{1} << 15;

// The cells' positions in storage order (each with its index in `cells`).
using CellOrder = std::vector<std::pair<std::uint64_t, std::size_t>>;

// Reads the day beginning at value `day_start` of a regular file at the
// cells of `order`, into series[i][day]; false when the file ends before.
bool read_day_at_cells(DischargeFile& data, std::uint64_t day_start, const CellOrder& order,
                       std::size_t day, std::vector<std::vector<float>>& series,
                       std::vector<float>& scratch) {
    std::size_t k = 0;
    while (k < order.size()) {
        const std::uint64_t first = order[k].first;
        std::size_t end = k + 1;
        while (end < order.size() && order[end].first - order[end - 1].first <= GATHER_GAP &&
               order[end].first - first < STRETCH_VALUES) {
            ++end;
        }
        scratch.resize(static_cast<std::size_t>(order[end - 1].first - first + 1));
        if (!read_discharge_values_at(data, day_start + first, scratch)) {
            return false;
        }
        for (; k < end; ++k) {
            series[order[k].second][day] =
                scratch[static_cast<std::size_t>(order[k].first - first)];
        }
    }
    return true;
}

// Reads a day of a stream that cannot seek, from value `position` on, at
// the cells of `order`; `position` ends after the last cell read.
bool read_day_through(DischargeFile& data, std::uint64_t day_start, const CellOrder& order,
                      std::size_t day, std::vector<std::vector<float>>& series,
                      std::uint64_t& position) {
    for (std::size_t k = 0; k < order.size(); ++k) {
        const auto [cell_index, i] = order[k];
        float& value = series[i][day];
        if (k > 0 && order[k - 1].first == cell_index) {
            value = series[order[k - 1].second][day];  // the same cell twice
            continue;
        }
        const std::uint64_t target = day_start + cell_index;
        if (!skip_discharge_values(data, target - position) || !read_discharge_value(data, value)) {
            return false;
        }
        position = target + 1;
    }
    return true;
}

}  // namespace

bool read_cells_series(DischargeFile& data, std::int32_t day_count, std::int32_t nrows,
                       std::int32_t ncols, std::span<const GridCell> cells,
                       std::vector<std::vector<float>>& series) {
    // holds_month() has checked that the month's value count fits in 64 bits,
    // so no position below computed overflows.
    const std::uint64_t grid_values =
        static_cast<std::uint64_t>(nrows) * static_cast<std::uint64_t>(ncols);
    const std::size_t days = static_cast<std::size_t>(day_count);
    CellOrder order;
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
    std::vector<float> scratch;
    for (std::size_t day = 0; day < days; ++day) {
        const std::uint64_t day_start = day * grid_values;
        const bool read = data.seekable
                              ? read_day_at_cells(data, day_start, order, day, series, scratch)
                              : read_day_through(data, day_start, order, day, series, position);
        if (!read) {
            return false;
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
