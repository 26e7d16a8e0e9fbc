#include "term_series.h"

#include <cstdio>
#include <ostream>
#include <sstream>

#include "output_file.h"

namespace {

// Both files of every cell, growing month after month.
struct CellTexts {
    std::ostringstream lines;  // as discharge_series writes them
    std::string csv = "date,discharge\n";
};

void append_csv(std::string& csv, YearMonth month, const std::vector<float>& series) {
    for (std::size_t day = 0; day < series.size(); ++day) {
        char date[32];
        std::snprintf(date, sizeof date, "%04d-%02d-%02d,", static_cast<int>(month.year),
                      static_cast<int>(month.month), static_cast<int>(day + 1));
        csv += date + discharge_text(series[day]) + "\n";
    }
}

bool write_text_file(const std::string& name, const std::string& text) {
    OutputFile output;
    return create_output_file(output, name, true) &&
           write_output_file(output, text.data(), text.size()) && commit_output_file(output);
}

// Whether every cell lies in the grid; prints the programs' message if not.
bool cells_in_grid(const std::vector<GridCell>& cells, const RunParameters& grid,
                   std::ostream& errors) {
    for (const GridCell cell : cells) {
        if (cell.column > grid.ncols) {
            errors << "Column number is out of range!" << std::endl;
            return false;
        }
        if (cell.row > grid.nrows) {
            errors << "Row number is out of range!" << std::endl;
            return false;
        }
    }
    return true;
}

}  // namespace

std::optional<GridCell> parse_cell(const std::string& text) {
    std::istringstream in(text);
    GridCell cell;
    char comma = 0;
    if (!(in >> cell.column >> comma >> cell.row) || comma != ',' ||
        in.peek() != std::istringstream::traits_type::eof() || cell.column < 1 || cell.row < 1) {
        return std::nullopt;
    }
    return cell;
}

std::string term_series_stem(YearMonth first, YearMonth last, GridCell cell) {
    char name[128];
    std::snprintf(name, sizeof name, "./%04d%02d-%04d%02d-%d-%d_discharge",
                  static_cast<int>(first.year), static_cast<int>(first.month),
                  static_cast<int>(last.year), static_cast<int>(last.month),
                  static_cast<int>(cell.column), static_cast<int>(cell.row));
    return name;
}

int run_term_series(const std::string& from, const std::string& to,
                    const std::vector<GridCell>& cells, bool csv, std::ostream& errors) {
    int status = 0;
    const std::optional<TermSelection> selection = select_term(from, to, errors, status);
    if (!selection) {
        return status;
    }
    const RunParameters& grid = selection->parameters;
    if (!cells_in_grid(cells, grid, errors)) {
        return 1;
    }
    std::vector<CellTexts> texts(cells.size());
    std::ostream nowhere(nullptr);
    for (const YearMonth month : selection->months) {
        const std::int32_t days = days_in_month(month.month);
        DischargeFile data;
        std::vector<std::vector<float>> series;
        if (!open_discharge_file(data, month.year, month.month, nowhere) ||
            !holds_month(data, days, grid.nrows, grid.ncols) ||
            !read_cells_series(data, days, grid.nrows, grid.ncols, cells, series)) {
            errors << discharge_file_name(month.year, month.month)
                   << ": Daily discharge data cannot open." << std::endl;
            status = 1;
            continue;
        }
        for (std::size_t i = 0; i < cells.size(); ++i) {
            write_cell_series(texts[i].lines, month, series[i]);
            append_csv(texts[i].csv, month, series[i]);
        }
    }
    for (std::size_t i = 0; i < cells.size(); ++i) {
        const std::string stem =
            term_series_stem(selection->months.front(), selection->months.back(), cells[i]);
        if (!write_text_file(stem + ".dat", texts[i].lines.str()) ||
            (csv && !write_text_file(stem + ".csv", texts[i].csv))) {
            errors << stem << ": Time series discharge output file cannot write." << std::endl;
            status = 1;
        }
    }
    return status;
}
