#include "progress.h"

#include <cstdio>
#include <ostream>

namespace {

// The line rewritten in place: months and images done of all, the rate of
// writing and the time left, at the rate so far.
void redraw(Progress& p) {
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - p.start).count();
    const double megabytes =
        static_cast<double>(p.images_done) * static_cast<double>(p.image_bytes) / 1e6;
    const double rate = seconds > 0.0 ? megabytes / seconds : 0.0;
    const std::int64_t images_left = p.images_total - p.images_done;
    const double left = p.images_done > 0 ? seconds / static_cast<double>(p.images_done) *
                                                static_cast<double>(images_left)
                                          : 0.0;
    char line[160];
    std::snprintf(
        line, sizeof line, "\rmonths %lld/%lld, images %lld/%lld, %.0f MB/s, %.0f s left\x1b[K",
        static_cast<long long>(p.months_done), static_cast<long long>(p.months_total),
        static_cast<long long>(p.images_done), static_cast<long long>(p.images_total), rate, left);
    *p.errors << line << std::flush;
}

// Prints a whole line, first clearing the progress line on a terminal.
void put_line(Progress& p, const std::string& line) {
    if (p.terminal) {
        *p.errors << "\r\x1b[K";
    }
    *p.errors << line << std::endl;
    if (p.terminal) {
        redraw(p);
    }
}

}  // namespace

void note_image(Progress& progress) {
    const std::lock_guard<std::mutex> held(progress.lock);
    ++progress.images_done;
    if (progress.terminal) {
        redraw(progress);
    }
}

void note_month(Progress& progress, const std::string& label, MonthEnd end,
                std::int64_t images_of_month, const std::string& detail) {
    const std::lock_guard<std::mutex> held(progress.lock);
    ++progress.months_done;
    switch (end) {
        case MonthEnd::drawn:
            ++progress.drawn;
            break;
        case MonthEnd::up_to_date:
            ++progress.up_to_date;
            progress.images_done += images_of_month;
            break;
        case MonthEnd::failed:
            ++progress.failed;
            break;
    }
    if (end == MonthEnd::failed || !progress.terminal) {
        put_line(progress, label + ": " + detail);
    } else {
        redraw(progress);
    }
}

void print_line(Progress& progress, const std::string& line) {
    const std::lock_guard<std::mutex> held(progress.lock);
    put_line(progress, line);
}

void finish_progress(Progress& progress) {
    const std::lock_guard<std::mutex> held(progress.lock);
    if (progress.terminal) {
        *progress.errors << "\r\x1b[K";
    }
    *progress.errors << progress.drawn << " drawn, " << progress.up_to_date << " up to date, "
                     << progress.failed << " failed" << std::endl;
}
