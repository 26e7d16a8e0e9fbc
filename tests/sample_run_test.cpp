// The sample run that make_sample_run writes: the simulation term of its
// param.dat spans the months it writes, so that discharge_term takes the run
// as it is, and each month's file holds exactly the grids of its days.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <map>

#include "program_run.h"
#include "run_tree.h"

extern char** environ;

namespace {

// Runs the generator with `arguments`, its output discarded, and returns its
// exit status. It is a tool of the build machine, started directly even
// where the programs under test run through an emulator.
int make_sample_run(const std::vector<std::string>& arguments) {
    std::vector<std::string> words = {MAKE_SAMPLE_RUN_PATH};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    int wait_status = 0;
    if (spawned != 0 || waitpid(pid, &wait_status, 0) != pid || !WIFEXITED(wait_status)) {
        return -1;
    }
    return WEXITSTATUS(wait_status);
}

// The files of a folder with their sizes; -1 for a folder.
std::map<std::string, std::intmax_t> sizes_in(const std::filesystem::path& folder) {
    std::map<std::string, std::intmax_t> sizes;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        sizes[entry.path().filename().string()] =
            entry.is_directory() ? -1 : static_cast<std::intmax_t>(entry.file_size());
    }
    return sizes;
}

// The last four values of param.dat: start year, end year, start month, end
// month.
std::string term_of(const std::filesystem::path& parameter_file) {
    const std::vector<std::string> values = tokens_of(read_bytes(parameter_file));
    return values.size() == 16 ? values[12] + " " + values[13] + " " + values[14] + " " + values[15]
                               : "param.dat of " + std::to_string(values.size()) + " values";
}

struct SampleCase {
    std::vector<std::string> options;
    int ncols;
    int nrows;
    std::string term;                      // as param.dat holds it
    std::map<std::string, int> day_grids;  // the months' files, with their grids
    bool whole_term;                       // every month of the term is written
};

class SampleRun : public ::testing::Test {
  protected:
    RunTree tree_;
    std::filesystem::path root_ = tree_.root / "sample";
};

TEST_F(SampleRun, TermSpansTheMonthsWritten) {
    const std::vector<SampleCase> cases = {
        // The default: a summer storm, the dry months after it and the
        // winter front of a leap February.
        {{},
         120,
         100,
         "2019 2020 7 2",
         {{"201907", 31},
          {"201908", 31},
          {"201909", 30},
          {"201910", 31},
          {"201911", 30},
          {"201912", 31},
          {"202001", 31},
          {"202002", 29}},
         true},
        // Across a year end, given backwards.
        {{"--months", "201901,201812", "--size", "12x10"},
         12,
         10,
         "2018 2019 12 1",
         {{"201812", 31}, {"201901", 31}},
         true},
        // With a gap, a month twice and a February of 28 days.
        {{"--size", "7x3", "--months", "201902,201811,201902"},
         7,
         3,
         "2018 2019 11 2",
         {{"201811", 30}, {"201902", 28}},
         false},
    };
    for (const SampleCase& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.options));
        std::filesystem::remove_all(root_);
        std::vector<std::string> arguments = {root_.string()};
        arguments.insert(arguments.end(), c.options.begin(), c.options.end());
        ASSERT_EQ(make_sample_run(arguments), 0);
        EXPECT_EQ(term_of(root_ / "param.dat"), c.term);
        std::map<std::string, std::intmax_t> expected = {{"image", -1}};
        for (const auto& [month, grids] : c.day_grids) {
            expected[month + "_dailyDischarge.bin"] =
                std::intmax_t{grids} * c.ncols * c.nrows * DISCHARGE_VALUE_BYTES;
        }
        EXPECT_EQ(sizes_in(root_ / "output"), expected);
        // discharge_term, where it is built, takes the whole term.
        if (c.whole_term && !std::string(DISCHARGE_TERM_PATH).empty()) {
            const ProcessResult range =
                run_program_with(DISCHARGE_TERM_PATH, {"range"}, root_ / "output");
            EXPECT_EQ(range.status, 0) << range.errors;
        }
    }
}

TEST_F(SampleRun, MalformedMonthsWriteNothing) {
    for (const char* months : {"201913", "201900", "1907", "2019071", "201907,", "201907,,201908",
                               "201907x201908", "+20190"}) {
        std::filesystem::remove_all(root_);
        EXPECT_EQ(make_sample_run({root_.string(), "--months", months}), 2) << months;
        EXPECT_FALSE(std::filesystem::exists(root_)) << months;
    }
}

}  // namespace
