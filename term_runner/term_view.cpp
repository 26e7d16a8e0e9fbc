#include "term_view.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>
#include <new>
#include <ostream>
#include <set>
#include <span>

#include "colour_table.h"
#include "disk_space.h"
#include "month_record.h"
#include "output_file.h"
#include "output_names.h"
#include "png_image.h"
#include "progress.h"
#include "term_gauges.h"
#include "term_series.h"

namespace {

// Format of the data scripts: raised when the page reads them otherwise.
constexpr int VIEW_DATA_VERSION = 2;

// What a frame adds to its PNG in a month's script: the data URI's head,
// the quotes, the comma and the line end.
constexpr std::string_view DATA_URI_HEAD = "data:image/png;base64,";
constexpr std::uint64_t FRAME_FRAMING = DATA_URI_HEAD.size() + 4;

// The colours of a month's frames where they are not the classic palette
// under the square-root stretch, which older scripts were all drawn in.
std::string colours_key(ValueRange range, Palette palette) {
    if (range.stretch == Stretch::sqrt && palette == Palette::classic) {
        return "";
    }
    return std::string(" colours ") + stretch_name(range.stretch) + " " + palette_name(palette);
}

// The first line of a month's script: what it was made from. A script whose
// first line is the one a month needs now is up to date; one made from a
// monthly file that cannot be stamped (a pipe), "data none", never is.
std::string month_key(YearMonth month, ValueRange range, Palette palette, const RunParameters& grid,
                      const std::optional<FileStamp>& data) {
    return "// discharge_view " + std::to_string(VIEW_DATA_VERSION) + " " + month_label(month) +
           " range " + range_text(range) + colours_key(range, palette) + " grid " +
           std::to_string(grid.ncols) + " " + std::to_string(grid.nrows) + " data " +
           (data ? std::to_string(data->bytes) + " " + std::to_string(data->modified) : "none");
}

std::string first_line_of(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::string line;
    std::getline(in, line);
    return line;
}

// A value as the page reads it: the shortest text of the float, or
// Infinity where no float is.
std::string number_text(float value) {
    return std::isinf(value) ? "Infinity" : shortest_text(value);
}

// What each colour of the month stands for under `range`: for each palette
// entry its values from low up to high (null for black, which has no level),
// and where values above the range begin.
std::string bounds_script(ValueRange range, Palette palette) {
    const ColourBounds bounds = colour_entry_bounds(range, palette);
    std::string text = "bounds: [";
    for (const EntryBounds& entry : bounds.entries) {
        if (entry.low) {
            text.append("[").append(number_text(*entry.low)).append(",");
            text.append(number_text(*entry.high)).append("],");
        } else {
            text.append("null,");
        }
    }
    return text + "], above: " + number_text(bounds.above);
}

// Appends each day of `data` to `script` as a PNG of one pixel a cell, its
// palette entry as a grey level. False with `failure` set if it fails (the
// script's file `name` failed where a frame could not be made).
bool append_frames(DischargeFile& data, YearMonth month, ValueRange range, const std::string& name,
                   DayCanvas& canvas, PngScratch& scratch, Progress& progress, std::string& script,
                   Failure& failure) {
    std::string png;
    const PieceWriter collect = [&png](std::span<const std::span<const char>> pieces) {
        for (const std::span<const char> piece : pieces) {
            png.append(piece.data(), piece.size());
        }
        return true;
    };
    for (std::int32_t day = 1; day <= days_in_month(month.month); ++day) {
        if (!fill_level_grid(data, range, canvas)) {
            failure = {discharge_file_name(month.year, month.month), "Discharge data cannot open.",
                       ""};
            return false;
        }
        png.clear();
        std::string reason;
        if (!write_png_image(canvas.grid, 1, scratch, collect, reason,
                             {.entries_as_grey = true, .palette = canvas.palette})) {
            failure = {name, "Page output file cannot write.", reason};
            return false;
        }
        script.append("\"").append(DATA_URI_HEAD).append(base64(png)).append("\",\n");
        note_image(progress);
    }
    return true;
}

// The month's script: its key, then a call that hands the page the month's
// range, what its colours stand for and one frame a day. False with
// `failure` set once anything failed.
bool write_month_script(const TermSelection& selection, YearMonth month, ValueRange range,
                        const std::string& key, const std::string& name, DayCanvas& canvas,
                        PngScratch& scratch, Progress& progress, Failure& failure) {
    DischargeFile data;
    std::string reason;
    if (!open_term_month(data, selection, month, reason)) {
        failure = month_unreadable(month, reason);
        return false;
    }
    std::string script = key + "\ndischarge_view.month({label: \"" + month_label(month) +
                         "\", range: \"" + range_text(range) + "\", minimum: \"" +
                         shortest_text(range.minimum) + "\", maximum: \"" +
                         shortest_text(range.maximum) + "\", " +
                         bounds_script(range, canvas.palette) + ", frames: [\n";
    if (!append_frames(data, month, range, name, canvas, scratch, progress, script, failure)) {
        return false;
    }
    script += "]});\n";
    if (!write_whole_output(name, script, false, reason)) {
        failure = {name, "Page output file cannot write.", reason};
        return false;
    }
    return true;
}

// How a month of the page ended: its script there and right, or why not.
struct MonthView {
    YearMonth month;
    bool shown = false;
    std::string error;  // why it has no data
};

// What every month of the run shares.
struct ViewJob {
    const TermSelection& selection;
    const ViewRequest& request;
    ValueRange term_range;      // for RangeChoice::term and typed
    const GaugeInputs* gauges;  // the gauges shown, after the cells; none without
    DayCanvas& canvas;
    PngScratch& scratch;
    Progress& progress;
};

// The range of `month` on the page: the term's or the typed one, or the
// month's own, read from it; nullopt with `failure` set if it has none.
std::optional<ValueRange> view_range(const ViewJob& job, YearMonth month, Failure& failure) {
    if (job.request.range.kind != RangeChoice::month) {
        return job.term_range;
    }
    DischargeFile file;
    std::string reason;
    if (!open_term_month(file, job.selection, month, reason)) {
        failure = month_unreadable(month, reason);
        return std::nullopt;
    }
    std::string note;
    std::optional<ValueRange> range =
        month_own_range(job.selection, month, file, failure, job.request.range.stretch, &note);
    if (!note.empty()) {
        print_line(job.progress, month_label(month) + ": " + note);
    }
    return range;
}

// Writes the month's script unless it is up to date, noting how it ended.
MonthView view_month(const ViewJob& job, YearMonth month) {
    MonthView view{month, false, ""};
    MonthEnd end = MonthEnd::failed;
    std::string detail;
    Failure failure;
    try {
        const std::optional<FileStamp> data =
            stamp_of(discharge_file_name(month.year, month.month));
        const std::optional<ValueRange> range = view_range(job, month, failure);
        const std::string key =
            range ? month_key(month, *range, job.request.palette, job.selection.parameters, data)
                  : "";
        const std::string name = month_script_name(job.request.folder, month);
        if (range && data && first_line_of(name) == key) {
            note_kept(job.progress, days_in_month(month.month));
            detail = "up to date";
            end = MonthEnd::up_to_date;
        } else if (range && write_month_script(job.selection, month, *range, key, name, job.canvas,
                                               job.scratch, job.progress, failure)) {
            detail = "view written, range " + range_text(*range);
            end = MonthEnd::drawn;
        }
    } catch (const std::bad_alloc&) {
        failure = {"", "Not enough memory.", ""};
    }
    view.shown = end != MonthEnd::failed;
    if (!view.shown) {
        view.error = detail = failure_text(failure);
    }
    note_month(job.progress, month_label(month), end, detail);
    return view;
}

// The colour table as the page draws it: each entry's colour and the levels
// it draws (-1 for none), which entries draw no discharge and values above
// the range, and their colours' names; the stretch, for the legend's axis.
std::string palette_script(Palette palette, Stretch stretch) {
    const ColourTable& table = colour_table(palette);
    std::string colours = "[";
    std::string levels = "[";
    const std::vector<EntryLevels> entry_levels = colour_entry_levels(palette);
    for (std::size_t entry = 0; entry < table.colours.size(); ++entry) {
        const Rgb colour = table.colours[entry];
        colours.append("[").append(std::to_string(colour.red)).append(",");
        colours.append(std::to_string(colour.green)).append(",");
        colours.append(std::to_string(colour.blue)).append("],");
        levels.append("[").append(std::to_string(entry_levels[entry].lowest)).append(",");
        levels.append(std::to_string(entry_levels[entry].highest)).append("],");
    }
    return "palette: " + colours + "], levels: " + levels +
           "], black: " + std::to_string(table.entry[NONE_INDEX]) +
           ", aboveEntry: " + std::to_string(table.entry[ABOVE_INDEX]) +
           ", noneName: " + js_string(none_colour_name(palette)) +
           ", aboveName: " + js_string(above_colour_name(palette)) +
           ", stretch: " + js_string(stretch_name(stretch));
}

// A gauge's id and its observed series on the page's days (28 in every
// February, as the frames), "" where there is no observation.
std::string gauge_fields(const GaugeInputs& gauges, std::size_t index,
                         const std::vector<MonthView>& views) {
    const std::string& id = gauges.gauges[index].id;
    const std::vector<std::string>& ids = gauges.observations.ids;
    const auto column = std::find(ids.begin(), ids.end(), id);
    std::string observed;
    for (const MonthView& view : views) {
        for (std::int32_t day = 1; day <= days_in_month(view.month.month); ++day) {
            const auto values =
                gauges.observations.values.find(Date{view.month.year, view.month.month, day});
            double value = std::numeric_limits<double>::quiet_NaN();
            if (column != ids.end() && values != gauges.observations.values.end()) {
                value = values->second[static_cast<std::size_t>(column - ids.begin())];
            }
            char text[32] = "";
            if (!std::isnan(value)) {
                *std::to_chars(text, text + sizeof text - 1, value).ptr = '\0';
            }
            observed.append("\"").append(text).append("\",");
        }
    }
    return ", gauge: " + js_string(id) + ", observed: [" + observed + "]";
}

// The exact series of the chosen cells ("" for a day whose month could not
// be read). A month that cannot be read is named on `errors` unless the
// month's own line named it already, and makes `whole` false.
std::string cells_script(const TermSelection& selection, const std::vector<GridCell>& cells,
                         const std::vector<MonthView>& views, std::ostream& errors, bool& whole,
                         const GaugeInputs* gauges) {
    std::vector<std::string> values(cells.size());
    for (const MonthView& view : views) {
        if (cells.empty()) {
            break;
        }
        std::vector<std::vector<float>> series;
        std::string reason;
        const bool read = read_month_series(selection, view.month, cells, series, reason);
        if (!read && view.shown) {
            errors << failure_text(month_unreadable(view.month, reason)) << std::endl;
        }
        whole = whole && read;
        for (std::size_t cell = 0; cell < cells.size(); ++cell) {
            for (std::int32_t day = 0; day < days_in_month(view.month.month); ++day) {
                values[cell]
                    .append("\"")
                    .append(read ? discharge_text(series[cell][static_cast<std::size_t>(day)])
                                 : std::string())
                    .append("\",");
            }
        }
    }
    std::string text;
    const std::size_t plain = cells.size() - (gauges ? gauges->gauges.size() : 0);
    for (std::size_t cell = 0; cell < cells.size(); ++cell) {
        text += "{column: " + std::to_string(cells[cell].column) +
                ", row: " + std::to_string(cells[cell].row) + ", values: [" + values[cell] + "]";
        if (cell >= plain) {
            text += gauge_fields(*gauges, cell - plain, views);
        }
        text += "},";
    }
    return text;
}

// The term's script: the grid, the months (each with whether the page has
// its data, or why not), the colour table, the units and the cells.
std::string term_script(const ViewJob& job, const std::vector<MonthView>& views,
                        const std::string& cells) {
    const RunParameters& grid = job.selection.parameters;
    std::string months;
    for (const MonthView& view : views) {
        months += "{label: \"" + month_label(view.month) +
                  "\", year: " + std::to_string(view.month.year) +
                  ", month: " + std::to_string(view.month.month) +
                  ", days: " + std::to_string(days_in_month(view.month.month)) +
                  ", shown: " + (view.shown ? "true" : "false") +
                  ", error: " + js_string(view.error) + "},";
    }
    const char* const kinds[] = {"the term's range", "each month's range", "a typed range"};
    const RangeChoice& range = job.request.range;
    return "discharge_view.term({version: " + std::to_string(VIEW_DATA_VERSION) +
           ", rangeKind: \"" + kinds[range.kind] + "\", typedMinimum: " +
           (range.kind == RangeChoice::typed ? number_text(range.typed_range.minimum) : "null") +
           ", units: " + js_string(job.request.units) + ", ncols: " + std::to_string(grid.ncols) +
           ", nrows: " + std::to_string(grid.nrows) + ", months: [" + months + "], " +
           palette_script(job.request.palette, job.request.range.stretch) + ", cells: [" + cells +
           "]});\n";
}

// What the page's files take beyond what those of their names take now:
// the month scripts not up to date, reckoned from days drawn in advance,
// the term's script and the page's own files. Nullopt where there is room.
std::optional<std::string> view_space_shortage(const ViewJob& job) {
    const std::string& folder = job.request.folder;
    const std::optional<std::uint64_t> available = free_space(folder);
    if (!job.request.check_space || !available) {
        return std::nullopt;
    }
    const RangeChoice& choice = job.request.range;
    const std::optional<ValueRange> range =
        choice.kind == RangeChoice::month ? std::nullopt : std::optional(job.term_range);
    const PngSample sample = sample_png_sizes(
        job.selection, job.selection.months, range, choice.stretch,
        [&job](const LevelGrid& grid, YearMonth, const PieceWriter& write) {
            PngScratch scratch;
            std::string reason;
            return write_png_image(grid, 1, scratch, write, reason,
                                   {.entries_as_grey = true, .palette = job.request.palette});
        });
    const std::uint64_t frame = (sample.mean_bytes + 2) / 3 * 4 + FRAME_FRAMING;
    std::uint64_t needed = 0;
    std::uint64_t days = 0;
    for (const YearMonth month : job.selection.months) {
        const std::uint64_t month_days = static_cast<std::uint64_t>(days_in_month(month.month));
        days += month_days;
        const std::uint64_t script = month_days * frame + 16 * 1024;
        needed = saturated_sum(needed, space_added(script, month_script_name(folder, month)));
    }
    const std::uint64_t cells = job.request.cells.size();
    needed = saturated_sum(
        needed, space_added(cells * days * 16 + 64 * 1024, view_file(folder, TERM_SCRIPT_NAME)));
    for (const PageFile& file : VIEW_PAGE_FILES) {
        needed =
            saturated_sum(needed, space_added(file.bytes.size(), view_file(folder, file.name)));
    }
    if (needed <= *available) {
        return std::nullopt;
    }
    return "Not enough free space in " + folder + ": the page needs about " + bytes_text(needed) +
           ", reckoned from " + std::to_string(sample.days) +
           (sample.days == 1 ? " day" : " days") + " drawn in advance, and " +
           bytes_text(*available) + " is free. --no-space-check writes it regardless.";
}

// Writes the page's own files; false after naming one that fails.
bool write_page_files(const std::string& folder, std::ostream& errors) {
    for (const PageFile& file : VIEW_PAGE_FILES) {
        std::string reason;
        const std::string name = view_file(folder, file.name);
        if (!write_whole_output(name, file.bytes, false, reason)) {
            errors << failure_text({name, "Page output file cannot write.", reason}) << std::endl;
            return false;
        }
    }
    return true;
}

// Writes `bytes` as `path`, or names it on `errors`.
bool write_page_data(const std::string& path, const std::string& bytes, std::ostream& errors) {
    std::string reason;
    if (!write_whole_output(path, bytes, false, reason)) {
        errors << failure_text({path, "Page output file cannot write.", reason}) << std::endl;
        return false;
    }
    return true;
}

// Takes the page's lock and clears what a killed run left; false after
// saying why where another run is writing the page or the lock cannot be
// had.
bool lock_page(const std::string& folder, FileLock& lock, std::filesystem::file_time_type started,
               std::ostream& errors) {
    std::string reason;
    const std::string lock_name = view_file(folder, VIEW_LOCK_NAME);
    switch (lock_file(lock, lock_name, reason)) {
        case Locking::locked:
            break;
        case Locking::busy:
            errors << folder << ": busy: another run is writing the page" << std::endl;
            return false;
        case Locking::failed:
            errors << failure_text({lock_name, "Page output file cannot open.", reason})
                   << std::endl;
            return false;
    }
    // Temporaries no process holds, made before this run started.
    const auto every_file = [](const std::string&) { return true; };
    remove_abandoned_temporaries(folder, every_file, started);
    remove_abandoned_temporaries(view_file(folder, VIEW_DATA_FOLDER), every_file, started);
    return true;
}

// Writes the months' scripts and then the term's; false once any failed,
// with `term_written` telling whether the term's script was.
bool write_page_data_of(const ViewJob& job, bool& term_written, std::ostream& errors) {
    std::vector<MonthView> views;
    for (const YearMonth month : job.selection.months) {
        views.push_back(view_month(job, month));
    }
    finish_progress(job.progress);
    bool whole = true;
    const std::string cells =
        cells_script(job.selection, job.request.cells, views, errors, whole, job.gauges);
    term_written = write_page_data(view_file(job.request.folder, TERM_SCRIPT_NAME),
                                   term_script(job, views, cells), errors);
    return term_written && whole && months_failed(job.progress) == 0;
}

// Makes the page's folder and its data's, takes the page's lock and checks
// the space.
bool ready_page(const ViewJob& job, FileLock& lock, std::filesystem::file_time_type started,
                std::ostream& errors) {
    const std::string& folder = job.request.folder;
    for (const std::string& made : {folder, view_file(folder, VIEW_DATA_FOLDER)}) {
        if (!ready_output_folder(made.c_str(), "Page", errors)) {
            return false;
        }
    }
    if (!lock_page(folder, lock, started, errors)) {
        return false;
    }
    if (const std::optional<std::string> shortage = view_space_shortage(job)) {
        errors << *shortage << std::endl;
        return false;
    }
    return true;
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

std::string js_string(std::string_view text) {
    std::string literal = "\"";
    for (const char c : text) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            literal += '\\';
            literal += c;
        } else if (byte < 0x20 || c == '<') {
            // Control characters, and "<" so that no text can close a
            // script element it is placed in.
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", byte);
            literal += escape;
        } else {
            literal += c;
        }
    }
    return literal + "\"";
}

