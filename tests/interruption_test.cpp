// Runs stopped from outside at random instants, and runs of one month at
// once. Whatever happens, a file under an output's name is complete and
// wholly one run's; a run ended by a signal it can handle removes its
// temporary file and prints nothing more, and one killed outright leaves at
// most that one temporary file, which does not disturb later runs.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <map>
#include <random>
#include <thread>

#include "program_run.h"
#include "run_tree.h"

namespace {

// Large enough that drawing a month takes a while, small enough for many runs.
constexpr int NCOLS = 240;
constexpr int NROWS = 180;
const char* const JULY_FILE = "201907_dailyDischarge.bin";

// How a Windows program ends after Ctrl-C, which wine makes of SIGINT:
// STATUS_CONTROL_C_EXIT, of which a POSIX parent sees the low byte.
constexpr int CONTROL_C_EXIT_STATUS = 0xC000013A & 0xFF;

const char* signal_name(int signal) {
    switch (signal) {
        case SIGINT:
            return "SIGINT";
        case SIGTERM:
            return "SIGTERM";
        case SIGHUP:
            return "SIGHUP";
        case SIGQUIT:
            return "SIGQUIT";
        case SIGPIPE:
            return "SIGPIPE";
        default:
            return "SIGKILL";
    }
}

bool is_temporary(const std::string& name) {
    return name.starts_with(".") && name.ends_with(".tmp");
}

// The regular files of a folder, each with a digest of its bytes.
std::map<std::string, std::size_t> files_in(const std::filesystem::path& folder) {
    std::map<std::string, std::size_t> files;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        if (entry.is_regular_file()) {
            files[entry.path().filename().string()] =
                std::hash<std::string>{}(read_bytes(entry.path()));
        }
    }
    return files;
}

std::size_t temporaries_in(const std::map<std::string, std::size_t>& files) {
    return static_cast<std::size_t>(std::count_if(
        files.begin(), files.end(), [](const auto& file) { return is_temporary(file.first); }));
}

// The number of temporary files in a folder, by their names alone.
std::size_t temporaries_in(const std::filesystem::path& folder) {
    std::size_t count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        count += is_temporary(entry.path().filename().string()) ? 1 : 0;
    }
    return count;
}

std::ptrdiff_t entries_in(const std::filesystem::path& folder) {
    return std::distance(std::filesystem::directory_iterator(folder),
                         std::filesystem::directory_iterator());
}

