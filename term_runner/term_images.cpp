#include "term_images.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <limits>
#include <new>
#include <ostream>
#include <span>
#include <sstream>
#include <system_error>
#include <utility>
#include <vector>

#include "annotation.h"
#include "disk_space.h"
#include "month_drawing.h"
#include "month_record.h"
#include "png_image.h"
#include "progress.h"
#include "term_legend.h"
#include "worker_pool.h"
#include "world_file.h"

namespace {

// How often, at most, a month's record is rewritten while its images are
// drawn.
constexpr std::chrono::milliseconds RECORD_INTERVAL{500};

// What a worker draws a day with, allocated once and reused for every day.
struct Worker {
    DayCanvas canvas;
    PngScratch png;
};

// What a worker needs for every month it draws.
struct MonthJob {
    const TermSelection& selection;
    const ImagesRequest& request;
    ValueRange term_range;  // for RangeChoice::term
    Progress& progress;
    SpaceWatch& space;
    // When the run started: a temporary file older than that and open
    // nowhere was left by a run that was killed.
    std::filesystem::file_time_type started;
};

// The position of `month` in the selection.
std::size_t month_index(const TermSelection& selection, YearMonth month) {
    const YearMonth first = selection.months.front();
    return static_cast<std::size_t>((std::int64_t{month.year} * 12 + month.month) -
                                    (std::int64_t{first.year} * 12 + first.month));
}

// The range to draw `month` with; nullopt with `failure` set if there is
// none. For a month's own range reads the month and opens it again.
std::optional<ValueRange> month_range(const MonthJob& job, YearMonth month, DischargeFile& data,
                                      Failure& failure) {
    switch (job.request.range.kind) {
        case RangeChoice::typed:
            return job.request.range.typed_range;
        case RangeChoice::term:
            return job.term_range;
        case RangeChoice::month:
            break;
    }
    std::string note;
    std::optional<ValueRange> range =
        month_own_range(job.selection, month, data, failure, job.request.range.stretch, &note);
    if (!note.empty()) {
        print_line(job.progress, month_label(month) + ": " + note);
    }
    return range;
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
    if (request.format != ImageFormat::ppm) {
        return 0;
    }
    if (request.annotation) {
        const std::optional<FrameLayout> layout =
            frame_layout(grid.ncols, grid.nrows, request.scale);
        return layout ? annotated_ppm_bytes(*layout) : 0;
    }
    return ppm_file_bytes(grid, request.scale).value_or(0);
}

// The band of the annotated frame of `day` of `month` drawn with `range`.
Picture frame_band(const ImagesRequest& request, const FrameLayout& layout, ValueRange range,
                   YearMonth month, std::int32_t day) {
    return draw_frame_band(layout,
                           {date_text(month, day), *request.annotation, range, request.palette});
}

// The record of the drawing that `month` needs now with the colour range
// `range` (range_text()), nothing drawn yet.
MonthRecord drawing_needed(const MonthJob& job, YearMonth month, const std::string& range,
                           const std::optional<FileStamp>& data) {
    const RunParameters& grid = job.selection.parameters;
    MonthRecord record;
    record.range = range;
    record.ncols = grid.ncols;
    record.nrows = grid.nrows;
    record.data = data;
    record.format = format_name(job.request.format);
    record.scale = static_cast<std::int32_t>(job.request.scale);
    record.image_bytes = fixed_image_bytes(grid, job.request);
    record.colours = std::string(stretch_name(job.request.range.stretch)) + ' ' +
                     palette_name(job.request.palette);
    record.annotation = job.request.annotation;
    record.days.resize(static_cast<std::size_t>(days_in_month(month.month)));
    return record;
}

// The recorded drawing of `month` where it is the one `needed`, else
// `needed` itself, nothing of it drawn.
MonthRecord drawing_to_keep(const MonthJob& job, YearMonth month, MonthRecord needed) {
    if (!job.request.force) {
        std::optional<MonthRecord> recorded = read_month_record(
            month_output_names(month, job.request.format).record, days_in_month(month.month));
        if (recorded && same_drawing(*recorded, needed)) {
            return std::move(*recorded);
        }
    }
    return needed;
}

// Takes out of `record` every image and the legend that are not on disk as
// it says, and returns how many images are left: those still right. An image
// of a fixed size must have it.
std::int64_t keep_what_is_right(MonthRecord& record, const MonthOutputNames& names) {
    std::int64_t kept = 0;
    for (std::size_t day = 0; day < record.days.size(); ++day) {
        std::optional<FileStamp>& recorded = record.days[day];
        if (recorded && (record.image_bytes == 0 || recorded->bytes == record.image_bytes) &&
            stamp_of(names.images[day]) == recorded) {
            ++kept;
        } else {
            recorded.reset();
        }
    }
    if (record.legend && stamp_of(names.legend) != record.legend) {
        record.legend.reset();
    }
    return kept;
}

// Writes the PNG image of a day of `month`, whose levels are `grid`, as the
// request asks, through `write`. False once it failed, with `reason` set
// where `write` did not fail.
bool write_day_png(const ImagesRequest& request, const LevelGrid& grid, ValueRange range,
                   YearMonth month, std::int32_t day, PngScratch& scratch, const PieceWriter& write,
                   std::string& reason) {
    if (!request.annotation) {
        return write_png_image(grid, request.scale, scratch, write, reason,
                               {.palette = request.palette});
    }
    const std::optional<FrameLayout> layout = frame_layout(grid.ncols, grid.nrows, request.scale);
    if (!layout) {
        reason = "the image is too large for PNG";
        return false;
    }
    return write_annotated_png(grid, request.scale, frame_band(request, *layout, range, month, day),
                               band_colours(request.palette).background, scratch, write, reason,
                               {.palette = request.palette});
}

// How a day's image is written: as the request's format, PNG through the
// worker's scratch, an annotated PPM through its canvas; a plain PPM is drawn
// by draw_month() itself.
void set_image_writer(DayHooks& hooks, const ImagesRequest& request, ValueRange range,
                      Worker& worker) {
    if (request.format == ImageFormat::png) {
        hooks.write = [&request, range, &worker](OutputFile& file, const LevelGrid& grid,
                                                 YearMonth month, std::int32_t day,
                                                 std::string& failure) {
            return write_day_png(
                request, grid, range, month, day, worker.png,
                [&file](std::span<const std::span<const char>> pieces) {
                    return write_output_pieces(file, pieces);
                },
                failure);
        };
    } else if (request.annotation) {
        hooks.write = [&request, range, &worker](OutputFile& file, const LevelGrid& grid,
                                                 YearMonth month, std::int32_t day,
                                                 std::string& failure) {
            const std::optional<FrameLayout> layout =
                frame_layout(grid.ncols, grid.nrows, request.scale);
            if (!layout) {
                failure = "the image is too large";
                return false;
            }
            write_annotated_ppm(file, grid, worker.canvas, *layout,
                                frame_band(request, *layout, range, month, day));
            return true;
        };
    }
}

// The failure of a drawing that ended as `result`, with `image` the name of
// the image under way and `reason` why the record could not be written.
Failure drawing_failure(const DrawingResult& result, YearMonth month, const std::string& image,
                        const std::string& record_name, const std::string& reason) {
    switch (result.outcome) {
        case DrawingOutcome::image_not_created:
            return {image, "Image output file cannot open.", result.reason};
        case DrawingOutcome::image_not_written:
            return {image, "Image output file cannot write.", result.reason};
        case DrawingOutcome::data_ran_out:
            return {discharge_file_name(month.year, month.month), "Discharge data cannot open.",
                    ""};
        case DrawingOutcome::out_of_memory:
            return {"", "Not enough memory.", ""};
        case DrawingOutcome::stopped:
        case DrawingOutcome::done:
            break;
    }
    return {record_name, "Image output file cannot write.", reason};
}

// The placement of the request's frames on the globe.
FramePlacement frame_placement(const MonthJob& job) {
    const RunParameters& grid = job.selection.parameters;
    const ImagesRequest& request = job.request;
    std::int32_t band_rows = 0;
    if (request.annotation) {
        const std::optional<FrameLayout> layout =
            frame_layout(grid.ncols, grid.nrows, request.scale);
        band_rows = layout ? layout->band_height : 0;
    }
    return {.west = grid.southwest_longitude,
            .south = grid.southwest_latitude,
            .cell_size = request.cell_size.value_or(0.0),
            .nrows = grid.nrows,
            .scale = request.scale,
            .band_rows = band_rows};
}

// Whether the text file at `path` holds `text` (its line ends as written).
bool holds_text(const std::string& path, const std::string& text) {
    std::ifstream file(path);
    std::ostringstream held;
    held << file.rdbuf();
    return file && held.str() == text;
}

// Writes the world file and the auxiliary file of every frame of the month
// where they are missing or say otherwise; false with `failure` set once
// one cannot be written.
bool place_frames(const MonthJob& job, const MonthOutputNames& names, Failure& failure) {
    if (!job.request.cell_size) {
        return true;
    }
    const std::string world = world_file_text(frame_placement(job));
    const std::string aux = aux_xml_text();
    for (std::size_t day = 0; day < names.world_files.size(); ++day) {
        for (const auto& [path, text] :
             {std::pair(&names.world_files[day], &world), std::pair(&names.aux_files[day], &aux)}) {
            std::string reason;
            if (!holds_text(*path, *text) && !write_whole_output(*path, *text, true, reason)) {
                failure = {*path, "Image output file cannot write.", reason};
                return false;
            }
        }
    }
    return true;
}

// Removes the placement of a frame drawn anew without one: what it said may
// no longer fit the frame.
void remove_placement(const MonthOutputNames& names, std::int32_t day) {
    if (names.world_files.empty()) {
        return;
    }
    std::error_code ignored;
    std::filesystem::remove(names.world_files[static_cast<std::size_t>(day - 1)], ignored);
    std::filesystem::remove(names.aux_files[static_cast<std::size_t>(day - 1)], ignored);
}

// Draws the images that `record` lacks, recording each as it is complete.
// Returns false with `failure` set once anything failed.
bool draw_missing_images(const MonthJob& job, YearMonth month, ValueRange range,
                         DischargeFile& data, Worker& worker, MonthRecord& record,
                         const MonthOutputNames& names, Failure& failure) {
    std::string reason;
    std::string image;
    DayHooks hooks;
    hooks.wanted = [&](std::int32_t day) {
        return !record.days[static_cast<std::size_t>(day - 1)].has_value();
    };
    hooks.before = [&](std::int32_t, const std::string& name) { image = name; };
    hooks.name = [&names](YearMonth, std::int32_t day) {
        return names.images[static_cast<std::size_t>(day - 1)];
    };
    set_image_writer(hooks, job.request, range, worker);
    // The record is brought up to date with the images as they are drawn,
    // but not after every one: replacing it costs a rename, which with
    // small images slowed drawing by a twentieth. A run killed in the middle
    // of a month draws again at most the images of the last moment.
    auto recorded = std::chrono::steady_clock::now();
    hooks.after = [&](std::int32_t day, const std::string& name) {
        note_image(job.progress);
        if (!job.request.cell_size) {
            remove_placement(names, day);
        }
        const std::optional<FileStamp> image_stamp = stamp_of(name);
        record.days[static_cast<std::size_t>(day - 1)] = image_stamp;
        note_image_written(job.space, month_index(job.selection, month),
                           image_stamp ? image_stamp->bytes : 0);
        const auto now = std::chrono::steady_clock::now();
        if (now - recorded < RECORD_INTERVAL) {
            return true;
        }
        recorded = now;
        return write_month_record(names.record, record, reason);
    };
    const DrawingResult result =
        draw_month(data, month, days_in_month(month.month), range, worker.canvas, hooks);
    if (result.outcome != DrawingOutcome::done) {
        failure = drawing_failure(result, month, image, names.record, reason);
        return false;
    }
    return true;
}

// Draws what `record` lacks, the images and the legend, and writes the
// record. Returns false with `failure` set once anything failed.
bool draw_what_is_missing(const MonthJob& job, YearMonth month, ValueRange range,
                          DischargeFile& data, Worker& worker, MonthRecord& record,
                          const MonthOutputNames& names, Failure& failure) {
    // Where only the legend is missing, the month is not read again.
    const bool images_missing = std::any_of(record.days.begin(), record.days.end(),
                                            [](const auto& day) { return !day.has_value(); });
    if (images_missing &&
        !draw_missing_images(job, month, range, data, worker, record, names, failure)) {
        return false;
    }
    if (!record.legend) {
        if (!write_legend_file(names.legend, range, job.request.palette, job.request.format,
                               failure)) {
            return false;
        }
        record.legend = stamp_of(names.legend);
    }
    // Written even where nothing else was: a record that is not of this
    // drawing must not stay.
    std::string reason;
    if (!write_month_record(names.record, record, reason)) {
        failure = {names.record, "Image output file cannot write.", reason};
        return false;
    }
    return true;
}

// What a month drawn says in the log: what was drawn and kept, and the range.
std::string drawn_text(std::int64_t days, std::int64_t kept, const std::string& range) {
    if (kept == days) {
        return "legend drawn, " + std::to_string(kept) + " images kept, range " + range;
    }
    return std::to_string(days - kept) + (days - kept == 1 ? " image drawn" : " images drawn") +
           (kept > 0 ? ", " + std::to_string(kept) + " kept" : "") + ", range " + range;
}

// Takes the month's lock; false with `failure` set where another run holds
// it or it cannot be had.
bool lock_month(FileLock& lock, const MonthOutputNames& names, Failure& failure) {
    std::string reason;
    switch (lock_file(lock, names.lock, reason)) {
        case Locking::locked:
            return true;
        case Locking::busy:
            failure = {"", "busy: another run is drawing it", ""};
            return false;
        case Locking::failed:
            failure = {names.lock, "Image output file cannot open.", reason};
            return false;
    }
    return false;
}

// Draws one month unless it is up to date, and tells how it ended. The
// month is locked throughout, so that no other run draws it meanwhile nor
// writes its record.
MonthEnd draw_term_month(const MonthJob& job, YearMonth month, Worker& worker,
                         std::string& detail) {
    const MonthOutputNames names = month_output_names(month, job.request.format);
    FileLock lock;
    Failure failure;
    if (!lock_month(lock, names, failure)) {
        detail = failure_text(failure);
        return MonthEnd::failed;
    }
    remove_abandoned_temporaries(
        IMAGE_FOLDER, [month](const std::string& name) { return is_output_of(month, name); },
        job.started);
    DischargeFile data;
    // Stamped before it is read: a file changed while it is drawn is drawn
    // again by the next run.
    const std::optional<FileStamp> data_stamp =
        stamp_of(discharge_file_name(month.year, month.month));
    std::string reason;
    std::optional<ValueRange> range;
    if (!open_term_month(data, job.selection, month, reason)) {
        failure = month_unreadable(month, reason);
    } else {
        range = month_range(job, month, data, failure);
    }
    if (!range) {
        detail = failure_text(failure);
        return MonthEnd::failed;
    }
    MonthRecord record =
        drawing_to_keep(job, month, drawing_needed(job, month, range_text(*range), data_stamp));
    const std::int64_t days = days_in_month(month.month);
    const std::int64_t kept = keep_what_is_right(record, names);
    note_kept(job.progress, kept);
    if (kept == days && record.legend) {
        if (!place_frames(job, names, failure)) {
            detail = failure_text(failure);
            return MonthEnd::failed;
        }
        detail = "up to date";
        return MonthEnd::up_to_date;
    }
    if (!draw_what_is_missing(job, month, *range, data, worker, record, names, failure) ||
        !place_frames(job, names, failure)) {
        detail = failure_text(failure);
        return MonthEnd::failed;
    }
    detail = drawn_text(days, kept, record.range);
    return MonthEnd::drawn;
}

// What drawing a month is to write, as reckoned before the run: the images
// that are missing or no longer right, and the legend if it is.
struct MonthPlan {
    YearMonth month;
    std::vector<std::string> images;
    std::string legend;  // empty where the legend is right
    // The frames' world and auxiliary files, with their bytes: each takes a
    // block of its own where it is missing or says otherwise.
    std::vector<std::pair<std::string, std::uint64_t>> placements;
};

// The plan of `month`: images up to date as recorded, and their month's
// legend, are not drawn again. The range of a month drawn with its own range
// is taken to be the recorded one: the actual drawing checks it.
MonthPlan plan_month(const MonthJob& job, YearMonth month) {
    const MonthOutputNames names = month_output_names(month, job.request.format);
    const std::optional<MonthRecord> recorded =
        job.request.force ? std::nullopt
                          : read_month_record(names.record, days_in_month(month.month));
    const std::string range = job.request.range.kind == RangeChoice::month
                                  ? (recorded ? recorded->range : "")
                                  : range_text(job.request.range.kind == RangeChoice::typed
                                                   ? job.request.range.typed_range
                                                   : job.term_range);
    MonthRecord record = drawing_to_keep(
        job, month,
        drawing_needed(job, month, range, stamp_of(discharge_file_name(month.year, month.month))));
    keep_what_is_right(record, names);
    MonthPlan plan{month, {}, record.legend ? "" : names.legend, {}};
    for (std::size_t day = 0; day < record.days.size(); ++day) {
        if (!record.days[day]) {
            plan.images.push_back(names.images[day]);
        }
    }
    if (job.request.cell_size) {
        const std::uint64_t world = world_file_text(frame_placement(job)).size();
        const std::uint64_t aux = aux_xml_text().size();
        for (std::size_t day = 0; day < names.world_files.size(); ++day) {
            plan.placements.emplace_back(names.world_files[day], world);
            plan.placements.emplace_back(names.aux_files[day], aux);
        }
    }
    return plan;
}

// The bytes of an image and of a legend of the request: a PPM's exactly, a
// PNG's as the first days of some months of the plan take, drawn in advance
// (`sample` says how many).
struct ImageSizes {
    std::uint64_t image = 0;
    std::uint64_t legend = 0;
    PngSample sample;
};

ImageSizes image_sizes(const MonthJob& job, const std::vector<MonthPlan>& plans) {
    const RunParameters& grid = job.selection.parameters;
    const std::optional<ValueRange> range =
        job.request.range.kind == RangeChoice::typed  ? job.request.range.typed_range
        : job.request.range.kind == RangeChoice::term ? std::optional(job.term_range)
                                                      : std::nullopt;
    const Picture legend = draw_legend(range.value_or(ValueRange{.maximum = 1.0F, .minimum = 0.0F}),
                                       job.request.palette);
    ImageSizes sizes;
    if (job.request.format == ImageFormat::ppm) {
        sizes.image = ppm_file_bytes(grid, job.request.scale)
                          .value_or(std::numeric_limits<std::uint64_t>::max());
        sizes.legend = 3 * static_cast<std::uint64_t>(legend.pixels.size()) + 64;
        return sizes;
    }
    std::vector<YearMonth> drawn;
    for (const MonthPlan& plan : plans) {
        if (!plan.images.empty()) {
            drawn.push_back(plan.month);
        }
    }
    sizes.sample = sample_png_sizes(
        job.selection, drawn, range, job.request.range.stretch,
        [&job, &range](const LevelGrid& grid, YearMonth month, const PieceWriter& write) {
            PngScratch scratch;
            std::string reason;
            return write_day_png(job.request, grid,
                                 range.value_or(ValueRange{.maximum = 1.0F, .minimum = 0.0F}),
                                 month, 1, scratch, write, reason);
        });
    sizes.image = sizes.sample.mean_bytes;
    sizes.legend = encode_png_picture(legend).value_or(std::string()).size();
    return sizes;
}

// The space the plans take beyond what their outputs take on disk now: each
// image, legend and frame's placement its size less that of the file of its
// name it replaces,
// the record of each month drawn, and one image under way for each worker,
// held under a temporary name before it replaces the old one.
std::uint64_t space_needed(const std::vector<MonthPlan>& plans, const ImageSizes& sizes,
                           unsigned workers) {
    std::uint64_t needed = 0;
    for (const MonthPlan& plan : plans) {
        for (const std::string& image : plan.images) {
            needed = saturated_sum(needed, space_added(sizes.image, image));
        }
        if (!plan.legend.empty()) {
            needed = saturated_sum(needed, space_added(sizes.legend, plan.legend));
        }
        for (const auto& [path, bytes] : plan.placements) {
            needed = saturated_sum(needed, space_added(bytes, path));
        }
        if (!plan.images.empty() || !plan.legend.empty()) {
            needed = saturated_sum(needed, DISK_BLOCK);
        }
    }
    for (unsigned i = 0; needed > 0 && i < workers; ++i) {
        needed = saturated_sum(needed, on_disk(sizes.image));
    }
    return needed;
}

// Whether the file system of ./image/ can take what the plans write, on
// `available` bytes; where not, says so on `errors`.
bool space_enough(const MonthJob& job, const std::vector<MonthPlan>& plans, const ImageSizes& sizes,
                  unsigned workers, std::uint64_t available, std::ostream& errors) {
    const std::uint64_t needed = space_needed(plans, sizes, workers);
    if (needed <= available) {
        return true;
    }
    if (job.request.format == ImageFormat::ppm) {
        errors << "Not enough free space in ./image: the images need " << bytes_text(needed)
               << " and " << bytes_text(available)
               << " is free. As PNG (--format png) they take a small part of it; "
                  "--no-space-check draws regardless."
               << std::endl;
    } else {
        errors << "Not enough free space in ./image: the images need about " << bytes_text(needed)
               << ", reckoned from " << sizes.sample.days
               << (sizes.sample.days == 1 ? " day" : " days") << " drawn in advance, and "
               << bytes_text(available) << " is free. "
               << (job.request.scale > IMAGE_SCALE_MIN
                       ? "A smaller --scale takes less"
                       : "Fewer months at a time (--from, --to) take less")
               << "; --no-space-check draws regardless." << std::endl;
    }
    return false;
}

// Checks the space before drawing and sets up `watch`, which checks it again
// as the months are drawn. False after saying so where the images cannot fit.
bool check_space(const MonthJob& job, unsigned workers, SpaceWatch& watch, std::ostream& errors) {
    const std::optional<std::uint64_t> available = free_space(IMAGE_FOLDER);
    // A free space the system does not tell is not checked: the writes will
    // say what fails.
    if (!job.request.check_space || !available) {
        return true;
    }
    std::vector<MonthPlan> plans;
    for (const YearMonth month : job.selection.months) {
        plans.push_back(plan_month(job, month));
    }
    const ImageSizes sizes = image_sizes(job, plans);
    if (!space_enough(job, plans, sizes, workers, *available, errors)) {
        return false;
    }
    watch.folder = IMAGE_FOLDER;
    watch.active = true;
    watch.estimate = sizes.image;
    for (const MonthPlan& plan : plans) {
        watch.images_left.push_back(static_cast<std::int64_t>(plan.images.size()));
    }
    return true;
}

unsigned worker_count(unsigned asked, std::size_t months) {
    return static_cast<unsigned>(std::min<std::size_t>(job_count(asked), months));
}

// Draws every month of the selection, one worker a month at a time, each
// worker with its own canvas.
// Draws a month unless the images left no longer fit the disk, and tells
// how it ended. A month that fails, however, fails alone: the others go on.
MonthEnd draw_month_if_room(const MonthJob& job, YearMonth month, Worker& worker,
                            std::string& detail) {
    std::string message;
    if (!room_to_go_on(job.space, message)) {
        if (!message.empty()) {
            print_line(job.progress, message);
        }
        detail = "not drawn: not enough free space in ./image";
        return MonthEnd::failed;
    }
    try {
        return draw_term_month(job, month, worker, detail);
    } catch (const std::bad_alloc&) {
        detail = "Not enough memory.";
    } catch (const std::exception& error) {
        detail = error.what();
    }
    return MonthEnd::failed;
}

void draw_months(const MonthJob& job, std::vector<Worker>& workers) {
    std::atomic<std::size_t> next{0};
    const auto work = [&job, &next, &workers](unsigned index) {
        for (std::size_t i = next++; i < job.selection.months.size(); i = next++) {
            const YearMonth month = job.selection.months[i];
            std::string detail;
            const MonthEnd end = draw_month_if_room(job, month, workers[index], detail);
            note_month_ended(job.space, i);
            note_month(job.progress, month_label(month), end, detail);
        }
    };
    const auto fewer = [&job, &workers](unsigned started, const std::string& reason) {
        print_line(job.progress, "Only " + std::to_string(started) + " of " +
                                     std::to_string(workers.size()) +
                                     " workers could be started (" + reason +
                                     "): the months are drawn by " + std::to_string(started) + ".");
    };
    run_workers(static_cast<unsigned>(workers.size()), work, fewer);
}

// A canvas for each worker; false after saying so if memory runs short.
bool make_workers(const RunParameters& grid, const ImagesRequest& request, unsigned count,
                  std::vector<Worker>& workers, std::ostream& errors) {
    for (unsigned i = 0; i < count; ++i) {
        std::optional<DayCanvas> canvas = make_day_canvas(grid.ncols, grid.nrows, request.scale);
        if (!canvas) {
            errors << "Not enough memory to draw the images." << std::endl;
            return false;
        }
        canvas->palette = request.palette;
        workers.push_back({std::move(*canvas), {}});
    }
    return true;
}

}  // namespace

