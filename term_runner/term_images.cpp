#include "term_images.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <new>
#include <ostream>
#include <span>
#include <sstream>
#include <thread>
#include <vector>

#include "legend.h"
#include "month_drawing.h"
#include "month_record.h"
#include "png_image.h"
#include "progress.h"

namespace {

// Workers at most, whatever --jobs says: each holds one output open at a
// time, well within what a process may have open at once.
constexpr unsigned JOBS_LIMIT = 32;

// How often, at most, a month's record is rewritten while its images are
// drawn.
constexpr std::chrono::milliseconds RECORD_INTERVAL{500};

// A value typed as the dialogue reads it, the whole text and nothing else.
std::optional<float> typed_value(const std::string& text) {
    std::istringstream in(text);
    float value = 0.0F;
    if (!(in >> value) || in.peek() != std::istringstream::traits_type::eof()) {
        return std::nullopt;
    }
    return value;
}

// What a worker draws a day with, allocated once and reused for every day.
struct Worker {
    DayCanvas canvas;
    PngScratch png;
};

// Writes a legend in the format of the images, whole or not at all.
bool write_legend(const std::string& path, const Picture& legend, std::string& reason);

// What a worker needs for every month it draws.
struct MonthJob {
    const TermSelection& selection;
    const ImagesRequest& request;
    ValueRange term_range;  // for RangeChoice::term
    Progress& progress;
    // When the run started: a temporary file older than that and open
    // nowhere was left by a run that was killed.
    std::filesystem::file_time_type started;
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
    return month_own_range(job.selection, month, data, detail);
}

// Bytes of a PPM image of the grid at `scale`: the header and the raster;
// nullopt where they cannot be counted in 64 bits.
std::optional<std::uint64_t> ppm_file_bytes(const RunParameters& grid, std::uint32_t scale) {
    std::ostringstream header;
    write_image_header(header, grid.ncols, grid.nrows, scale);
    const std::optional<std::uint64_t> raster = raster_bytes(grid.ncols, grid.nrows, scale);
    if (!raster || *raster > std::numeric_limits<std::uint64_t>::max() - header.str().size()) {
        return std::nullopt;
    }
    return header.str().size() + *raster;
}

// Bytes of every image the request draws where they all have the same size
// (PPM), else 0: a PNG takes what its pixels compress to.
std::uint64_t fixed_image_bytes(const RunParameters& grid, const ImagesRequest& request) {
    return request.format == ImageFormat::ppm ? ppm_file_bytes(grid, request.scale).value_or(0) : 0;
}

// Whether `name`, a file name in ./image/, is one of the outputs of `month`
// in either format: its images, its legend or its record.
bool is_output_of(YearMonth month, const std::string& name) {
    const std::string label = month_label(month);
    for (const char* extension : {".ppm", ".png"}) {
        if ((name.starts_with(label + "_") &&
             name.ends_with(std::string("_discharge") + extension)) ||
            name == "legend_" + label + extension) {
            return true;
        }
    }
    return name == label + "_range.txt";
}

// The record of the drawing that `month` needs now with the colour range
// `range` (range_text()), nothing drawn yet.
MonthRecord drawing_needed(const MonthJob& job, YearMonth month, const std::string& range,
                           const FileStamp& data) {
    const RunParameters& grid = job.selection.parameters;
    MonthRecord record;
    record.range = range;
    record.ncols = grid.ncols;
    record.nrows = grid.nrows;
    record.data = data;
    record.format = format_name(job.request.format);
    record.scale = static_cast<std::int32_t>(job.request.scale);
    record.image_bytes = fixed_image_bytes(grid, job.request);
    record.days.resize(static_cast<std::size_t>(days_in_month(month.month)));
    return record;
}

// The record of the drawing `month` had, if any: what the images on disk
// were drawn from.
std::optional<MonthRecord> month_record(YearMonth month) {
    return read_month_record(range_record_name(month), days_in_month(month.month));
}

// Takes out of `record` every image and the legend that are not on disk as
// it says, and returns how many images are left: those still right. An image
// of a fixed size must have it.
std::int64_t keep_what_is_right(MonthRecord& record, YearMonth month, ImageFormat format) {
    std::int64_t kept = 0;
    for (std::size_t day = 0; day < record.days.size(); ++day) {
        std::optional<FileStamp>& recorded = record.days[day];
        const std::string name = term_image_name(month, static_cast<std::int32_t>(day + 1), format);
        if (recorded && (record.image_bytes == 0 || recorded->bytes == record.image_bytes) &&
            stamp_of(name) == recorded) {
            ++kept;
        } else {
            recorded.reset();
        }
    }
    if (record.legend && stamp_of(legend_name(month, format)) != record.legend) {
        record.legend.reset();
    }
    return kept;
}

// Draws the images and the legend that `record` lacks, recording each as it
// is complete. Returns false with `detail` set once anything failed.
bool draw_what_is_missing(const MonthJob& job, YearMonth month, ValueRange range,
                          DischargeFile& data, Worker& worker, MonthRecord& record,
                          std::string& detail) {
    DayCanvas& canvas = worker.canvas;
    PngScratch& scratch = worker.png;
    const std::string record_name = range_record_name(month);
    std::string reason;
    std::string image;
    const ImageFormat format = job.request.format;
    DayHooks hooks;
    hooks.wanted = [&](std::int32_t day) {
        return !record.days[static_cast<std::size_t>(day - 1)].has_value();
    };
    hooks.before = [&](std::int32_t, const std::string& name) { image = name; };
    hooks.name = [format](YearMonth m, std::int32_t day) {
        return term_image_name(m, day, format);
    };
    if (format == ImageFormat::png) {
        hooks.write = [&job, &scratch](OutputFile& file, const LevelGrid& grid,
                                       std::string& failure) {
            return write_png_image(
                grid, job.request.scale, scratch,
                [&file](std::span<const std::span<const char>> pieces) {
                    return write_output_pieces(file, pieces);
                },
                failure);
        };
    }
    // The record is brought up to date with the images as they are drawn,
    // but not after every one: replacing it costs a rename, which with
    // small images slowed drawing by a twentieth. A run killed in the middle
    // of a month draws again at most the images of the last moment.
    auto recorded = std::chrono::steady_clock::now();
    hooks.after = [&](std::int32_t day, const std::string& name) {
        note_image(job.progress);
        record.days[static_cast<std::size_t>(day - 1)] = stamp_of(name);
        const auto now = std::chrono::steady_clock::now();
        if (now - recorded < RECORD_INTERVAL) {
            return true;
        }
        recorded = now;
        return write_month_record(record_name, record, reason);
    };
    const DrawingResult result =
        draw_month(data, month, days_in_month(month.month), range, canvas, hooks);
    switch (result.outcome) {
        case DrawingOutcome::done:
            break;
        case DrawingOutcome::image_not_created:
            detail = image + ": Image output file cannot open. (" + result.reason + ")";
            return false;
        case DrawingOutcome::image_not_written:
            detail = image + ": Image output file cannot write. (" + result.reason + ")";
            return false;
        case DrawingOutcome::data_ran_out:
            detail = discharge_file_name(month.year, month.month) + ": Discharge data cannot open.";
            return false;
        case DrawingOutcome::out_of_memory:
            detail = "Not enough memory.";
            return false;
        case DrawingOutcome::stopped:
            detail = record_name + ": Image output file cannot write. (" + reason + ")";
            return false;
    }
    if (!record.legend) {
        const std::string legend = legend_name(month, format);
        if (!write_legend(legend, draw_legend(range), reason)) {
            detail = legend + ": Image output file cannot write. (" + reason + ")";
            return false;
        }
        record.legend = stamp_of(legend);
    }
    // Written even where nothing else was: a record that is not of this
    // drawing must not stay.
    if (!write_month_record(record_name, record, reason)) {
        detail = record_name + ": Image output file cannot write. (" + reason + ")";
        return false;
    }
    return true;
}

// Draws one month unless it is up to date, and tells how it ended. The
// month is locked throughout, so that no other run draws it meanwhile nor
// writes its record.
MonthEnd draw_term_month(const MonthJob& job, YearMonth month, Worker& worker,
                         std::string& detail) {
    FileLock lock;
    std::string reason;
    switch (lock_file(lock, lock_name(month), reason)) {
        case Locking::locked:
            break;
        case Locking::busy:
            detail = "busy: another run is drawing it";
            return MonthEnd::failed;
        case Locking::failed:
            detail = lock_name(month) + ": Image output file cannot open. (" + reason + ")";
            return MonthEnd::failed;
    }
    remove_abandoned_temporaries(
        "./image", [month](const std::string& name) { return is_output_of(month, name); },
        job.started);
    DischargeFile data;
    // Stamped before it is read: a file changed while it is drawn is drawn
    // again by the next run.
    const std::optional<FileStamp> data_stamp =
        stamp_of(discharge_file_name(month.year, month.month));
    if (!open_term_month(data, job.selection, month, reason)) {
        detail = cannot_open(month, reason);
        return MonthEnd::failed;
    }
    const std::optional<ValueRange> range = month_range(job, month, data, detail);
    if (!range) {
        return MonthEnd::failed;
    }
    MonthRecord record =
        drawing_needed(job, month, range_text(*range), data_stamp.value_or(FileStamp{}));
    const std::int32_t days = days_in_month(month.month);
    if (!job.request.force) {
        const std::optional<MonthRecord> recorded = month_record(month);
        if (recorded && same_drawing(*recorded, record)) {
            record = *recorded;
        }
    }
    const std::int64_t kept = keep_what_is_right(record, month, job.request.format);
    note_kept(job.progress, kept);
    if (kept == days && record.legend) {
        detail = "up to date";
        return MonthEnd::up_to_date;
    }
    if (!draw_what_is_missing(job, month, *range, data, worker, record, detail)) {
        return MonthEnd::failed;
    }
    if (kept == days) {
        detail = "legend drawn, " + std::to_string(kept) + " images kept, range " + record.range;
    } else {
        detail =
            std::to_string(days - kept) + (days - kept == 1 ? " image drawn" : " images drawn") +
            (kept > 0 ? ", " + std::to_string(kept) + " kept" : "") + ", range " + record.range;
    }
    return MonthEnd::drawn;
}

// Disk space is counted in blocks of this many bytes, as most file systems
// allocate it: a file takes its bytes rounded up to whole blocks.
constexpr std::uint64_t DISK_BLOCK = 4096;

// `a` + `b`, or the largest count where that does not fit in 64 bits.
std::uint64_t saturated_sum(std::uint64_t a, std::uint64_t b) {
    return a > std::numeric_limits<std::uint64_t>::max() - b
               ? std::numeric_limits<std::uint64_t>::max()
               : a + b;
}

std::uint64_t on_disk(std::uint64_t bytes) {
    return saturated_sum(bytes / DISK_BLOCK * DISK_BLOCK, bytes % DISK_BLOCK > 0 ? DISK_BLOCK : 0);
}

// The bytes one image of the request takes at most: a PPM's exactly, a
// PNG's bound. The largest count where it cannot be counted.
std::uint64_t image_bytes_at_most(const RunParameters& grid, const ImagesRequest& request) {
    const std::optional<std::uint64_t> bytes =
        request.format == ImageFormat::ppm
            ? ppm_file_bytes(grid, request.scale)
            : png_image_bytes_bound(grid.ncols, grid.nrows, request.scale);
    return bytes ? on_disk(*bytes) : std::numeric_limits<std::uint64_t>::max();
}

// The space drawing the selection may take beyond what its outputs take on
// disk now. Each image and legend to be drawn takes its size less that of the
// file of its name it replaces; images that are up to date as recorded take
// nothing, nor do their months' legends. Each worker holds one image under a
// temporary name before it replaces the old one. The range of a month drawn
// with its own range is taken to be the recorded one: the actual drawing
// checks it.
std::uint64_t space_needed(const MonthJob& job, unsigned workers) {
    const RunParameters& grid = job.selection.parameters;
    const ImageFormat format = job.request.format;
    const std::uint64_t image = image_bytes_at_most(grid, job.request);
    // A legend is as large whatever its range; a PNG legend at most its
    // pixels and a block of framing.
    const Picture legend = draw_legend({.maximum = 1.0F, .minimum = 0.0F});
    const std::uint64_t legend_bytes =
        on_disk(3 * static_cast<std::uint64_t>(legend.pixels.size()) + 64) +
        (format == ImageFormat::png ? DISK_BLOCK : 0);
    const auto replacing = [](std::uint64_t bytes, const std::string& name) {
        const std::optional<FileStamp> old = stamp_of(name);
        const std::uint64_t old_bytes = old ? on_disk(old->bytes) : 0;
        return bytes > old_bytes ? bytes - old_bytes : 0;
    };
    std::uint64_t needed = 0;
    bool drawing = false;
    for (const YearMonth month : job.selection.months) {
        const std::optional<MonthRecord> recorded =
            job.request.force ? std::nullopt : month_record(month);
        const std::string range = job.request.range.kind == RangeChoice::month
                                      ? (recorded ? recorded->range : "")
                                      : range_text(job.request.range.kind == RangeChoice::typed
                                                       ? job.request.range.typed_range
                                                       : job.term_range);
        MonthRecord record = drawing_needed(
            job, month, range,
            stamp_of(discharge_file_name(month.year, month.month)).value_or(FileStamp{}));
        if (recorded && same_drawing(*recorded, record)) {
            record = *recorded;
        }
        keep_what_is_right(record, month, format);
        bool month_drawn = false;
        for (std::size_t day = 0; day < record.days.size(); ++day) {
            if (!record.days[day]) {
                month_drawn = true;
                needed = saturated_sum(
                    needed,
                    replacing(image,
                              term_image_name(month, static_cast<std::int32_t>(day + 1), format)));
            }
        }
        if (!record.legend) {
            month_drawn = true;
            needed = saturated_sum(needed, replacing(legend_bytes, legend_name(month, format)));
        }
        // The record is rewritten whenever the month is drawn.
        if (month_drawn) {
            needed = saturated_sum(needed, DISK_BLOCK);
        }
        drawing = drawing || month_drawn;
    }
    for (unsigned i = 0; drawing && i < workers; ++i) {
        needed = saturated_sum(needed, image);
    }
    return needed;
}

// "2.79 GB (2790001234 bytes)": decimal units, as disk sizes are sold.
std::string bytes_text(std::uint64_t bytes) {
    const char* const units[] = {"bytes", "kB", "MB", "GB", "TB", "PB", "EB"};
    double value = static_cast<double>(bytes);
    std::size_t unit = 0;
    while (value >= 1000.0 && unit + 1 < std::size(units)) {
        value /= 1000.0;
        ++unit;
    }
    char text[96];
    if (unit == 0) {
        std::snprintf(text, sizeof text, "%llu bytes", static_cast<unsigned long long>(bytes));
    } else {
        std::snprintf(text, sizeof text, "%.3g %s (%llu bytes)", value, units[unit],
                      static_cast<unsigned long long>(bytes));
    }
    return text;
}

// Whether the file system of ./image/ can take what drawing may write;
// where not, says so on `errors`. A free space the system does not tell is
// not checked: the writes will say what fails.
bool space_enough(const MonthJob& job, unsigned workers, std::ostream& errors) {
    std::error_code failed;
    const std::filesystem::space_info space = std::filesystem::space("image", failed);
    if (failed || space.available == static_cast<std::uintmax_t>(-1)) {
        return true;
    }
    const std::uint64_t needed = space_needed(job, workers);
    if (needed <= space.available) {
        return true;
    }
    if (job.request.format == ImageFormat::ppm) {
        errors << "Not enough free space in ./image: the images need " << bytes_text(needed)
               << " and " << bytes_text(space.available)
               << " is free. As PNG (--format png) they take a small part of it; "
                  "--no-space-check draws regardless."
               << std::endl;
    } else {
        errors << "Not enough free space in ./image: the images may need up to "
               << bytes_text(needed) << ", the most such PNG images can take, and "
               << bytes_text(space.available) << " is free. "
               << (job.request.scale > IMAGE_SCALE_MIN
                       ? "A smaller --scale takes less"
                       : "Fewer months at a time (--from, --to) take less")
               << "; --no-space-check draws regardless." << std::endl;
    }
    return false;
}

unsigned worker_count(unsigned asked, std::size_t months) {
    const unsigned processors = std::max(1U, std::thread::hardware_concurrency());
    const unsigned jobs = std::min(asked == 0 ? processors : asked, JOBS_LIMIT);
    return static_cast<unsigned>(std::min<std::size_t>(jobs, months));
}

// Draws every month of the selection, one worker a month at a time.
void draw_months(const MonthJob& job, std::vector<Worker>& workers) {
    std::atomic<std::size_t> next{0};
    std::vector<std::thread> threads;
    for (Worker& worker : workers) {
        threads.emplace_back([&job, &next, &worker] {
            for (std::size_t i = next++; i < job.selection.months.size(); i = next++) {
                const YearMonth month = job.selection.months[i];
                std::string detail;
                MonthEnd end = MonthEnd::failed;
                // A month that fails, however, fails alone: the others go on.
                try {
                    end = draw_term_month(job, month, worker, detail);
                } catch (const std::bad_alloc&) {
                    detail = "Not enough memory.";
                } catch (const std::exception& error) {
                    detail = error.what();
                }
                note_month(job.progress, month_label(month), end, detail);
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
}

}  // namespace

std::optional<ValueRange> month_own_range(const TermSelection& selection, YearMonth month,
                                          DischargeFile& data, std::string& detail) {
    const ValueRange range = find_value_range(data, values_of_month(selection, month));
    close_discharge_file(data);
    if (range.minimum >= range.maximum) {
        detail = "Maximun discharge <= Minimum discharge!";
        return std::nullopt;
    }
    std::string reason;
    if (!open_term_month(data, selection, month, reason)) {
        detail = cannot_open(month, reason);
        return std::nullopt;
    }
    return range;
}

bool make_output_folder(const char* path, std::ostream& errors) {
    std::error_code created;
    std::filesystem::create_directory(path, created);
    std::error_code checked;
    if (!std::filesystem::is_directory(path, checked)) {
        errors << "./" << path << ": Image output file cannot open. ("
               << reason_text(created ? created : std::make_error_code(std::errc::not_a_directory))
               << ")" << std::endl;
        return false;
    }
    return true;
}

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

const char* format_name(ImageFormat format) {
    return format == ImageFormat::png ? "png" : "ppm";
}

std::string term_image_name(YearMonth month, std::int32_t day, ImageFormat format) {
    std::string name = image_file_name(month.year, month.month, day);
    return name.replace(name.size() - 3, 3, format_name(format));
}

std::string legend_name(YearMonth month, ImageFormat format) {
    return "./image/legend_" + month_label(month) + "." + format_name(format);
}

std::string lock_name(YearMonth month) {
    return "./image/." + month_label(month) + ".lock";
}

namespace {

bool write_legend(const std::string& path, const Picture& legend, std::string& reason) {
    if (!path.ends_with(".png")) {
        return write_picture(path, legend, reason);
    }
    const std::optional<std::string> png = encode_png_picture(legend);
    if (!png) {
        reason = "zlib failed";
        return false;
    }
    return write_whole_output(path, *png, false, reason);
}

}  // namespace

int run_term_legend(ValueRange range, const std::string& path, std::ostream& errors) {
    std::string reason;
    if (!write_legend(path, draw_legend(range), reason)) {
        errors << path << ": Image output file cannot write. (" << reason << ")" << std::endl;
        return 1;
    }
    return 0;
}

std::optional<ValueRange> find_term_range(const TermSelection& selection, std::ostream& errors) {
    ValueRange range = RANGE_SEARCH_START;
    bool whole = true;
    for (const YearMonth month : selection.months) {
        DischargeFile data;
        std::string reason;
        const bool opened = open_term_month(data, selection, month, reason);
        if (opened) {
            range =
                widen_value_range(range, find_value_range(data, values_of_month(selection, month)));
        }
        // A pipe may still run short while it is read.
        if (opened && data.failed) {
            reason = "it ended before the month did";
        }
        if (!opened || data.failed) {
            errors << cannot_open(month, reason) << std::endl;
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
                    std::ostream& errors, int terminal_width) {
    const std::filesystem::file_time_type started = std::filesystem::file_time_type::clock::now();
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
    if (!make_output_folder("image", errors)) {
        return 1;
    }
    const RunParameters& grid = selection->parameters;
    Progress progress;
    const MonthJob job{*selection, request, term_range, progress, started};
    const unsigned workers = worker_count(request.jobs, selection->months.size());
    if (request.check_space && !space_enough(job, workers, errors)) {
        return 1;
    }
    std::vector<Worker> canvases;
    for (unsigned i = 0; i < workers; ++i) {
        std::optional<DayCanvas> canvas = make_day_canvas(grid.ncols, grid.nrows, request.scale);
        if (!canvas) {
            errors << "Not enough memory to draw the images." << std::endl;
            return 1;
        }
        canvases.push_back({std::move(*canvas), {}});
    }
    start_progress(progress, errors, terminal_width, selection->months);
    progress.image_bytes = fixed_image_bytes(grid, request);
    draw_months(job, canvases);
    finish_progress(progress);
    return progress.failed > 0 ? 1 : 0;
}