// Waits up to ten seconds until `holds` is true.
bool wait_until(const std::function<bool()>& holds) {
    for (int wait = 0; wait < 10000; ++wait) {
        if (holds()) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

// Under wine, the files of a Windows process are closed by wine's server
// after the process has ended, and a file removed while open goes only then:
// waits for `folder` to hold at most `count` temporary files. Elsewhere they
// are gone when the run ends.
void wait_for_removals(const std::filesystem::path& folder, std::size_t count) {
    if (PROGRAMS_RUN_ON_WINDOWS) {
        wait_until([&] { return temporaries_in(folder) <= count; });
    }
}

// Whether a run ended as `signal` ends it: killed by it, or for a Windows
// program interrupted by Ctrl-C, with the exit status that Ctrl-C gives.
bool ended_by(const ProcessResult& result, int signal) {
    return result.signal == signal ||
           (PROGRAMS_RUN_ON_WINDOWS && signal == SIGINT && result.status == CONTROL_C_EXIT_STATUS);
}

class Interruption : public ::testing::Test {
  protected:
    void SetUp() override {
        write_text(tree_.root / "param.dat", parameter_text(NCOLS, NROWS));
        write_text(tree_.output / JULY_FILE, encode_values(counting_values(31U * NCOLS * NROWS)));
        std::filesystem::create_directory(image_dir_);
    }

    // A complete run: its transcript and images, and how long it took.
    struct Reference {
        std::string output;
        std::map<std::string, std::size_t> images;
        double seconds = 0.0;
    };

    // Under wine, the instants at which runs are stopped count from the
    // first image file, not from the start: until then wine is still
    // starting the process, and a signal there has wine's own outcomes (an
    // exit with status 0 before the program has run, seen), which no Windows
    // user meets. On Linux a run may be stopped anywhere from its start.
    void wait_until_drawing(std::ptrdiff_t files_left) {
        if (PROGRAMS_RUN_ON_WINDOWS) {
            EXPECT_TRUE(wait_until([&] { return entries_in(image_dir_) > files_left; }));
        }
    }

    Reference complete_image_run(const std::string& input) {
        std::filesystem::remove_all(image_dir_);
        std::filesystem::create_directory(image_dir_);
        const StartedProgram started = start_program(DISCHARGE_IMAGE_PATH, tree_.output, input);
        wait_until_drawing(0);
        const auto start = std::chrono::steady_clock::now();
        const ProcessResult result = finish_program(started);
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        EXPECT_EQ(result.status, 0);
        Reference reference{result.output, files_in(image_dir_), took.count()};
        EXPECT_EQ(reference.images.size(), 31U);
        return reference;
    }

    // Ten runs of discharge_image, each sent `signal` at a random instant
    // within the running time of a complete run.
    void interrupt_image_runs(int signal) {
        const std::string input = "2019 7 y 1000000 0";
        const Reference reference = complete_image_run(input);
        // The instants fall within the quicker of two complete runs: one run
        // slowed by a busy machine (other tests starting at once) would put
        // them past the end of every later run.
        const double run_seconds = std::min(reference.seconds, complete_image_run(input).seconds);
        std::mt19937 random(20261207U + static_cast<unsigned>(signal));
        std::uniform_real_distribution<double> instant(0.0, run_seconds);
        std::size_t temporaries_before = 0;
        int interrupted = 0;
        for (int run = 1; run <= 10; ++run) {
            remove_images();
            const double after = instant(random);
            const StartedProgram started = start_program(DISCHARGE_IMAGE_PATH, tree_.output, input);
            wait_until_drawing(static_cast<std::ptrdiff_t>(temporaries_before));
            std::this_thread::sleep_for(std::chrono::duration<double>(after));
            kill(started.pid, signal);
            const ProcessResult result = finish_program(started);
            // Only SIGKILL, which cannot be handled, may leave a temporary file.
            const std::size_t temporaries_allowed =
                temporaries_before + (signal == SIGKILL ? 1 : 0);
            wait_for_removals(image_dir_, temporaries_allowed);
            const std::string label = std::string(signal_name(signal)) + " after " +
                                      std::to_string(after) + " s, run " + std::to_string(run);

            EXPECT_FALSE(result.hung) << label;
            EXPECT_TRUE(result.status == 0 || ended_by(result, signal))
                << label << ": status " << result.status << ", signal " << result.signal;
            EXPECT_TRUE(reference.output.starts_with(result.output)) << label;
            const std::map<std::string, std::size_t> images = files_in(image_dir_);
            if (result.status == 0) {
                // A run that ended on its own did all its work.
                EXPECT_EQ(result.output, reference.output) << label;
                EXPECT_EQ(images.size() - temporaries_in(images), 31U) << label;
            } else {
                ++interrupted;
            }
            for (const auto& [name, digest] : images) {
                if (!is_temporary(name)) {
                    ASSERT_TRUE(reference.images.contains(name)) << label << ": " << name;
                    EXPECT_EQ(digest, reference.images.at(name)) << label << ": " << name;
                }
            }
            const std::size_t temporaries = temporaries_in(images);
            EXPECT_LE(temporaries, temporaries_allowed) << label;
            temporaries_before = temporaries;
        }
        // Every instant falls within the time of a complete run: some runs must
        // have been stopped, or nothing was tested.
        EXPECT_GT(interrupted, 0);
        std::printf("%d of 10 runs stopped by %s\n", interrupted, signal_name(signal));

        // A whole run beside what the killed runs left.
        const ProcessResult result = run_program(DISCHARGE_IMAGE_PATH, tree_.output, input);
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.output, reference.output);
        std::map<std::string, std::size_t> images = files_in(image_dir_);
        EXPECT_EQ(temporaries_in(images), temporaries_before);
        std::erase_if(images, [](const auto& file) { return is_temporary(file.first); });
        EXPECT_EQ(images, reference.images);
    }

    // discharge_series held in the middle of a month that a FIFO feeds, with
    // its series file begun, and sent `signal` there.
    void interrupt_series_run(int signal) {
        const std::string month = read_bytes(tree_.output / JULY_FILE);
        std::filesystem::remove(tree_.output / JULY_FILE);
        std::filesystem::remove(tree_.output / "201907-2-1_discharge.dat");
        ProcessResult result;
        {
            FifoFeeder feeder(tree_.output / JULY_FILE, std::vector<std::string>{month}, true);
            const StartedProgram started =
                start_program(DISCHARGE_SERIES_PATH, tree_.output, "2 1 2019 7");
            EXPECT_TRUE(wait_until([&] { return temporaries_in(tree_.output) >= 1; }))
                << signal_name(signal);
            kill(started.pid, signal);
            result = finish_program(started);
        }
        EXPECT_TRUE(ended_by(result, signal)) << signal_name(signal);
        EXPECT_TRUE(result.output.ends_with("Write ./201907-2-1_discharge.dat\r"))
            << signal_name(signal) << ": " << result.output;
        const std::map<std::string, std::size_t> files = files_in(tree_.output);
        EXPECT_EQ(temporaries_in(files), signal == SIGKILL ? 1U : 0U) << signal_name(signal);
        EXPECT_FALSE(files.contains("201907-2-1_discharge.dat")) << signal_name(signal);

        // A later run of the same series is not disturbed by what is left.
        std::filesystem::remove(tree_.output / JULY_FILE);
        write_text(tree_.output / JULY_FILE, month);
        EXPECT_EQ(run_program(DISCHARGE_SERIES_PATH, tree_.output, "2 1 2019 7").status, 0);
        EXPECT_TRUE(read_text(tree_.output / "201907-2-1_discharge.dat")
                        .starts_with("2019 7 1 2\n2019 7 2 43202\n"));
    }

    // Removes the images of an earlier run, but not the temporary files
    // that SIGKILL left.
    void remove_images() {
        for (const auto& [name, digest] : files_in(image_dir_)) {
            if (!is_temporary(name)) {
                std::filesystem::remove(image_dir_ / name);
            }
        }
    }

    // What an interrupted run left: no temporary file, fewer images than the
    // month's, each whole, and a transcript that a complete run begins with.
    void expect_stopped_cleanly(const ProcessResult& result, const Reference& reference,
                                const std::string& label) {
        EXPECT_FALSE(result.hung) << label;
        EXPECT_TRUE(reference.output.starts_with(result.output)) << label << ": " << result.output;
        const std::map<std::string, std::size_t> images = files_in(image_dir_);
        EXPECT_EQ(temporaries_in(images), 0U) << label;
        EXPECT_LT(images.size(), 31U) << label;
        for (const auto& [name, digest] : images) {
            ASSERT_TRUE(reference.images.contains(name)) << label << ": " << name;
            EXPECT_EQ(digest, reference.images.at(name)) << label << ": " << name;
        }
    }

    RunTree tree_;
    std::filesystem::path image_dir_ = tree_.output / "image";
};

}  // namespace

