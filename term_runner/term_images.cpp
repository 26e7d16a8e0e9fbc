#include "term_images.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <sstream>
#include <thread>
#include <vector>

#include "legend.h"
#include "month_drawing.h"
#include "progress.h"

namespace {

// Workers at most, whatever --jobs says: each holds one output open at a
// time, well within what a process may have open at once.
constexpr unsigned JOBS_LIMIT = 32;

// A value typed as the dialogue reads it, the whole text and nothing else.
std::optional<float> typed_value(const std::string& text) {
    std::istringstream in(text);
    float value = 0.0F;
    if (!(in >> value) || in.peek() != std::istringstream::traits_type::eof()) {
        return std::nullopt;
    }
    return value;
}

// The monthly file of `month` opened for a pass, checked to hold the whole
// month; false if it cannot be opened or is too short. Prints nothing.
bool open_month(DischargeFile& data, const TermSelection& selection, YearMonth month) {
    std::ostream nowhere(nullptr);
    return open_discharge_file(data, month.year, month.month, nowhere) &&
           holds_month(data, days_in_month(month.month), selection.parameters.nrows,
                       selection.parameters.ncols);
}

std::uint64_t values_of_month(const TermSelection& selection, YearMonth month) {
    // holds_month() has counted it.
    return *month_value_count(days_in_month(month.month), selection.parameters.nrows,
                              selection.parameters.ncols);
}

std::string cannot_open(YearMonth month) {
    return discharge_file_name(month.year, month.month) + ": Daily discharge data cannot open.";
}

// The recorded range of a month, if there is a record.
std::string recorded_range(YearMonth month) {
    std::ifstream record(range_record_name(month));
    std::string text;
    std::getline(record, text);
    return text;
}

// Whether every image of the month and its legend are there.
bool all_images_exist(YearMonth month) {
    std::error_code error;
    for (std::int32_t day = 1; day <= days_in_month(month.month); ++day) {
        if (!std::filesystem::is_regular_file(image_file_name(month.year, month.month, day),
                                              error)) {
            return false;
        }
    }
    return std::filesystem::is_regular_file(legend_name(month), error);
}

bool write_range_record(YearMonth month, ValueRange range) {
    const std::string text = range_text(range) + "\n";
    OutputFile record;
    return create_output_file(record, range_record_name(month), true) &&
           write_output_file(record, text.data(), text.size()) && commit_output_file(record);
}

// What a worker needs for every month it draws.
struct MonthJob {
    const TermSelection& selection;
    const ImagesRequest& request;
    ValueRange term_range;  // for RangeChoice::term
    Progress& progress;
};

// The range to draw `month` with; nullopt with `detail` set if there is none.
// For a month's own range reads the month and opens it again.
std::optional<ValueRange> month_range(const MonthJob& job, YearMonth month, DischargeFile& data,
                                      std::string& detail) {
    switch (job.request.range.kind) {
        case RangeChoice::typed:
            return job.request.range.typed_range;
        case RangeChoice::term:
            return job.term_range;
        case RangeChoice::month:
            break;
    }
    const ValueRange range = find_value_range(data, values_of_month(job.selection, month));
    close_discharge_file(data);
    if (range.minimum >= range.maximum) {
        detail = "Maximun discharge <= Minimum discharge!";
        return std::nullopt;
    }
    if (!open_month(data, job.selection, month)) {
        detail = discharge_file_name(month.year, month.month) + ": Discharge data cannot open.";
        return std::nullopt;
    }
    return range;
}

// Draws one month unless it is up to date, and tells how it ended.
MonthEnd draw_term_month(const MonthJob& job, YearMonth month, DayCanvas& canvas,
                         std::string& detail) {
    DischargeFile data;
    if (!open_month(data, job.selection, month)) {
        detail = cannot_open(month);
        return MonthEnd::failed;
    }
    const std::optional<ValueRange> range = month_range(job, month, data, detail);
    if (!range) {
        return MonthEnd::failed;
    }
    const std::string range_line = range_text(*range);
    if (!job.request.force && recorded_range(month) == range_line && all_images_exist(month)) {
        detail = "up to date";
        return MonthEnd::up_to_date;
    }
    // No record while the month is drawn: a run stopped in the middle of it
    // leaves images of two ranges, which a rerun must redraw.
    std::error_code ignored;
    std::filesystem::remove(range_record_name(month), ignored);
    std::string image;
    const DrawingResult result = draw_month(data, month, days_in_month(month.month), *range, canvas,
                                            [&](std::int32_t day, const std::string& name) {
                                                if (day > 1) {
                                                    note_image(job.progress);
                                                }
                                                image = name;
                                            });
    switch (result.outcome) {
        case DrawingOutcome::done:
            note_image(job.progress);
            break;
        case DrawingOutcome::image_not_created:
            detail = image + ": Image output file cannot open.";
            return MonthEnd::failed;
        case DrawingOutcome::image_not_written:
            detail = image + ": Image output file cannot write.";
            return MonthEnd::failed;
        case DrawingOutcome::data_ran_out:
            detail = discharge_file_name(month.year, month.month) + ": Discharge data cannot open.";
            return MonthEnd::failed;
    }
    // The legend, then the record, which tells that the month is complete.
    if (!write_picture(legend_name(month), draw_legend(*range))) {
        detail = legend_name(month) + ": Image output file cannot write.";
        return MonthEnd::failed;
    }
    if (!write_range_record(month, *range)) {
        detail = range_record_name(month) + ": Image output file cannot write.";
        return MonthEnd::failed;
    }
    detail = std::to_string(result.day) + " images drawn, range " + range_line;
    return MonthEnd::drawn;
}

unsigned worker_count(unsigned asked, std::size_t months) {
    const unsigned processors = std::max(1U, std::thread::hardware_concurrency());
    const unsigned jobs = std::min(asked == 0 ? processors : asked, JOBS_LIMIT);
    return static_cast<unsigned>(std::min<std::size_t>(jobs, months));
}

// Draws every month of the selection, `jobs` at once.
void draw_months(const MonthJob& job, std::vector<DayCanvas>& canvases) {
    std::atomic<std::size_t> next{0};
    std::vector<std::thread> workers;
    for (DayCanvas& canvas : canvases) {
        workers.emplace_back([&job, &next, &canvas] {
            for (std::size_t i = next++; i < job.selection.months.size(); i = next++) {
                const YearMonth month = job.selection.months[i];
                std::string detail;
                const MonthEnd end = draw_term_month(job, month, canvas, detail);
                note_month(job.progress, month_label(month), end, days_in_month(month.month),
                           detail);
            }
        });
    }
    for (std::thread& worker : workers) {
        worker.join();
    }
}

}  // namespace

