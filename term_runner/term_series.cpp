#include "term_series.h"

#include <cstdio>
#include <ostream>
#include <sstream>

#include "failure.h"
#include "output_file.h"
#include "output_names.h"

namespace {

// Both files of every cell, growing month after month.
struct CellTexts {
    std::ostringstream lines;  // as discharge_series writes them
    std::string csv;
};

// The value of a day whose month could not be read, with --allow-gaps: what
// readers of such files take for a missing number, in the .dat file, and an
// empty field in the CSV.
constexpr const char* GAP_TEXT = "nan";

// A day of the CSV: its date and its discharge, empty where there is none,
// as pandas and R read a missing value: a negative value stored (a cell
// without discharge) or a day of a month that could not be read (`gap`).
void append_csv(std::string& csv, YearMonth month, const std::vector<float>& series, bool gap) {
    for (std::size_t day = 0; day < series.size(); ++day) {
        char date[32];
        std::snprintf(date, sizeof date, "%04d-%02d-%02d,", static_cast<int>(month.year),
                      static_cast<int>(month.month), static_cast<int>(day + 1));
        const bool missing = gap || series[day] < 0.0F;
        csv += date + (missing ? std::string() : discharge_text(series[day])) + "\n";
    }
}

void append_gap_lines(std::ostream& lines, YearMonth month, std::int32_t days) {
    for (std::int32_t day = 1; day <= days; ++day) {
        lines << month.year << ' ' << month.month << ' ' << day << ' ' << GAP_TEXT << '\n';
    }
}

}  // namespace

// Whether every cell lies in the grid; names the first that does not as a
// usage error if not.
bool cells_in_grid(const std::vector<GridCell>& cells, const RunParameters& grid,
                   std::ostream& errors) {
    for (const GridCell cell : cells) {
        const bool column_out = cell.column > grid.ncols;
        if (column_out || cell.row > grid.nrows) {
            errors << "discharge_term: --cell " << cell.column << ',' << cell.row << ": "
                   << (column_out ? "Column number is out of range! (the grid has " +
                                        std::to_string(grid.ncols) + " columns)"
                                  : "Row number is out of range! (the grid has " +
                                        std::to_string(grid.nrows) + " rows)")
                   << "\nRun with --help for more information." << std::endl;
            return false;
        }
    }
    return true;
}

// Reads the cells' series of one month; false with `reason` set if the month
// cannot be read whole.
bool read_month_series(const TermSelection& selection, YearMonth month,
                       const std::vector<GridCell>& cells, std::vector<std::vector<float>>& series,
                       std::string& reason) {
    const RunParameters& grid = selection.parameters;
    DischargeFile data;
    if (!open_term_month(data, selection, month, reason)) {
        return false;
    }
    if (!read_cells_series(data, days_in_month(month.month), grid.nrows, grid.ncols, cells,
                           series)) {
        reason = "it ended before the month did";
        return false;
    }
    return true;
}

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

namespace {

// Reads every month once for all cells, appending each cell's days to its
// texts; returns how many months could not be read, each named on `errors`.
std::size_t read_series(const TermSelection& selection, const std::vector<GridCell>& cells,
                        std::vector<CellTexts>& texts, std::ostream& errors) {
    std::size_t missing = 0;
    for (const YearMonth month : selection.months) {
        std::vector<std::vector<float>> series;
        std::string reason;
        const bool read = read_month_series(selection, month, cells, series, reason);
        if (!read) {
            errors << failure_text(month_unreadable(month, reason)) << std::endl;
            ++missing;
        }
        const std::int32_t days = days_in_month(month.month);
        for (std::size_t i = 0; i < cells.size(); ++i) {
            if (read) {
                write_cell_series(texts[i].lines, month, series[i]);
            } else {
                append_gap_lines(texts[i].lines, month, days);
            }
            append_csv(texts[i].csv, month,
                       read ? series[i] : std::vector<float>(static_cast<std::size_t>(days)),
                       !read);
        }
    }
    return missing;
}

// Writes each cell's files; false once any could not be, each named.
bool write_series(const TermSelection& selection, const std::vector<GridCell>& cells,
                  const std::vector<CellTexts>& texts, bool csv, std::ostream& errors) {
    bool written = true;
    for (std::size_t i = 0; i < cells.size(); ++i) {
        const std::string stem =
            term_series_stem(selection.months.front(), selection.months.back(), cells[i]);
        for (const bool is_csv : {false, true}) {
            const std::string name = stem + (is_csv ? ".csv" : ".dat");
            std::string reason;
            if ((!is_csv || csv) &&
                !write_whole_output(name, is_csv ? texts[i].csv : texts[i].lines.str(), true,
                                    reason)) {
                errors << failure_text(
                              {name, "Time series discharge output file cannot write.", reason})
                       << std::endl;
                written = false;
            }
        }
    }
    return written;
}

}  // namespace

int run_term_series(const std::string& from, const std::string& to,
                    const std::vector<GridCell>& cells, const SeriesRequest& request,
                    std::ostream& errors) {
    int status = 0;
    const std::optional<TermSelection> selection = select_term(from, to, errors, status);
    if (!selection) {
        return status;
    }
    if (!cells_in_grid(cells, selection->parameters, errors)) {
        return 2;
    }
    std::vector<CellTexts> texts(cells.size());
    for (CellTexts& text : texts) {
        text.csv = "date,discharge (" + request.units + ")\n";
    }
    const std::size_t missing = read_series(*selection, cells, texts, errors);
    // A series with a hole in it is written only where asked for, the hole
    // marked: a gap nobody notices is worse than no series.
    if (missing > 0 && !request.allow_gaps) {
        errors << "No series written: " << missing << (missing == 1 ? " month" : " months")
               << " of the selection cannot be read (--allow-gaps writes the others, the missing "
                  "days marked)."
               << std::endl;
        return 1;
    }
    const bool written = write_series(*selection, cells, texts, request.csv, errors);
    return missing > 0 || !written ? 1 : 0;
}