TEST_F(Interruption, ImageRunsBySigint) {
    interrupt_image_runs(SIGINT);
}

TEST_F(Interruption, ImageRunsBySigterm) {
    SKIP_ON_WINDOWS("SIGTERM, which a Windows program never gets");
    interrupt_image_runs(SIGTERM);
}

TEST_F(Interruption, ImageRunsBySighup) {
    SKIP_ON_WINDOWS("SIGHUP, which a Windows program never gets");
    interrupt_image_runs(SIGHUP);
}

TEST_F(Interruption, ImageRunsBySigquit) {
    SKIP_ON_WINDOWS("SIGQUIT, which a Windows program never gets");
    interrupt_image_runs(SIGQUIT);
}

TEST_F(Interruption, ImageRunsBySigkill) {
    interrupt_image_runs(SIGKILL);
}

TEST_F(Interruption, SeriesRunBySignals) {
    SKIP_ON_WINDOWS("a FIFO as the monthly file");
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGKILL}) {
        interrupt_series_run(signal);
    }
}

TEST_F(Interruption, TwoImageRunsAtOnceWriteWholeImages) {
    // Two typed ranges give every day two different images.
    const std::string inputs[] = {"2019 7 y 1000000 0", "2019 7 y 2000000 500"};
    const Reference first = complete_image_run(inputs[0]);
    const Reference second = complete_image_run(inputs[1]);
    for (int attempt = 1; attempt <= 3; ++attempt) {
        std::filesystem::remove_all(image_dir_);
        std::filesystem::create_directory(image_dir_);
        const StartedProgram one = start_program(DISCHARGE_IMAGE_PATH, tree_.output, inputs[0]);
        const StartedProgram two = start_program(DISCHARGE_IMAGE_PATH, tree_.output, inputs[1]);
        const ProcessResult results[] = {finish_program(one), finish_program(two)};
        EXPECT_EQ(results[0].status, 0);
        EXPECT_EQ(results[0].output, first.output);
        EXPECT_EQ(results[1].status, 0);
        EXPECT_EQ(results[1].output, second.output);
        const std::map<std::string, std::size_t> images = files_in(image_dir_);
        EXPECT_EQ(images.size(), 31U) << "attempt " << attempt;
        for (const auto& [name, digest] : images) {
            EXPECT_TRUE(digest == first.images.at(name) || digest == second.images.at(name))
                << "attempt " << attempt << ": " << name << " is a mixture";
        }
    }
}

