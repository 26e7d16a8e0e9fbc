#include "term_view.h"

#include <filesystem>
#include <fstream>
#include <new>
#include <ostream>
#include <set>
#include <span>

#include "legend.h"
#include "month_record.h"
#include "output_names.h"
#include "png_image.h"
#include "progress.h"
#include "term_series.h"

namespace {

// Format of the data scripts: raised when the page reads them otherwise.
constexpr int VIEW_DATA_VERSION = 1;

std::string data_uri(std::string_view png) {
    return "data:image/png;base64," + base64(png);
}

// The first line of a month's script: what it was made from. A script whose
// first line is the one a month needs now is up to date; one made from a
// monthly file that cannot be stamped (a pipe), "data none", never is.
std::string month_key(YearMonth month, ValueRange range, const RunParameters& grid,
                      const std::optional<FileStamp>& data) {
    return "// discharge_view " + std::to_string(VIEW_DATA_VERSION) + " " + month_label(month) +
           " range " + range_text(range) + " grid " + std::to_string(grid.ncols) + " " +
           std::to_string(grid.nrows) + " data " +
           (data ? std::to_string(data->bytes) + " " + std::to_string(data->modified) : "none");
}

std::string first_line_of(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::string line;
    std::getline(in, line);
    return line;
}

// The month's script: its key, then a call that hands the page the month's
// range, legend and one PNG a day, one pixel a cell. False with `detail` set
// once anything failed.
bool write_month_script(const TermSelection& selection, YearMonth month, ValueRange range,
                        const std::string& key, DayCanvas& canvas, PngScratch& scratch,
                        Progress& progress, std::string& detail) {
    DischargeFile data;
    std::string reason;
    if (!open_term_month(data, selection, month, reason)) {
        detail = failure_text(month_unreadable(month, reason));
        return false;
    }
    const std::optional<std::string> legend = encode_png_picture(draw_legend(range));
    if (!legend) {
        detail = "zlib failed";
        return false;
    }
    std::string script = key + "\ndischarge_view.month({label: \"" + month_label(month) +
                         "\", range: \"" + range_text(range) + "\", legend: \"" +
                         data_uri(*legend) + "\", frames: [\n";
    std::string png;
    const PieceWriter collect = [&png](std::span<const std::span<const char>> pieces) {
        for (const std::span<const char> piece : pieces) {
            png.append(piece.data(), piece.size());
        }
        return true;
    };
    for (std::int32_t day = 1; day <= days_in_month(month.month); ++day) {
        if (!fill_level_grid(data, range, canvas)) {
            detail = discharge_file_name(month.year, month.month) + ": Discharge data cannot open.";
            return false;
        }
        png.clear();
        if (!write_png_image(canvas.grid, 1, scratch, collect, reason)) {
            detail = reason;
            return false;
        }
        script.append("\"").append(data_uri(png)).append("\",\n");
        note_image(progress);
    }
    script += "]});\n";
    const std::string name = month_script_name(month);
    if (!write_whole_output(name, script, false, reason)) {
        detail = name + ": Image output file cannot write. (" + reason + ")";
        return false;
    }
    return true;
}

// The palette as the page reads values from colours: for each entry its
// colour, the lowest and highest level drawn in it (-1 for none), and whether
// it also draws cells without discharge (black) or above the range.
std::string palette_script() {
    const ColourTable& palette = colour_table();
    std::string text = "[";
    for (std::size_t entry = 0; entry < palette.colours.size(); ++entry) {
        int lowest = -1;
        int highest = -1;
        for (int level = 0; level < 256; ++level) {
            if (palette.entry[static_cast<std::size_t>(level)] == entry) {
                lowest = lowest < 0 ? level : lowest;
                highest = level;
            }
        }
        const Rgb colour = palette.colours[entry];
        const char* separator = "[";
        for (const int number : {int{colour.red}, int{colour.green}, int{colour.blue}, lowest,
                                 highest, palette.entry[COLOUR_COUNT - 2] == entry ? 1 : 0,
                                 palette.entry[COLOUR_COUNT - 1] == entry ? 1 : 0}) {
            text.append(separator).append(std::to_string(number));
            separator = ",";
        }
        text.append("],");
    }
    return text + "]";
}

// The term's script: the grid, the months, the colours and the exact series
// of the chosen cells ("" for a day whose month could not be read).
// A month that cannot be read is named on `errors` unless it is among
// `named`, and makes `whole` false.
std::string term_script(const TermSelection& selection, const ViewRequest& request,
                        const std::set<std::string>& named, std::ostream& errors, bool& whole) {
    const RunParameters& grid = selection.parameters;
    std::string months;
    std::vector<std::string> values(request.cells.size());
    for (const YearMonth month : selection.months) {
        const std::int32_t days = days_in_month(month.month);
        months += "{label: \"" + month_label(month) + "\", year: " + std::to_string(month.year) +
                  ", month: " + std::to_string(month.month) + ", days: " + std::to_string(days) +
                  "},";
        if (request.cells.empty()) {
            continue;
        }
        std::vector<std::vector<float>> series;
        std::string reason;
        const bool read = read_month_series(selection, month, request.cells, series, reason);
        if (!read) {
            if (!named.contains(month_label(month))) {
                errors << failure_text(month_unreadable(month, reason)) << std::endl;
            }
            whole = false;
        }
        for (std::size_t cell = 0; cell < request.cells.size(); ++cell) {
            for (std::int32_t day = 0; day < days; ++day) {
                values[cell]
                    .append("\"")
                    .append(read ? discharge_text(series[cell][static_cast<std::size_t>(day)])
                                 : std::string())
                    .append("\",");
            }
        }
    }
    std::string cells;
    for (std::size_t cell = 0; cell < request.cells.size(); ++cell) {
        cells += "{column: " + std::to_string(request.cells[cell].column) +
                 ", row: " + std::to_string(request.cells[cell].row) + ", values: [" +
                 values[cell] + "]},";
    }
    const char* const kinds[] = {"the term's range", "each month's range", "a typed range"};
    return "discharge_view.term({version: " + std::to_string(VIEW_DATA_VERSION) +
           ", rangeKind: \"" + kinds[request.range.kind] + "\"" +
           ", ncols: " + std::to_string(grid.ncols) + ", nrows: " + std::to_string(grid.nrows) +
           ", months: [" + months + "], palette: " + palette_script() + ", cells: [" + cells +
           "]});\n";
}

}  // namespace

