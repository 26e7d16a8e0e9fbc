// Progress of a whole-term run on standard error, shared by its workers: on a
// terminal one line rewritten in place, elsewhere (a log file) one plain line
// per finished month, and a summary at the end.
//
// The line rewritten in place is cleared with carriage returns and spaces
// only, no escape sequences, so that every console shows it alike, and is
// kept shorter than the terminal is wide: a line that wraps could no longer
// be rewritten.
#ifndef DISCHARGE_TERM_RUNNER_PROGRESS_H
#define DISCHARGE_TERM_RUNNER_PROGRESS_H

#include <chrono>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <mutex>
#include <string>
#include <vector>

#include "run_input.h"

// What the progress line counts: images (by default) or days written, with
// the bytes of each where they are all alike, for a rate in MB/s.
struct ProgressUnits {
    const char* items = "images";
    std::int64_t total = -1;  // how many in all; -1 for one a day of the months
    std::uint64_t each = 0;   // bytes of one; 0 where each has its own (PNG)
};

// The progress of a run, shared by its workers. Set up by start_progress()
// and kept by the calls below; nothing else reads or writes its counts.
struct Progress {
    using Clock = std::chrono::steady_clock;

    // The clock, and when the run started: a test sets its own.
    std::function<Clock::time_point()> now = [] { return Clock::now(); };
    Clock::time_point start = Clock::now();

    std::ostream* errors = nullptr;
    bool terminal = false;  // rewrite one line in place
    int width = 0;          // columns of the terminal; 0 for unknown, taken as 80
    ProgressUnits units;
    std::int64_t months_total = 0;

    std::mutex lock;  // guards the counts and the lines printed
    struct Counts {
        std::int64_t months_done = 0;
        std::int64_t images_done = 0;   // drawn, and found up to date
        std::int64_t images_drawn = 0;  // drawn in this run
        Clock::time_point first_drawn;  // when the first image of this run was drawn
        std::int64_t drawn = 0;         // months
        std::int64_t up_to_date = 0;
        std::int64_t failed = 0;
    } counts;
    std::string shown;  // the progress line on the terminal now
};

// Sets `progress` up for a run over `months`, printing on `errors`: in place
// within `terminal_width` columns on a terminal (0 for a width unknown), in
// plain lines where `terminal_width` is negative.
void start_progress(Progress& progress, std::ostream& errors, int terminal_width,
                    const std::vector<YearMonth>& months, const ProgressUnits& units = {});

// How many months have failed so far.
std::int64_t months_failed(Progress& progress);

// How a month of the run ended.
enum class MonthEnd { drawn, up_to_date, failed };

// Counts one image drawn and written.
void note_image(Progress& progress);

// Counts `images` found up to date and kept as they are: done, but no work
// to measure the rate by.
void note_kept(Progress& progress, std::int64_t images);

// Counts a month as ended; `detail` is printed on a line of its own (always
// for a failure, elsewhere only where the progress line is not rewritten).
void note_month(Progress& progress, const std::string& label, MonthEnd end,
                const std::string& detail);

// Prints a line of its own, above the progress line where there is one.
void print_line(Progress& progress, const std::string& line);

// Ends the progress line and prints the summary: months drawn, up to date and
// failed, and the time the run took ("4 drawn, 0 up to date, 0 failed in 12 s").
void finish_progress(Progress& progress);

// Ends the progress line, for a run that sums itself up; returns the seconds
// since the run started.
double end_progress(Progress& progress);

// A duration as the progress shows it: "0.4 s" below ten seconds, "12 s"
// below a minute, "3 min 05 s" below an hour, else "2 h 05 min", rounded to
// the last unit shown.
std::string duration_text(double seconds);

// Columns of the terminal that standard error is, or 0 where it is not one or
// cannot tell.
int terminal_columns();

#endif  // DISCHARGE_TERM_RUNNER_PROGRESS_H