TEST_F(Interruption, TwoSeriesRunsAtOnceWriteAWholeSeries) {
    SKIP_ON_WINDOWS("a FIFO as the monthly file");
    // Each run gets a month of its own through the FIFO, and both hold their
    // series file open until both have begun it.
    std::vector<float> larger = counting_values(31U * NCOLS * NROWS);
    for (float& value : larger) {
        value = value * 1000.25F + 0.5F;
    }
    const std::string months[] = {read_bytes(tree_.output / JULY_FILE), encode_values(larger)};
    std::string series[2];
    for (int run = 0; run < 2; ++run) {
        write_text(tree_.output / JULY_FILE, months[run]);
        ASSERT_EQ(run_program(DISCHARGE_SERIES_PATH, tree_.output, "2 1 2019 7").status, 0);
        series[run] = read_bytes(tree_.output / "201907-2-1_discharge.dat");
    }
    ASSERT_NE(series[0].size(), series[1].size());

    std::filesystem::remove(tree_.output / JULY_FILE);
    std::filesystem::remove(tree_.output / "201907-2-1_discharge.dat");
    ProcessResult results[2];
    {
        FifoFeeder feeder(tree_.output / JULY_FILE, std::vector<std::string>{months[0], months[1]},
                          true);
        const StartedProgram one = start_program(DISCHARGE_SERIES_PATH, tree_.output, "2 1 2019 7");
        ASSERT_TRUE(wait_until([&] { return temporaries_in(tree_.output) >= 1; }));
        const StartedProgram two = start_program(DISCHARGE_SERIES_PATH, tree_.output, "2 1 2019 7");
        ASSERT_TRUE(wait_until([&] { return temporaries_in(tree_.output) >= 2; }));
        feeder.release();
        results[0] = finish_program(one);
        results[1] = finish_program(two);
    }
    EXPECT_EQ(results[0].status, 0);
    EXPECT_EQ(results[1].status, 0);
    const std::string written = read_bytes(tree_.output / "201907-2-1_discharge.dat");
    EXPECT_TRUE(written == series[0] || written == series[1]) << written;
    EXPECT_EQ(temporaries_in(files_in(tree_.output)), 0U);
}

TEST_F(Interruption, ImageRunWhoseConsoleReaderLeaves) {
    SKIP_ON_WINDOWS("SIGPIPE: a Windows program's write to a pipe without a reader just fails");
    const std::string input = "2019 7 y 1000000 0";
    const Reference reference = complete_image_run(input);
    remove_images();
    const ProcessResult result = run_program_until_output(
        DISCHARGE_IMAGE_PATH, tree_.output, input, "Write ./image/201907_   3_discharge.ppm\r");
    EXPECT_EQ(result.signal, SIGPIPE) << "status " << result.status;
    expect_stopped_cleanly(result, reference, "SIGPIPE");
}

TEST_F(Interruption, ImageRunAsTheFirstProcessOfAContainer) {
    // The first process of a PID namespace, as in a container started
    // without an init, for which the kernel ignores a signal whose action is
    // the default: the program must still end at once, with the status a
    // shell gives to an end by that signal.
    if (const std::string why = why_no_pid_namespace(); !why.empty()) {
        GTEST_SKIP() << why;
    }
    const std::string input = "2019 7 y 1000000 0";
    const Reference reference = complete_image_run(input);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE}) {
        remove_images();
        const StartedProgram started =
            start_program_as_first_process(DISCHARGE_IMAGE_PATH, tree_.output, input);
        // In the middle of the month.
        EXPECT_TRUE(wait_until([&] { return entries_in(image_dir_) >= 3; }));
        kill(child_of(started.pid), signal);
        const ProcessResult result = finish_program(started);
        EXPECT_EQ(result.status, 128 + signal) << signal_name(signal);
        expect_stopped_cleanly(result, reference, signal_name(signal));
    }
}