std::string base64(std::string_view bytes) {
    static constexpr char DIGITS[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    text.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t at = 0;
    for (; at + 3 <= bytes.size(); at += 3) {
        const std::uint32_t group =
            static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at])) << 16 |
            static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 1])) << 8 |
            static_cast<unsigned char>(bytes[at + 2]);
        text += {DIGITS[group >> 18], DIGITS[(group >> 12) & 63], DIGITS[(group >> 6) & 63],
                 DIGITS[group & 63]};
    }
    if (at < bytes.size()) {
        const bool two = at + 1 < bytes.size();
        const std::uint32_t group =
            static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at])) << 16 |
            (two ? static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 1])) << 8 : 0);
        text += {DIGITS[group >> 18], DIGITS[(group >> 12) & 63],
                 two ? DIGITS[(group >> 6) & 63] : '=', '='};
    }
    return text;
}

int run_term_view(const std::string& from, const std::string& to, const ViewRequest& request,
                  std::ostream& errors, int terminal_width) {
    const std::filesystem::file_time_type started = std::filesystem::file_time_type::clock::now();
    int status = 0;
    const std::optional<TermSelection> selection = select_term(from, to, errors, status);
    if (!selection) {
        return status;
    }
    const RunParameters& grid = selection->parameters;
    if (!cells_in_grid(request.cells, grid, errors)) {
        return 2;
    }
    ValueRange term_range = request.range.typed_range;
    if (request.range.kind == RangeChoice::term) {
        const std::optional<ValueRange> found = find_term_range(*selection, errors);
        if (!found) {
            return 1;
        }
        term_range = *found;
    }
    for (const char* folder : {VIEW_FOLDER, VIEW_DATA_FOLDER}) {
        if (!ready_output_folder(folder, "Page", errors)) {
            return 1;
        }
    }
    // What a killed run left: temporaries no process holds, made before this
    // run started.
    const auto every_file = [](const std::string&) { return true; };
    remove_abandoned_temporaries("./view", every_file, started);
    remove_abandoned_temporaries("./view/data", every_file, started);
    for (const PageFile& file : VIEW_PAGE_FILES) {
        std::string reason;
        const std::string name = std::string("./view/") + file.name;
        if (!write_whole_output(name, file.bytes, false, reason)) {
            errors << name << ": Image output file cannot write. (" << reason << ")" << std::endl;
            return 1;
        }
    }
    std::optional<DayCanvas> canvas = make_day_canvas(grid.ncols, grid.nrows, 1);
    if (!canvas) {
        errors << "Not enough memory to draw the images." << std::endl;
        return 1;
    }
    PngScratch scratch;
    Progress progress;
    start_progress(progress, errors, terminal_width, selection->months);
    std::set<std::string> failed;  // the months named as failed
    for (const YearMonth month : selection->months) {
        std::string detail;
        MonthEnd end = MonthEnd::failed;
        try {
            const std::optional<FileStamp> data =
                stamp_of(discharge_file_name(month.year, month.month));
            std::optional<ValueRange> range = term_range;
            if (request.range.kind == RangeChoice::month) {
                DischargeFile file;
                std::string reason;
                Failure failure = month_unreadable(month, reason);
                range = open_term_month(file, *selection, month, reason)
                            ? month_own_range(*selection, month, file, failure)
                            : std::nullopt;
                if (!range) {
                    failure.reason = failure.reason.empty() ? reason : failure.reason;
                    detail = failure_text(failure);
                }
            }
            if (range) {
                const std::string key = month_key(month, *range, grid, data);
                if (data && first_line_of(month_script_name(month)) == key) {
                    note_kept(progress, days_in_month(month.month));
                    detail = "up to date";
                    end = MonthEnd::up_to_date;
                } else if (write_month_script(*selection, month, *range, key, *canvas, scratch,
                                              progress, detail)) {
                    detail = "view written, range " + range_text(*range);
                    end = MonthEnd::drawn;
                }
            }
        } catch (const std::bad_alloc&) {
            detail = "Not enough memory.";
        }
        if (end == MonthEnd::failed) {
            failed.insert(month_label(month));
        }
        note_month(progress, month_label(month), end, detail);
    }
    finish_progress(progress);
    bool whole = true;
    const std::string script = term_script(*selection, request, failed, errors, whole);
    std::string reason;
    if (!write_whole_output("./view/data/term.js", script, false, reason)) {
        errors << "./view/data/term.js: Image output file cannot write. (" << reason << ")"
               << std::endl;
        return 1;
    }
    return months_failed(progress) > 0 || !whole ? 1 : 0;
}
