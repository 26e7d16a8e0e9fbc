#include "progress.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ostream>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/ioctl.h>
#include <unistd.h>
#endif

namespace {

// Where the terminal cannot tell its width: the width terminals have always
// had.
constexpr int USUAL_COLUMNS = 80;

// The parts that are not empty, separated by commas.
std::string joined(const std::vector<std::string>& parts) {
    std::string line;
    for (const std::string& part : parts) {
        if (part.empty()) {
            continue;
        }
        line += line.empty() ? part : ", " + part;
    }
    return line;
}

// Two or three digits, the slow rates of small grids too.
std::string rate_text(double rate, const char* unit) {
    const char* format = rate >= 10.0 ? "%.0f %s" : rate >= 1.0 ? "%.1f %s" : "%.2f %s";
    char text[64];
    std::snprintf(text, sizeof text, format, rate, unit);
    return text;
}

// The line rewritten in place: months and images done of all, the rate of
// drawing and the time left at that rate. Images found up to date count as
// done but not as work: the rate is that of the images drawn after the
// first, over the time since it was drawn, which leaves out the time spent
// before drawing began. Until a second image is drawn there is no rate.
// Within `limit` characters, the rate and the months are left out first,
// then words; no number is ever cut.
std::string progress_line(const Progress& p, std::size_t limit) {
    const std::string months =
        "months " + std::to_string(p.counts.months_done) + "/" + std::to_string(p.months_total);
    const std::string images =
        std::to_string(p.counts.images_done) + "/" + std::to_string(p.units.total);
    std::string rate;
    std::string left;
    const double seconds = std::chrono::duration<double>(p.now() - p.counts.first_drawn).count();
    if (p.counts.images_drawn >= 2 && seconds > 0.0) {
        const double intervals = static_cast<double>(p.counts.images_drawn - 1);
        const double images_left =
            static_cast<double>(std::max<std::int64_t>(0, p.units.total - p.counts.images_done));
        rate =
            p.units.each > 0
                ? rate_text(intervals * static_cast<double>(p.units.each) / 1e6 / seconds, "MB/s")
                : rate_text(intervals / seconds, "images/s");
        left = duration_text(seconds / intervals * images_left) + " left";
    }
    const std::string shorter[] = {
        joined({months, p.units.items + (" " + images), rate, left}),
        joined({months, p.units.items + (" " + images), left}),
        joined({p.units.items + (" " + images), left}),
        joined({images, left}),
        images,
    };
    for (const std::string& line : shorter) {
        if (line.size() <= limit) {
            return line;
        }
    }
    return "";
}

// Blanks the progress line and returns to its start.
void clear_line(Progress& p) {
    if (!p.shown.empty()) {
        *p.errors << '\r' << std::string(p.shown.size(), ' ') << '\r';
        p.shown.clear();
    }
}

// Rewrites the progress line, unless it reads the same. It stays within the
// terminal's width less one column: a line that fills the last column makes
// some terminals move to the next line.
void redraw(Progress& p) {
    const int width = p.width > 0 ? p.width : USUAL_COLUMNS;
    std::string line = progress_line(p, static_cast<std::size_t>(width - 1));
    if (line == p.shown) {
        return;
    }
    clear_line(p);
    *p.errors << line << std::flush;
    p.shown = std::move(line);
}

// Prints a whole line, first clearing the progress line on a terminal.
void put_line(Progress& p, const std::string& line) {
    if (p.terminal) {
        clear_line(p);
    }
    *p.errors << line << std::endl;
    if (p.terminal) {
        redraw(p);
    }
}

}  // namespace

void note_image(Progress& progress) {
    const std::lock_guard<std::mutex> held(progress.lock);
    ++progress.counts.images_done;
    if (progress.counts.images_drawn++ == 0) {
        progress.counts.first_drawn = progress.now();
    }
    if (progress.terminal) {
        redraw(progress);
    }
}

void note_kept(Progress& progress, std::int64_t images) {
    const std::lock_guard<std::mutex> held(progress.lock);
    progress.counts.images_done += images;
    if (progress.terminal) {
        redraw(progress);
    }
}

void note_month(Progress& progress, const std::string& label, MonthEnd end,
                const std::string& detail) {
    const std::lock_guard<std::mutex> held(progress.lock);
    ++progress.counts.months_done;
    switch (end) {
        case MonthEnd::drawn:
            ++progress.counts.drawn;
            break;
        case MonthEnd::up_to_date:
            ++progress.counts.up_to_date;
            break;
        case MonthEnd::failed:
            ++progress.counts.failed;
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

double end_progress(Progress& progress) {
    const std::lock_guard<std::mutex> held(progress.lock);
    if (progress.terminal) {
        clear_line(progress);
    }
    return std::chrono::duration<double>(progress.now() - progress.start).count();
}

void finish_progress(Progress& progress) {
    const double seconds = end_progress(progress);
    const std::lock_guard<std::mutex> held(progress.lock);
    *progress.errors << progress.counts.drawn << " drawn, " << progress.counts.up_to_date
                     << " up to date, " << progress.counts.failed << " failed in "
                     << duration_text(seconds) << std::endl;
}

std::string duration_text(double seconds) {
    // Within 0 and about 30 000 years, so that every count below fits.
    seconds = seconds > 0.0 ? std::min(seconds, 1e12) : 0.0;
    const long long tenths = std::llround(seconds * 10.0);
    char text[64];
    if (tenths < 100) {
        std::snprintf(text, sizeof text, "%lld.%lld s", tenths / 10, tenths % 10);
        return text;
    }
    const long long whole = (tenths + 5) / 10;
    if (whole < 60) {
        std::snprintf(text, sizeof text, "%lld s", whole);
    } else if (whole < 3600) {
        std::snprintf(text, sizeof text, "%lld min %02lld s", whole / 60, whole % 60);
    } else {
        const long long minutes = (whole + 30) / 60;
        std::snprintf(text, sizeof text, "%lld h %02lld min", minutes / 60, minutes % 60);
    }
    return text;
}

int terminal_columns() {
#ifdef _WIN32
    // Lines wrap at the width of the screen buffer, which the window may show
    // only part of.
    CONSOLE_SCREEN_BUFFER_INFO screen;
    if (GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &screen) != 0 &&
        screen.dwSize.X > 0) {
        return screen.dwSize.X;
    }
    return 0;
#else
    if (isatty(STDERR_FILENO) == 0) {
        return 0;
    }
    winsize size{};
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) {
        return size.ws_col;
    }
    // A terminal that cannot tell: the shell may.
    const char* columns = std::getenv("COLUMNS");
    int value = 0;
    if (columns == nullptr) {
        return 0;
    }
    const char* end = columns + std::strlen(columns);
    const auto [stop, error] = std::from_chars(columns, end, value);
    return error == std::errc() && stop == end && value > 0 ? value : 0;
#endif
}

void start_progress(Progress& progress, std::ostream& errors, int terminal_width,
                    const std::vector<YearMonth>& months, const ProgressUnits& units) {
    progress.errors = &errors;
    progress.terminal = terminal_width >= 0;
    progress.width = terminal_width;
    progress.months_total = static_cast<std::int64_t>(months.size());
    progress.units = units;
    if (progress.units.total < 0) {
        progress.units.total = 0;
        for (const YearMonth month : months) {
            progress.units.total += days_in_month(month.month);
        }
    }
}

std::int64_t months_failed(Progress& progress) {
    const std::lock_guard<std::mutex> held(progress.lock);
    return progress.counts.failed;
}