std::optional<RangeChoice> parse_range_choice(const std::string& text) {
    if (text == "term") {
        return RangeChoice{RangeChoice::term, {}};
    }
    if (text == "month") {
        return RangeChoice{RangeChoice::month, {}};
    }
    const std::size_t comma = text.find(',');
    if (comma == std::string::npos) {
        return std::nullopt;
    }
    const std::optional<float> minimum = typed_value(text.substr(0, comma));
    const std::optional<float> maximum = typed_value(text.substr(comma + 1));
    if (!minimum || !maximum || *minimum >= *maximum) {
        return std::nullopt;
    }
    return RangeChoice{RangeChoice::typed, {.maximum = *maximum, .minimum = *minimum}};
}

std::string range_text(ValueRange range) {
    char text[64];
    std::snprintf(text, sizeof text, "%.9g,%.9g", static_cast<double>(range.minimum),
                  static_cast<double>(range.maximum));
    return text;
}

std::string range_record_name(YearMonth month) {
    return "./image/" + month_label(month) + "_range.txt";
}

std::string legend_name(YearMonth month) {
    return "./image/legend_" + month_label(month) + ".ppm";
}

int run_term_legend(ValueRange range, const std::string& path, std::ostream& errors) {
    if (!write_picture(path, draw_legend(range))) {
        errors << path << ": Image output file cannot write." << std::endl;
        return 1;
    }
    return 0;
}

std::optional<ValueRange> find_term_range(const TermSelection& selection, std::ostream& errors) {
    ValueRange range = RANGE_SEARCH_START;
    bool whole = true;
    for (const YearMonth month : selection.months) {
        DischargeFile data;
        const bool opened = open_month(data, selection, month);
        if (opened) {
            range =
                widen_value_range(range, find_value_range(data, values_of_month(selection, month)));
        }
        // A pipe may still run short while it is read.
        if (!opened || data.failed) {
            errors << cannot_open(month) << std::endl;
            whole = false;
        }
    }
    if (!whole) {
        errors << "The range of the term needs every month of it: narrow the selection with "
                  "--from and --to, or give the range with --range."
               << std::endl;
        return std::nullopt;
    }
    if (range.minimum >= range.maximum) {
        errors << "Maximun discharge <= Minimum discharge!" << std::endl;
        return std::nullopt;
    }
    return range;
}

int run_term_range(const std::string& from, const std::string& to, std::ostream& out,
                   std::ostream& errors) {
    int status = 0;
    const std::optional<TermSelection> selection = select_term(from, to, errors, status);
    if (!selection) {
        return status;
    }
    const std::optional<ValueRange> range = find_term_range(*selection, errors);
    if (!range) {
        return 1;
    }
    out << range_text(*range) << std::endl;
    return 0;
}

int run_term_images(const std::string& from, const std::string& to, const ImagesRequest& request,
                    std::ostream& errors, bool terminal) {
    int status = 0;
    const std::optional<TermSelection> selection = select_term(from, to, errors, status);
    if (!selection) {
        return status;
    }
    ValueRange term_range{};
    if (request.range.kind == RangeChoice::term) {
        const std::optional<ValueRange> found = find_term_range(*selection, errors);
        if (!found) {
            return 1;
        }
        term_range = *found;
    }
    std::error_code error;
    std::filesystem::create_directory("image", error);
    if (!std::filesystem::is_directory("image", error)) {
        errors << "./image: Image output file cannot open." << std::endl;
        return 1;
    }
    const RunParameters& grid = selection->parameters;
    std::vector<DayCanvas> canvases;
    for (unsigned i = 0; i < worker_count(request.jobs, selection->months.size()); ++i) {
        std::optional<DayCanvas> canvas = make_day_canvas(grid.ncols, grid.nrows);
        if (!canvas) {
            errors << "Not enough memory to draw the images." << std::endl;
            return 1;
        }
        canvases.push_back(std::move(*canvas));
    }
    Progress progress;
    progress.errors = &errors;
    progress.terminal = terminal;
    progress.months_total = static_cast<std::int64_t>(selection->months.size());
    for (const YearMonth month : selection->months) {
        progress.images_total += days_in_month(month.month);
    }
    progress.image_bytes = raster_bytes(grid.ncols, grid.nrows).value_or(0);
    const MonthJob job{*selection, request, term_range, progress};
    draw_months(job, canvases);
    finish_progress(progress);
    return progress.failed > 0 ? 1 : 0;
}
