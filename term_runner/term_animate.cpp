#include "term_animate.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <limits>
#include <optional>
#include <ostream>
#include <span>
#include <vector>

#include "annotation.h"
#include "disk_space.h"
#include "gif_image.h"
#include "month_record.h"
#include "output_file.h"
#include "output_names.h"
#include "progress.h"

namespace {

// What writing the animation needs, month after month.
struct Animation {
    const TermSelection& selection;
    const AnimateRequest& request;
    const std::string& output;
    FrameLayout layout;
    std::vector<Rgb> colours;  // every frame's, frame_colour_table()
    ValueRange term_range;     // for a term or a typed range
    DayCanvas canvas;
    std::vector<std::uint8_t> indices;  // the frame being added
    std::vector<std::uint8_t> shown;    // the pixels of the frames added so far
    std::vector<std::uint8_t> changes;  // the frame as added: its changes only
    std::uint64_t days_read = 0;        // of the selection, the day being read included
    std::uint64_t frames = 0;           // added so far
    GifAnimation gif;
};

// The days of the selection, and the frames every Nth of them makes.
std::uint64_t frame_count(const TermSelection& selection, std::uint32_t every) {
    std::uint64_t days = 0;
    for (const YearMonth month : selection.months) {
        days += static_cast<std::uint64_t>(days_in_month(month.month));
    }
    return (days + every - 1) / every;
}

// The frame of canvas.grid, day `day` of `month` drawn with `range`, into
// `indices`.
void build_frame(const FrameLayout& layout, const AnimateRequest& request, const LevelGrid& grid,
                 ValueRange range, YearMonth month, std::int32_t day,
                 std::vector<std::uint8_t>& indices) {
    const Picture band =
        draw_frame_band(layout, {date_text(month, day), request.units, range, request.palette});
    frame_indices(grid, request.scale, layout, band, request.palette, indices);
}

// The range `month` is drawn with; nullopt with `failure` set.
std::optional<ValueRange> animated_range(Animation& animation, YearMonth month, DischargeFile& data,
                                         Progress& progress, Failure& failure) {
    if (animation.request.range.kind != RangeChoice::month) {
        return animation.term_range;
    }
    std::string note;
    const std::optional<ValueRange> range = month_own_range(
        animation.selection, month, data, failure, animation.request.range.stretch, &note);
    if (!note.empty()) {
        print_line(progress, month_label(month) + ": " + note);
    }
    return range;
}

// An entry of `colours` that no pixel of the frame that changed is drawn
// in, for the transparent pixels; nullopt where every entry is.
std::optional<std::uint8_t> unused_entry(const Animation& animation) {
    std::array<bool, 256> used{};
    for (std::size_t i = 0; i < animation.indices.size(); ++i) {
        if (animation.indices[i] != animation.shown[i]) {
            used[animation.indices[i]] = true;
        }
    }
    for (std::size_t entry = animation.colours.size(); entry-- > 0;) {
        if (!used[entry]) {
            return static_cast<std::uint8_t>(entry);
        }
    }
    return std::nullopt;
}

// Adds animation.indices as a frame. Every frame after the first holds only
// the pixels that changed, the others transparent, drawn in an entry that no
// changed pixel takes: the days of a month share most of their pixels (the
// band, the ring, cells whose level stays), and the file takes a fraction
// of the frames held whole.
bool add_changes(Animation& animation, std::uint16_t delay, std::string& reason) {
    const std::optional<std::uint8_t> transparent =
        animation.frames > 0 ? unused_entry(animation) : std::nullopt;
    bool added = false;
    if (transparent) {
        animation.changes.resize(animation.indices.size());
        for (std::size_t i = 0; i < animation.indices.size(); ++i) {
            animation.changes[i] =
                animation.indices[i] == animation.shown[i] ? *transparent : animation.indices[i];
        }
        added = add_gif_frame(animation.gif, animation.changes, animation.colours, delay, reason,
                              transparent);
    } else {
        added = add_gif_frame(animation.gif, animation.indices, animation.colours, delay, reason);
    }
    std::swap(animation.shown, animation.indices);
    ++animation.frames;
    return added;
}

// Adds the frames of the wanted days of `month`. False with `failure` set
// once the month cannot be read or a frame cannot be written.
bool animate_month(Animation& animation, YearMonth month, OutputFile& file, Progress& progress,
                   Failure& failure) {
    DischargeFile data;
    std::string reason;
    if (!open_term_month(data, animation.selection, month, reason)) {
        failure = month_unreadable(month, reason);
        return false;
    }
    const std::optional<ValueRange> range =
        animated_range(animation, month, data, progress, failure);
    if (!range) {
        return false;
    }
    DayCanvas& canvas = animation.canvas;
    for (std::int32_t day = 1; day <= days_in_month(month.month); ++day) {
        if (read_discharge_values(data, canvas.values) != canvas.values.size()) {
            failure = month_unreadable(month, "it ended before the month did");
            return false;
        }
        if (animation.days_read++ % animation.request.every != 0) {
            continue;
        }
        compute_levels(canvas.values, *range, canvas.grid);
        build_frame(animation.layout, animation.request, canvas.grid, *range, month, day,
                    animation.indices);
        const std::uint16_t delay = gif_frame_delay(animation.frames, animation.request.fps);
        if (!add_changes(animation, delay, reason)) {
            failure = {animation.output, "Animation output file cannot write.",
                       reason.empty() ? file.reason : reason};
            return false;
        }
        note_image(progress);
    }
    return true;
}

// Months whose first days are drawn in advance to reckon the file's size.
constexpr std::size_t SAMPLE_MONTHS = 8;

// What the frames drawn in advance take: the first day's, held whole, and
// the most that a frame holding the changes from the day drawn before it
// took: a month's frames change most in its floods, which the days drawn in
// advance may miss, and a disk that fills fails the animation at its end.
struct FrameBytes {
    std::uint64_t whole = 0;
    std::uint64_t changes = 0;
};

// The days of a month of `days` drawn in advance, every `every`th from the
// first as the animation draws them: the first, one in the middle and the
// last but one drawn, each with the day drawn after it, whose changes from
// it are measured (`true`), so that a month quiet at its start and stormy
// later is reckoned by both.
std::vector<std::pair<std::int32_t, bool>> sample_days(std::int32_t days, std::uint32_t every) {
    const std::int32_t step = static_cast<std::int32_t>(std::min<std::uint32_t>(every, 31));
    const std::int32_t drawn = (days - 1) / step + 1;  // days of the month drawn
    std::vector<std::pair<std::int32_t, bool>> sampled;
    for (const std::int32_t at : {0, (drawn - 1) / 2, drawn - 2}) {
        for (const std::int32_t k : {at, at + 1}) {
            const std::int32_t day = 1 + k * step;
            if (k >= 0 && k < drawn && (sampled.empty() || day > sampled.back().first)) {
                sampled.emplace_back(day, k == at + 1);
            }
        }
    }
    return sampled;
}

// The bytes of the frames of the days sample_days() names in `month`, coded
// by `sample` (a copy of the animation's settings with a canvas of its
// own); nullopt where the month is a pipe, which is not read ahead of its
// pass, cannot be read, or has no range.
std::optional<FrameBytes> sample_month(Animation& sample, YearMonth month) {
    std::error_code error;
    DischargeFile data;
    std::string reason;
    if (!std::filesystem::is_regular_file(discharge_file_name(month.year, month.month), error) ||
        !open_term_month(data, sample.selection, month, reason)) {
        return std::nullopt;
    }
    std::uint64_t bytes = 0;
    const PieceWriter count = [&bytes](std::span<const std::span<const char>> pieces) {
        for (const std::span<const char> piece : pieces) {
            bytes += piece.size();
        }
        return true;
    };
    sample.frames = 0;
    sample.gif = {};
    if (!begin_gif_animation(sample.gif, sample.layout.width,
                             sample.layout.band_height + sample.layout.map_height, count, reason)) {
        return std::nullopt;
    }
    DayCanvas& canvas = sample.canvas;
    std::optional<ValueRange> range = sample.term_range;
    FrameBytes frame_bytes;
    for (const auto& [day, measured] :
         sample_days(days_in_month(month.month), sample.request.every)) {
        while (sample.days_read < static_cast<std::uint64_t>(day)) {
            if (read_discharge_values(data, canvas.values) != canvas.values.size()) {
                return std::nullopt;
            }
            ++sample.days_read;
        }
        if (sample.request.range.kind == RangeChoice::month && day == 1) {
            range = stretched_range(widen_value_range(RANGE_SEARCH_START, canvas.values),
                                    sample.request.range.stretch);
        }
        if (!range) {
            return std::nullopt;
        }
        compute_levels(canvas.values, *range, canvas.grid);
        build_frame(sample.layout, sample.request, canvas.grid, *range, month, day, sample.indices);
        const std::uint64_t before = bytes;
        if (!add_changes(sample, 1, reason)) {
            return std::nullopt;
        }
        if (day == 1) {
            frame_bytes.whole += bytes - before;
        } else if (measured) {
            frame_bytes.changes = std::max(frame_bytes.changes, bytes - before);
        }
    }
    return frame_bytes;
}

// What the animation takes, reckoned from days of up to eight of its months,
// spread over them: one frame whole, the others as the mean of the months'
// most changes.
std::uint64_t reckoned_bytes(const Animation& animation, int& months_drawn) {
    const RunParameters& grid = animation.selection.parameters;
    std::optional<DayCanvas> canvas =
        make_day_canvas(grid.ncols, grid.nrows, animation.request.scale);
    if (!canvas) {
        return 0;
    }
    Animation sample{animation.selection,
                     animation.request,
                     animation.output,
                     animation.layout,
                     animation.colours,
                     animation.term_range,
                     std::move(*canvas),
                     {},
                     {},
                     {},
                     0,
                     0,
                     {}};
    const std::vector<YearMonth>& months = animation.selection.months;
    const std::size_t count = std::min(months.size(), SAMPLE_MONTHS);
    FrameBytes total;
    months_drawn = 0;
    for (std::size_t i = 0; i < count; ++i) {
        // The first, the last and evenly between.
        const std::size_t at = count == 1 ? 0 : i * (months.size() - 1) / (count - 1);
        sample.days_read = 0;
        if (const std::optional<FrameBytes> bytes = sample_month(sample, months[at])) {
            total.whole += bytes->whole;
            total.changes += bytes->changes;
            ++months_drawn;
        }
    }
    if (months_drawn == 0) {
        return 0;
    }
    const std::uint64_t frames = frame_count(animation.selection, animation.request.every);
    const std::uint64_t whole = total.whole / static_cast<std::uint64_t>(months_drawn);
    const std::uint64_t changes =
        total.changes > 0 ? total.changes / static_cast<std::uint64_t>(months_drawn) : whole;
    return saturated_sum(
        whole,
        checked_product(changes, frames - 1).value_or(std::numeric_limits<std::uint64_t>::max()));
}

// Whether the disk of the output can hold the animation, reckoned from the
// first days of some months drawn in advance; where not, says so.
bool space_for_animation(const Animation& animation, std::ostream& errors) {
    const std::filesystem::path path(animation.output);
    const std::string folder = path.has_parent_path() ? path.parent_path().string() : ".";
    const std::optional<std::uint64_t> available = free_space(folder);
    if (!animation.request.check_space || !available) {
        return true;
    }
    int months_drawn = 0;
    const std::uint64_t needed = reckoned_bytes(animation, months_drawn);
    if (needed <= *available) {
        return true;
    }
    errors << "Not enough free space for " << animation.output << ": the animation needs about "
           << bytes_text(needed) << ", reckoned from days of " << months_drawn
           << (months_drawn == 1 ? " month" : " months") << " drawn in advance, and "
           << bytes_text(*available)
           << " is free. A smaller --scale or a larger --every takes less; --no-space-check "
              "writes regardless."
           << std::endl;
    return false;
}

// Adds the frames of every month, each month's end on its line. False with
// `failure` set, and said, once a month failed.
bool animate_months(Animation& animation, OutputFile& file, Progress& progress, Failure& failure) {
    for (const YearMonth month : animation.selection.months) {
        const std::uint64_t before = animation.frames;
        const bool added = animate_month(animation, month, file, progress, failure);
        const std::uint64_t frames = animation.frames - before;
        note_month(progress, month_label(month), added ? MonthEnd::drawn : MonthEnd::failed,
                   added ? std::to_string(frames) + (frames == 1 ? " frame" : " frames")
                         : failure_text(failure));
        if (!added) {
            return false;
        }
    }
    return true;
}

// Writes the animation of the checked selection; the run's end.
int write_animation(Animation& animation, std::ostream& errors, int terminal_width) {
    remove_output_leftovers(animation.output);
    OutputFile file;
    if (!create_output_file(file, animation.output, false)) {
        errors << failure_text(
                      {animation.output, "Animation output file cannot open.", file.reason})
               << std::endl;
        return 1;
    }
    Progress progress;
    const std::uint64_t frames = frame_count(animation.selection, animation.request.every);
    start_progress(progress, errors, terminal_width, animation.selection.months,
                   {.items = "frames", .total = static_cast<std::int64_t>(frames), .each = 0});
    const PieceWriter write = [&file](std::span<const std::span<const char>> pieces) {
        return write_output_pieces(file, pieces);
    };
    // A month that fails says so on its line; the file's beginning, its end
    // and putting it under its name are said here.
    std::string reason;
    Failure failure;
    bool said = false;
    bool whole = begin_gif_animation(animation.gif, animation.layout.width,
                                     animation.layout.band_height + animation.layout.map_height,
                                     write, reason);
    if (whole) {
        whole = animate_months(animation, file, progress, failure);
        said = !whole;
    }
    whole = whole && finish_gif_animation(animation.gif, reason) && commit_output_file(file);
    const double seconds = end_progress(progress);
    if (!whole) {
        discard_output_file(file);
        if (!said) {
            errors << failure_text({animation.output, "Animation output file cannot write.",
                                    reason.empty() ? file.reason : reason})
                   << std::endl;
        }
        errors << "No animation written." << std::endl;
        return 1;
    }
    errors << animation.output << ": " << animation.frames
           << (animation.frames == 1 ? " frame of " : " frames of ") << animation.layout.width
           << " x " << animation.layout.band_height + animation.layout.map_height << " pixels, "
           << bytes_text(stamp_of(animation.output) ? stamp_of(animation.output)->bytes : 0)
           << ", written in " << duration_text(seconds) << std::endl;
    return 0;
}

// Whether every month of the selection can be read, each that cannot named
// on `errors`, before anything is drawn: the animation needs them all. A
// month given as a pipe is read once, in its pass, and checked there.
bool every_month_readable(const TermSelection& selection, std::ostream& errors) {
    bool whole = true;
    for (const YearMonth month : selection.months) {
        const std::string name = discharge_file_name(month.year, month.month);
        std::error_code error;
        if (std::filesystem::is_fifo(name, error)) {
            continue;
        }
        DischargeFile data;
        std::string reason;
        if (!open_term_month(data, selection, month, reason)) {
            errors << failure_text(month_unreadable(month, reason)) << std::endl;
            whole = false;
        }
    }
    return whole;
}

}  // namespace