int run_term_images(const std::string& from, const std::string& to, const ImagesRequest& request,
                    std::ostream& errors, int terminal_width) {
    const std::filesystem::file_time_type started = std::filesystem::file_time_type::clock::now();
    int status = 0;
    const std::optional<TermSelection> selection = select_term(from, to, errors, status);
    if (!selection) {
        return status;
    }
    if (request.cell_size && request.format != ImageFormat::png) {
        errors << "discharge_term: --cell-size places PNG frames, with a world file beside each: "
                  "add --format png."
               << std::endl;
        return 2;
    }
    if (request.cell_size &&
        !cells_on_the_globe(selection->parameters, *request.cell_size, errors)) {
        return 2;
    }
    const std::optional<ValueRange> chosen = chosen_term_range(*selection, request.range, errors);
    if (!chosen) {
        return 1;
    }
    const ValueRange term_range = *chosen;
    if (!ready_output_folder(IMAGE_FOLDER, "Image", errors)) {
        return 1;
    }
    Progress progress;
    SpaceWatch space;
    const MonthJob job{*selection, request, term_range, progress, space, started};
    const unsigned count = worker_count(request.jobs, selection->months.size());
    std::vector<Worker> workers;
    if (!check_space(job, count, space, errors) ||
        !make_workers(selection->parameters, request, count, workers, errors)) {
        return 1;
    }
    start_progress(progress, errors, terminal_width, selection->months,
                   {.items = "images",
                    .total = -1,
                    .each = fixed_image_bytes(selection->parameters, request)});
    draw_months(job, workers);
    finish_progress(progress);
    return months_failed(progress) > 0 ? 1 : 0;
}
