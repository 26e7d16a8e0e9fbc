#include "disk_space.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <limits>
#include <span>

#include "month_record.h"
#include "png_image.h"
#include "term_range.h"

std::uint64_t saturated_sum(std::uint64_t a, std::uint64_t b) {
    return a > std::numeric_limits<std::uint64_t>::max() - b
               ? std::numeric_limits<std::uint64_t>::max()
               : a + b;
}

std::uint64_t on_disk(std::uint64_t bytes) {
    return saturated_sum(bytes / DISK_BLOCK * DISK_BLOCK, bytes % DISK_BLOCK > 0 ? DISK_BLOCK : 0);
}

std::uint64_t space_added(std::uint64_t bytes, const std::string& path) {
    const std::optional<FileStamp> old = stamp_of(path);
    const std::uint64_t old_bytes = old ? on_disk(old->bytes) : 0;
    const std::uint64_t new_bytes = on_disk(bytes);
    return new_bytes > old_bytes ? new_bytes - old_bytes : 0;
}

std::optional<std::uint64_t> free_space(const std::string& folder) {
    std::error_code failed;
    const std::filesystem::space_info space = std::filesystem::space(folder, failed);
    if (failed || space.available == static_cast<std::uintmax_t>(-1)) {
        return std::nullopt;
    }
    return space.available;
}

std::string bytes_text(std::uint64_t bytes) {
    const char* const units[] = {"bytes", "kB", "MB", "GB", "TB", "PB", "EB"};
    char text[96];
    if (bytes < 1000) {
        std::snprintf(text, sizeof text, "%llu bytes", static_cast<unsigned long long>(bytes));
        return text;
    }
    double value = static_cast<double>(bytes) / 1000.0;
    std::size_t unit = 1;
    // The next unit once the three digits round up to 1000: 999,600 bytes
    // are "1 MB", not "1e+03 kB".
    char digits[32];
    for (;;) {
        std::snprintf(digits, sizeof digits, "%.3g", value);
        if (std::strtod(digits, nullptr) < 1000.0 || unit + 1 == std::size(units)) {
            break;
        }
        value /= 1000.0;
        ++unit;
    }
    std::snprintf(text, sizeof text, "%s %s (%llu bytes)", digits, units[unit],
                  static_cast<unsigned long long>(bytes));
    return text;
}

namespace {

// Months whose first day is drawn to reckon what PNG images take.
constexpr std::size_t SAMPLE_MONTHS = 8;

// The bytes of the image of the first day of `month`, with `range` or the
// day's own under `stretch`; nullopt where it cannot be read or has no range.
std::optional<std::uint64_t> first_day_image_bytes(const TermSelection& selection, YearMonth month,
                                                   std::optional<ValueRange> range, Stretch stretch,
                                                   DayCanvas& canvas,
                                                   const SampleImageWriter& image) {
    // A month given as a pipe is read once for each pass that a writer
    // serves: it is not read ahead of time.
    std::error_code error;
    if (!std::filesystem::is_regular_file(discharge_file_name(month.year, month.month), error)) {
        return std::nullopt;
    }
    DischargeFile data;
    std::string reason;
    if (!open_term_month(data, selection, month, reason) ||
        read_discharge_values(data, canvas.values) != canvas.values.size()) {
        return std::nullopt;
    }
    if (!range) {
        range = stretched_range(widen_value_range(RANGE_SEARCH_START, canvas.values), stretch);
        if (!range) {
            return std::nullopt;
        }
    }
    compute_levels(canvas.values, *range, canvas.grid);
    std::uint64_t bytes = 0;
    const PieceWriter count = [&bytes](std::span<const std::span<const char>> pieces) {
        for (const std::span<const char> piece : pieces) {
            bytes += piece.size();
        }
        return true;
    };
    if (!image(canvas.grid, month, count)) {
        return std::nullopt;
    }
    return bytes;
}

}  // namespace

PngSample sample_png_sizes(const TermSelection& selection, const std::vector<YearMonth>& months,
                           std::optional<ValueRange> range, Stretch stretch,
                           const SampleImageWriter& image) {
    PngSample sample;
    const RunParameters& grid = selection.parameters;
    std::optional<DayCanvas> canvas = make_day_canvas(grid.ncols, grid.nrows, 1);
    if (!canvas || months.empty()) {
        return sample;
    }
    const std::size_t count = std::min(months.size(), SAMPLE_MONTHS);
    std::uint64_t total = 0;
    for (std::size_t i = 0; i < count; ++i) {
        // The first, the last and evenly between.
        const std::size_t at = count == 1 ? 0 : i * (months.size() - 1) / (count - 1);
        if (const std::optional<std::uint64_t> bytes =
                first_day_image_bytes(selection, months[at], range, stretch, *canvas, image)) {
            total += *bytes;
            ++sample.days;
        }
    }
    sample.mean_bytes = sample.days > 0 ? total / static_cast<std::uint64_t>(sample.days) : 0;
    return sample;
}

void note_image_written(SpaceWatch& watch, std::size_t month, std::uint64_t bytes) {
    const std::lock_guard<std::mutex> held(watch.lock);
    watch.bytes_drawn = saturated_sum(watch.bytes_drawn, on_disk(bytes));
    ++watch.images_drawn;
    if (month < watch.images_left.size() && watch.images_left[month] > 0) {
        --watch.images_left[month];
    }
}

void note_month_ended(SpaceWatch& watch, std::size_t month) {
    const std::lock_guard<std::mutex> held(watch.lock);
    if (month < watch.images_left.size()) {
        watch.images_left[month] = 0;
    }
}

bool room_to_go_on(SpaceWatch& watch, std::string& message) {
    const std::lock_guard<std::mutex> held(watch.lock);
    message.clear();
    if (watch.stopped) {
        return false;
    }
    std::int64_t images_left = 0;
    for (const std::int64_t left : watch.images_left) {
        images_left += left;
    }
    if (!watch.active || images_left == 0) {
        return true;
    }
    const std::optional<std::uint64_t> available = free_space(watch.folder);
    const bool measured = watch.images_drawn > 0;
    const std::uint64_t each =
        measured ? watch.bytes_drawn / static_cast<std::uint64_t>(watch.images_drawn)
                 : on_disk(watch.estimate);
    const std::uint64_t needed = checked_product(each, static_cast<std::uint64_t>(images_left))
                                     .value_or(std::numeric_limits<std::uint64_t>::max());
    if (!available || needed <= *available) {
        return true;
    }
    watch.stopped = true;
    message = "Not enough free space in " + watch.folder + " to go on: the " +
              std::to_string(images_left) + " images left need about " + bytes_text(needed) + ", " +
              (measured ? "as those drawn so far take" : "as reckoned before drawing") + ", and " +
              bytes_text(*available) +
              " is free. The months drawn are complete: free some space and run again to draw "
              "the rest (--no-space-check draws regardless).";
    return false;
}