int run_term_animate(const std::string& from, const std::string& to, const AnimateRequest& request,
                     std::ostream& errors, int terminal_width) {
    int status = 0;
    const std::optional<TermSelection> selection = select_term(from, to, errors, status);
    if (!selection) {
        return status;
    }
    const RunParameters& grid = selection->parameters;
    const std::optional<FrameLayout> layout = frame_layout(grid.ncols, grid.nrows, request.scale);
    if (!layout || layout->width > GIF_SIDE_MAX ||
        layout->band_height + layout->map_height > GIF_SIDE_MAX) {
        errors << "discharge_term: the frames of " << grid.ncols << " x " << grid.nrows
               << " cells at --scale " << request.scale
               << " are larger than a GIF holds (65535 pixels a side)." << std::endl;
        return 2;
    }
    const std::string output =
        request.output.empty()
            ? animation_file_name(selection->months.front(), selection->months.back())
            : request.output;
    if (names_an_input(output, *selection, "animation", errors)) {
        return 2;
    }
    // The term's range reads every month; other ranges are checked first.
    if (request.range.kind != RangeChoice::term && !every_month_readable(*selection, errors)) {
        errors << "No animation written: every month of the selection is needed." << std::endl;
        return 1;
    }
    const std::optional<ValueRange> chosen = chosen_term_range(*selection, request.range, errors);
    if (!chosen) {
        return 1;
    }
    const ValueRange term_range = *chosen;
    std::optional<DayCanvas> canvas = make_day_canvas(grid.ncols, grid.nrows, request.scale);
    if (!canvas) {
        errors << "Not enough memory to draw the animation." << std::endl;
        return 1;
    }
    Animation animation{*selection,
                        request,
                        output,
                        *layout,
                        frame_colour_table(request.palette),
                        term_range,
                        std::move(*canvas),
                        {},
                        {},
                        {},
                        0,
                        0,
                        {}};
    if (!space_for_animation(animation, errors)) {
        return 1;
    }
    return write_animation(animation, errors, terminal_width);
}