int run_term_view(const std::string& from, const std::string& to, const ViewRequest& request,
                  std::ostream& errors, int terminal_width) {
    const std::filesystem::file_time_type started = std::filesystem::file_time_type::clock::now();
    int status = 0;
    const std::optional<TermSelection> selection = select_term(from, to, errors, status);
    if (!selection) {
        return status;
    }
    if (!cells_in_grid(request.cells, selection->parameters, errors)) {
        return 2;
    }
    // The gauges join the cells with exact series, after them.
    std::optional<GaugeInputs> gauges;
    ViewRequest with_gauges = request;
    if (!request.gauges_file.empty()) {
        gauges = read_gauge_inputs(
            {.gauges_file = request.gauges_file, .observed_file = request.observed_file},
            selection->parameters, errors);
        if (!gauges) {
            return 2;
        }
        for (const Gauge& gauge : gauges->gauges) {
            with_gauges.cells.push_back(gauge.cell);
        }
    }
    const std::optional<ValueRange> chosen = chosen_term_range(*selection, request.range, errors);
    if (!chosen) {
        return 1;
    }
    const ValueRange term_range = *chosen;
    std::optional<DayCanvas> canvas =
        make_day_canvas(selection->parameters.ncols, selection->parameters.nrows, 1);
    if (!canvas) {
        errors << "Not enough memory to draw the images." << std::endl;
        return 1;
    }
    canvas->palette = request.palette;
    PngScratch scratch;
    Progress progress;
    const ViewJob job{*selection, with_gauges, term_range, gauges ? &*gauges : nullptr,
                      *canvas,    scratch,     progress};
    FileLock lock;
    // While the data are written the page says so; the note stays where the
    // run does not end.
    if (!ready_page(job, lock, started, errors) ||
        !write_page_data(
            view_file(request.folder, INCOMPLETE_SCRIPT_NAME),
            "discharge_view.incomplete({command: " + js_string(request.command_line) + "});\n",
            errors) ||
        !write_page_files(request.folder, errors)) {
        return 1;
    }
    start_progress(progress, errors, terminal_width, selection->months);
    bool term_written = false;
    const bool whole = write_page_data_of(job, term_written, errors);
    if (term_written) {
        std::error_code ignored;
        std::filesystem::remove(view_file(request.folder, INCOMPLETE_SCRIPT_NAME), ignored);
    }
    return whole ? 0 : 1;
}
