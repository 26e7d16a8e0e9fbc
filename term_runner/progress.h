// Progress of a whole-term run on standard error, shared by its workers: on a
// terminal one line rewritten in place, elsewhere (a log file) one plain line
// per finished month, and a summary at the end.
#ifndef DISCHARGE_TERM_RUNNER_PROGRESS_H
#define DISCHARGE_TERM_RUNNER_PROGRESS_H

#include <chrono>
#include <cstdint>
#include <iosfwd>
#include <mutex>
#include <string>

struct Progress {
    std::ostream* errors = nullptr;
    bool terminal = false;  // rewrite one line in place
    std::int64_t months_total = 0;
    std::int64_t images_total = 0;
    std::uint64_t image_bytes = 0;  // bytes of one image
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();

    std::mutex lock;  // guards everything below, and the lines printed
    std::int64_t months_done = 0;
    std::int64_t images_done = 0;
    std::int64_t drawn = 0;
    std::int64_t up_to_date = 0;
    std::int64_t failed = 0;
};

// How a month of the run ended.
enum class MonthEnd { drawn, up_to_date, failed };

// Counts one image written.
void note_image(Progress& progress);

// Counts a month as ended; `detail` is printed on a line of its own (always
// for a failure, elsewhere only where the progress line is not rewritten).
void note_month(Progress& progress, const std::string& label, MonthEnd end,
                std::int64_t images_of_month, const std::string& detail);

// Prints a line of its own, above the progress line where there is one.
void print_line(Progress& progress, const std::string& line);

// Ends the progress line and prints the summary: drawn, up to date, failed.
void finish_progress(Progress& progress);

#endif  // DISCHARGE_TERM_RUNNER_PROGRESS_H
