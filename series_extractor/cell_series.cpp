#include "cell_series.h"

#include <cstdio>
#include <ostream>

std::string series_file_name(std::int32_t year, std::int32_t month, GridCell cell) {
    char name[96];
    std::snprintf(name, sizeof name, "./%04d%02d-%d-%d_discharge.dat", static_cast<int>(year),
                  static_cast<int>(month), static_cast<int>(cell.column),
                  static_cast<int>(cell.row));
    return name;
}

bool read_cell_series(DischargeFile& data, std::int32_t day_count, std::int32_t nrows,
                      std::int32_t ncols, GridCell cell, std::vector<float>& series) {
    // holds_month() has checked that the month's value count fits in 64 bits,
    // so no position below computed overflows.
    const std::uint64_t grid_values =
        static_cast<std::uint64_t>(nrows) * static_cast<std::uint64_t>(ncols);
    const std::uint64_t cell_index =
        static_cast<std::uint64_t>(cell.row - 1) * static_cast<std::uint64_t>(ncols) +
        static_cast<std::uint64_t>(cell.column - 1);
    series.assign(static_cast<std::size_t>(day_count), 0.0F);

    if (data.seekable) {
        for (std::size_t day = 0; day < series.size(); ++day) {
            if (!read_discharge_value_at(data, day * grid_values + cell_index, series[day])) {
                return false;
            }
        }
        return true;
    }

    // A stream that cannot seek is read through in storage order, to the end
    // of the month, so that a month cut short is noticed.
    std::uint64_t position = 0;
    for (std::size_t day = 0; day < series.size(); ++day) {
        const std::uint64_t target = day * grid_values + cell_index;
        if (!skip_discharge_values(data, target - position) ||
            !read_discharge_value(data, series[day])) {
            return false;
        }
        position = target + 1;
    }
    return skip_discharge_values(data, series.size() * grid_values - position);
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
