// Whole runs of discharge_term in temporary run trees, against the two
// programs themselves: its images and series must be theirs, byte for byte.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <sstream>
#include <thread>

#include "png_decoder.h"
#include "program_run.h"
#include "run_tree.h"

namespace {

constexpr int NCOLS = 5;
constexpr int NROWS = 4;
const std::vector<std::string> SELECTION = {"--from", "2019-11", "--to", "2020-02"};

// The selection crosses a year end and holds a leap February, whose file has
// 29 grids like the simulation writes them.
struct Month {
    int year;
    int month;
    int grids;
};
const Month MONTHS[] = {{2019, 11, 30}, {2019, 12, 31}, {2020, 1, 31}, {2020, 2, 29}};

std::string month_file(const Month& m) {
    char name[64];
    std::snprintf(name, sizeof name, "%04d%02d_dailyDischarge.bin", m.year, m.month);
    return name;
}

// Every value different, each month with a range of its own, and some cells
// without discharge.
std::vector<float> month_values(int index, int grids) {
    std::vector<float> values = counting_values(static_cast<std::size_t>(grids) * NCOLS * NROWS);
    for (std::size_t i = 0; i < values.size(); ++i) {
        values[i] = i % 7 == 3 ? -999.0F : values[i] * 0.75F * static_cast<float>(index + 1) + 0.5F;
    }
    return values;
}

std::map<std::string, std::string> files_of(const std::filesystem::path& folder) {
    std::map<std::string, std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        files[entry.path().filename().string()] = read_bytes(entry.path());
    }
    return files;
}

// The last line of a run's standard error without its elapsed time: "4
// drawn, 0 up to date, 0 failed" of "4 drawn, 0 up to date, 0 failed in 2 s".
std::string summary_of(const std::string& errors) {
    std::string line = errors.substr(0, errors.size() - 1);
    line = line.substr(line.rfind('\n') + 1);
    return line.substr(0, line.find(" in "));
}

// The lines of a text, without their line ends.
std::vector<std::string> tokens_of_lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

class TermRun : public ::testing::Test {
  protected:
    void SetUp() override {
        if (std::string(DISCHARGE_TERM_PATH).empty()) {
            GTEST_SKIP() << "discharge_term is not built: CLI11 was not found";
        }
        write_text(tree_.root / "param.dat", parameter_text(NCOLS, NROWS));
        for (int i = 0; i < 4; ++i) {
            write_text(tree_.output / month_file(MONTHS[i]),
                       encode_values(month_values(i, MONTHS[i].grids)));
        }
    }

    ProcessResult term(std::vector<std::string> arguments) {
        arguments.insert(arguments.end(), SELECTION.begin(), SELECTION.end());
        return run_program_with(DISCHARGE_TERM_PATH, arguments, tree_.output);
    }

    // The images discharge_image draws for every month of the selection with
    // `answer` to its range question ("n", or "y MAX MIN"), moved out of the
    // way of the next run.
    std::map<std::string, std::string> reference_images(const std::string& answer) {
        std::filesystem::create_directory(image_dir_);
        for (const Month& m : MONTHS) {
            const std::string input =
                std::to_string(m.year) + " " + std::to_string(m.month) + " " + answer;
            EXPECT_EQ(run_program(DISCHARGE_IMAGE_PATH, tree_.output, input).status, 0);
        }
        std::map<std::string, std::string> images = files_of(image_dir_);
        std::filesystem::remove_all(image_dir_);
        return images;
    }

    // The images of the last run, without the range records and legends.
    std::map<std::string, std::string> term_images() {
        std::map<std::string, std::string> images = files_of(image_dir_);
        std::erase_if(images,
                      [](const auto& file) { return !file.first.ends_with("_discharge.ppm"); });
        return images;
    }

    RunTree tree_;
    std::filesystem::path image_dir_ = tree_.output / "image";
};

}  // namespace

TEST_F(TermRun, ImagesAreDischargeImagesInEveryRangeMode) {
    const ProcessResult range = term({"range"});
    ASSERT_EQ(range.status, 0) << range.errors;
    // The months' ranges widened: the smallest non-negative value is the
    // first month's first, the largest the last of February's 28th grid (its
    // 29th, which would give 1740.5, is never read).
    EXPECT_EQ(range.output, "1.25,1680.5\n");
    const std::string minimum = range.output.substr(0, range.output.find(','));
    const std::string maximum = range.output.substr(minimum.size() + 1);
    const std::pair<std::vector<std::string>, std::string> modes[] = {
        {{"images", "--jobs", "2"}, "y " + maximum + " " + minimum},
        {{"images", "--range", "month"}, "n"},
        {{"images", "--range", "0,3000", "--jobs", "3"}, "y 3000 0"},
    };
    for (const auto& [arguments, answer] : modes) {
        const std::map<std::string, std::string> reference = reference_images(answer);
        ASSERT_EQ(reference.size(), 30U + 31U + 31U + 28U);
        const ProcessResult result = term(arguments);
        EXPECT_EQ(result.status, 0) << arguments[1] << ": " << result.errors;
        EXPECT_TRUE(result.output.empty());
        EXPECT_EQ(summary_of(result.errors), "4 drawn, 0 up to date, 0 failed");
        EXPECT_TRUE(term_images() == reference) << arguments.back();
        // Each month's legend is the legend of its recorded range.
        const std::string recorded = read_text(image_dir_ / "202002_range.txt");
        EXPECT_EQ(run_program_with(
                      DISCHARGE_TERM_PATH,
                      {"legend", "--range", recorded.substr(0, recorded.find('\n')), "legend.ppm"},
                      tree_.output)
                      .status,
                  0);
        EXPECT_TRUE(read_bytes(image_dir_ / "legend_202002.ppm") ==
                    read_bytes(tree_.output / "legend.ppm"));
        std::filesystem::remove_all(image_dir_);
    }
}

TEST_F(TermRun, RerunDrawsOnlyWhatIsMissingOrOfAnotherRange) {
    ASSERT_EQ(term({"images", "--range", "0,3000"}).status, 0);
    EXPECT_TRUE(read_text(image_dir_ / "201912_range.txt").starts_with("0,3000\ngrid 5 4\n"));
    const auto written = [&](const char* name) {
        return std::filesystem::last_write_time(image_dir_ / name);
    };
    const auto untouched = written("202002_  28_discharge.ppm");
    std::this_thread::sleep_for(std::chrono::milliseconds(20));

    std::filesystem::remove(image_dir_ / "201911_   5_discharge.ppm");
    write_text(image_dir_ / "201912_range.txt", "0,2000\n");
    const ProcessResult result = term({"images", "--range", "0,3000"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(summary_of(result.errors), "2 drawn, 2 up to date, 0 failed");
    EXPECT_TRUE(std::filesystem::exists(image_dir_ / "201911_   5_discharge.ppm"));
    EXPECT_TRUE(read_text(image_dir_ / "201912_range.txt").starts_with("0,3000\n"));
    EXPECT_EQ(written("202002_  28_discharge.ppm"), untouched);

    EXPECT_EQ(summary_of(term({"images", "--range", "0,3000", "--force"}).errors),
              "4 drawn, 0 up to date, 0 failed");
    EXPECT_NE(written("202002_  28_discharge.ppm"), untouched);
}

TEST_F(TermRun, MissingOrShortMonth) {
    std::filesystem::remove(tree_.output / month_file(MONTHS[1]));
    write_text(tree_.output / month_file(MONTHS[2]), "short");
    const std::string named =
        "./201912_dailyDischarge.bin: Daily discharge data cannot open. (No such file or "
        "directory)\n"
        "./202001_dailyDischarge.bin: Daily discharge data cannot open. (5 bytes, where 31 grids "
        "of 5 x 4 cells take 2480 bytes)\n";
    // The term's range needs every month: nothing is drawn.
    const ProcessResult images = term({"images"});
    EXPECT_EQ(images.status, 1);
    EXPECT_EQ(images.errors,
              named +
                  "The range of the term needs every month of it: narrow the "
                  "selection with --from and --to, or give the range with --range.\n");
    EXPECT_FALSE(std::filesystem::exists(image_dir_));
    const ProcessResult range = term({"range"});
    EXPECT_EQ(range.status, 1);
    EXPECT_EQ(range.output, "");
    // With a range of their own the other months are drawn.
    const ProcessResult typed = term({"images", "--range", "0,3000", "--jobs", "1"});
    EXPECT_EQ(typed.status, 1);
    EXPECT_TRUE(typed.errors.find("201912: " + named.substr(0, named.find('\n') + 1)) !=
                std::string::npos)
        << typed.errors;
    EXPECT_EQ(summary_of(typed.errors), "2 drawn, 0 up to date, 2 failed");
    EXPECT_EQ(term_images().size(), 30U + 28U);
}

TEST_F(TermRun, SeriesAreTheMonthsSeriesJoinedAndNeverHaveSilentGaps) {
    // discharge_series's lines of every month, joined; January's days marked
    // missing where its file is gone and gaps are allowed.
    const auto expected_lines = [&](const std::string& cell, bool january_missing) {
        std::string joined_lines;
        for (const Month& m : MONTHS) {
            if (january_missing && m.month == 1) {
                for (int day = 1; day <= 31; ++day) {
                    joined_lines += "2020 1 " + std::to_string(day) + " nan\n";
                }
                continue;
            }
            const std::string input =
                cell + " " + std::to_string(m.year) + " " + std::to_string(m.month);
            EXPECT_EQ(run_program(DISCHARGE_SERIES_PATH, tree_.output, input).status, 0);
            char name[64];
            std::snprintf(name, sizeof name, "%04d%02d-%c-%c_discharge.dat", m.year, m.month,
                          cell[0], cell[2]);
            joined_lines += read_text(tree_.output / name);
            std::filesystem::remove(tree_.output / name);
        }
        return joined_lines;
    };
    // The CSV holds the same values, dated; a missing one is left empty, as
    // is one without discharge.
    const auto csv_of = [](const std::string& lines_text, const std::string& units) {
        std::string csv = "date,discharge (" + units + ")\n";
        std::istringstream lines(lines_text);
        for (int year, month, day; lines >> year >> month >> day;) {
            std::string value;
            lines >> value;
            char date[32];
            std::snprintf(date, sizeof date, "%04d-%02d-%02d,", year, month, day);
            csv += date + (value == "nan" || value.starts_with("-") ? "" : value) + "\n";
        }
        return csv;
    };
    const std::vector<std::string> arguments = {"series", "--cell", "5,4",
                                                "--cell", "2,1",    "--csv"};
    for (const bool january_missing : {false, true}) {
        std::vector<std::string> asked = arguments;
        if (january_missing) {
            for (const auto& entry : std::filesystem::directory_iterator(tree_.output)) {
                if (entry.path().string().ends_with(".csv") ||
                    entry.path().string().ends_with("_discharge.dat")) {
                    std::filesystem::remove(entry.path());
                }
            }
            std::filesystem::remove(tree_.output / month_file(MONTHS[2]));
            // No series with a hole in it, unless asked for.
            const ProcessResult refused = term(arguments);
            EXPECT_EQ(refused.status, 1);
            EXPECT_EQ(refused.errors,
                      "./202001_dailyDischarge.bin: Daily discharge data cannot open. (No such "
                      "file or directory)\n"
                      "No series written: 1 month of the selection cannot be read (--allow-gaps "
                      "writes the others, the missing days marked).\n");
            EXPECT_FALSE(std::filesystem::exists(tree_.output / "201911-202002-5-4_discharge.dat"));
            asked.insert(asked.end(), {"--allow-gaps", "--units", "m3/s"});
        }
        const ProcessResult result = term(asked);
        EXPECT_EQ(result.status, january_missing ? 1 : 0) << result.errors;
        for (const std::string cell : {"5 4", "2 1"}) {
            const std::string stem = std::string("201911-202002-") + cell[0] + "-" + cell[2];
            const std::string lines = expected_lines(cell, january_missing);
            EXPECT_EQ(read_text(tree_.output / (stem + "_discharge.dat")), lines) << cell;
            EXPECT_EQ(read_text(tree_.output / (stem + "_discharge.csv")),
                      csv_of(lines, january_missing ? "m3/s" : "m3 s-1"))
                << cell;
        }
    }
}

TEST_F(TermRun, UsageErrors) {
    const std::vector<std::string> cases[] = {
        {"images", "--range", "3000,0"},  // minimum not below maximum
        {"images", "--range", "all"},
        {"images", "--range=-3e38,3e38"},  // a span beyond the floats
        {"legend", "--range=-3e38,3e38", "legend.ppm"},
        {"images", "--jobs", "0"},
        {"images", "--scale", "0"},
        {"images", "--scale", "11"},
        {"images", "--format", "gif"},
        {"images", "--from", "2019-13"},
        {"images", "--from", "2020-02", "--to", "2019-11"},
        {"images", "--from", "2020-04"},  // after the term
        {"series"},                       // no cell
        {"slices", "--months", "0"},
        {"view", "--output", ""},
        {"series", "--cell", "0,1"},
        {"legend", "--range", "term", "legend.ppm"},  // a typed range only
        {"view", "--range", "all"},
        {"view", "--cell", "9,9"},  // outside the grid
        {"netcdf", "--cell-size", "nan"},
        {"netcdf", "--cell-size", "0"},
        {"netcdf", "--units", ""},
        {"netcdf", "--output", ""},
        {"draw"},
    };
    for (const auto& arguments : cases) {
        const ProcessResult result = run_program_with(DISCHARGE_TERM_PATH, arguments, tree_.output);
        EXPECT_EQ(result.status, 2) << arguments.back() << ": " << result.errors;
        EXPECT_EQ(result.output, "") << arguments.back();
        EXPECT_FALSE(result.errors.empty()) << arguments.back();
    }
    EXPECT_EQ(run_program_with(DISCHARGE_TERM_PATH, {"--version"}, tree_.output).output,
              "discharge_term 1.0\n");
}

// What discharge_term refuses, each with its status, its message, and
// nothing written.
TEST_F(TermRun, Refusals) {
    // January four times too long: a param.dat of a smaller grid than the run's.
    write_text(tree_.output / month_file(MONTHS[2]),
               encode_values(counting_values(31 * NCOLS * NROWS * 4)));
    const std::string long_january =
        "./202001_dailyDischarge.bin: Daily discharge data cannot open. (9920 bytes, where 31 "
        "grids of 5 x 4 cells take 2480 bytes)\n";
    const struct {
        const char* label;
        std::vector<std::string> arguments;
        int status;
        std::string errors;  // the whole standard error, or its first line
    } cases[] = {
        {"range over a month of the wrong size",
         {"range", "--from", "2019-11", "--to", "2020-02"},
         1,
         long_january + "The range of the term needs every month of it: narrow the selection "
                        "with --from and --to, or give the range with --range.\n"},
        {"series over it",
         {"series", "--cell", "1,1", "--from", "2020-01", "--to", "2020-01"},
         1,
         long_january + "No series written: 1 month of the selection cannot be read "
                        "(--allow-gaps writes the others, the missing days marked).\n"},
        {"a cell outside the grid",
         {"series", "--cell", "2,2", "--cell", "500,3"},
         2,
         "discharge_term: --cell 500,3: Column number is out of range! (the grid has 5 "
         "columns)\nRun with --help for more information.\n"},
        {"a row outside the grid",
         {"series", "--cell", "5,5"},
         2,
         "discharge_term: --cell 5,5: Row number is out of range! (the grid has 4 rows)\nRun "
         "with --help for more information.\n"},
        {"no month of the selection in the term",
         {"range", "--from", "2018-01", "--to", "2018-12"},
         2,
         "discharge_term: 2018-01 to 2018-12 is outside the simulation term, 2019-04 to "
         "2020-03.\n"},
        {"a log stretch from a typed minimum of 0",
         {"images", "--stretch", "log", "--range", "0,10"},
         2,
         "--range 0,10: a log stretch needs a minimum above 0\nRun with --help for more "
         "information.\n"},
        {"units of no annotation",
         {"images", "--units", "mm d-1"},
         2,
         "--units requires --annotate"},
        {"no such stretch",
         {"view", "--stretch", "cubic"},
         2,
         "--stretch: expects sqrt, linear or log"},
        {"no such palette",
         {"legend", "--range", "0,1", "--palette", "jet", "x.ppm"},
         2,
         "--palette: expects classic, viridis or cividis"},
        {"no workers",
         {"images", "--jobs", "0"},
         2,
         "--jobs: expects a whole number of workers from 1 to 999999999"},
    };
    for (const auto& c : cases) {
        const ProcessResult result =
            run_program_with(DISCHARGE_TERM_PATH, c.arguments, tree_.output);
        EXPECT_EQ(result.status, c.status) << c.label;
        EXPECT_EQ(result.output, "") << c.label;
        if (c.errors.ends_with("\n")) {
            EXPECT_EQ(result.errors, c.errors) << c.label;
        } else {
            EXPECT_EQ(result.errors.substr(0, result.errors.find('\n')), c.errors) << c.label;
        }
        EXPECT_FALSE(std::filesystem::exists(image_dir_)) << c.label;
        for (const auto& entry : std::filesystem::directory_iterator(tree_.output)) {
            EXPECT_TRUE(entry.path().filename().string().ends_with("_dailyDischarge.bin"))
                << c.label << ": " << entry.path();
        }
    }
}

TEST_F(TermRun, SelectionReachingPastTheTermIsTakenWithinIt) {
    // The term is the four months: a year's slice at either end of it holds
    // only the term's months of that year.
    std::string parameters = parameter_text(NCOLS, NROWS);
    parameters.replace(parameters.find("2019 2020 4 3"), 13, "2019 2020 11 2");
    write_text(tree_.root / "param.dat", parameters);
    const ProcessResult whole = run_program_with(DISCHARGE_TERM_PATH, {"range"}, tree_.output);
    ASSERT_EQ(whole.status, 0) << whole.errors;
    const struct {
        const char* from;
        const char* to;
        const char* taken;
        std::string range;
    } slices[] = {
        {"2019-01", "2019-12", "2019-11 to 2019-12", ""},
        {"2020-01", "2020-12", "2020-01 to 2020-02", "1680.5"},
        {"2019-01", "2020-12", "2019-11 to 2020-02", whole.output},
    };
    for (const auto& slice : slices) {
        const ProcessResult result = run_program_with(
            DISCHARGE_TERM_PATH, {"range", "--from", slice.from, "--to", slice.to}, tree_.output);
        EXPECT_EQ(result.status, 0) << slice.from;
        EXPECT_EQ(result.errors, std::string("discharge_term: ") + slice.from + " to " + slice.to +
                                     " reaches past the simulation term, 2019-11 to 2020-02: "
                                     "taking " +
                                     slice.taken + ".\n");
        EXPECT_TRUE(
            result.output.ends_with(slice.range + (slice.range.ends_with("\n") ? "" : "\n")))
            << slice.from << ": " << result.output;
    }
}

// A batch job gives each task a slice of the term; the slices' pages, their
// month scripts gathered into one folder, make the whole term's page, which
// a view of the whole term then finds up to date.
TEST_F(TermRun, SlicesAndTheirPagesMakeTheWholeTerm) {
    const struct {
        const char* months;
        const char* slices;
    } cuts[] = {
        {"1", "2019-11 2019-11\n2019-12 2019-12\n2020-01 2020-01\n2020-02 2020-02\n"},
        {"3", "2019-11 2020-01\n2020-02 2020-02\n"},
        {"4", "2019-11 2020-02\n"},
        {"999999999", "2019-11 2020-02\n"},
    };
    for (const auto& cut : cuts) {
        const ProcessResult result = term({"slices", "--months", cut.months});
        EXPECT_EQ(result.status, 0) << result.errors;
        EXPECT_EQ(result.output, cut.slices) << cut.months;
        EXPECT_EQ(result.errors, "") << cut.months;
    }
    const std::vector<std::string> view = {"view", "--range", "0,3000"};
    for (const auto& [from, to] : {std::pair("2019-11", "2020-01"), {"2020-02", "2020-02"}}) {
        std::vector<std::string> slice = view;
        slice.insert(slice.end(), {"--from", from, "--to", to, "--output", "slice"});
        ASSERT_EQ(run_program_with(DISCHARGE_TERM_PATH, slice, tree_.output).status, 0);
        std::filesystem::create_directories(tree_.output / "view" / "data");
        for (const auto& entry : std::filesystem::directory_iterator(tree_.output / "slice/data")) {
            if (entry.path().filename() != "term.js") {
                std::filesystem::rename(entry.path(),
                                        tree_.output / "view/data" / entry.path().filename());
            }
        }
        std::filesystem::remove_all(tree_.output / "slice");
    }
    const ProcessResult joined = term(view);
    EXPECT_EQ(joined.status, 0) << joined.errors;
    EXPECT_EQ(summary_of(joined.errors), "0 drawn, 4 up to date, 0 failed");
    std::vector<std::string> whole = view;
    whole.insert(whole.end(), {"--output", "whole"});
    EXPECT_EQ(term(whole).status, 0);
    EXPECT_EQ(files_of(tree_.output / "view" / "data"), files_of(tree_.output / "whole" / "data"));
}

TEST_F(TermRun, TwoWorkersInterruptedLeaveNoTemporary) {
    // Larger grids, so that both workers are in the middle of an image.
    write_text(tree_.root / "param.dat", parameter_text(240, 180));
    for (int i = 0; i < 4; ++i) {
        write_text(
            tree_.output / month_file(MONTHS[i]),
            encode_values(counting_values(static_cast<std::size_t>(MONTHS[i].grids) * 240 * 180)));
    }
    const std::vector<std::string> arguments = {"images", "--jobs",  "2",    "--range", "0,1000000",
                                                "--from", "2019-11", "--to", "2020-02"};
    ASSERT_EQ(run_program_with(DISCHARGE_TERM_PATH, arguments, tree_.output).status, 0);
    const std::map<std::string, std::string> reference = files_of(image_dir_);
    for (const int after_images : {5, 40, 90}) {
        std::filesystem::remove_all(image_dir_);
        const StartedProgram started =
            start_program_with(DISCHARGE_TERM_PATH, arguments, tree_.output);
        for (int wait = 0; wait < 10000; ++wait) {
            if (std::filesystem::exists(image_dir_) &&
                std::distance(std::filesystem::directory_iterator(image_dir_),
                              std::filesystem::directory_iterator()) >= after_images) {
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        kill(started.pid, SIGINT);
        const ProcessResult result = finish_program(started);
        EXPECT_NE(result.status, 0) << after_images;
        // Wine removes a Windows program's deleted files once it has ended.
        std::this_thread::sleep_for(std::chrono::milliseconds(PROGRAMS_RUN_ON_WINDOWS ? 500 : 0));
        // Every file is one of a whole run's, and but for the records (which
        // hold the images' times) byte for byte.
        for (const auto& [name, bytes] : files_of(image_dir_)) {
            ASSERT_TRUE(reference.contains(name)) << after_images << ": " << name;
            EXPECT_TRUE(name.ends_with("_range.txt") || bytes == reference.at(name))
                << after_images << ": " << name;
        }
    }
}

// An animation interrupted while it is written leaves neither its file nor
// its temporary one.
TEST_F(TermRun, AnimationInterruptedLeavesNothing) {
    write_text(tree_.root / "param.dat", parameter_text(240, 180));
    for (int i = 0; i < 4; ++i) {
        write_text(
            tree_.output / month_file(MONTHS[i]),
            encode_values(counting_values(static_cast<std::size_t>(MONTHS[i].grids) * 240 * 180)));
    }
    const auto animation_files = [this] {
        std::vector<std::string> found;
        for (const std::string& name : file_names_in(tree_.output)) {
            if (name.find("_discharge.gif") != std::string::npos) {
                found.push_back(name);
            }
        }
        return found;
    };
    const StartedProgram started = start_program_with(
        DISCHARGE_TERM_PATH,
        {"animate", "--range", "0,1000000", "--scale", "4", "--from", "2019-11", "--to", "2020-02"},
        tree_.output);
    for (int wait = 0; wait < 10000 && animation_files().empty(); ++wait) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    kill(started.pid, SIGINT);
    const ProcessResult result = finish_program(started);
    EXPECT_NE(result.status, 0) << result.errors;
    EXPECT_FALSE(result.errors.ends_with("No animation written.\n")) << result.errors;
    std::this_thread::sleep_for(std::chrono::milliseconds(PROGRAMS_RUN_ON_WINDOWS ? 500 : 0));
    EXPECT_TRUE(animation_files().empty()) << joined(animation_files());
}

// A system that gives no thread (here: one process for the user) leaves the
// months to the workers that started, or to the program's own thread: the
// same images, and a line that says so.
TEST_F(TermRun, WorkersThatCannotStartLeaveTheirMonthsToTheOthers) {
    if (const std::string why = why_no_process_limit(); !why.empty()) {
        GTEST_SKIP() << why;
    }
    ASSERT_EQ(term({"images", "--range", "0,3000"}).status, 0);
    const std::map<std::string, std::string> expected = term_images();
    std::filesystem::remove_all(image_dir_);
    for (const std::filesystem::path& folder : {tree_.root, tree_.output}) {
        std::filesystem::permissions(folder, std::filesystem::perms::all);
    }
    std::vector<std::string> arguments = {"images", "--range", "0,3000", "--jobs", "4"};
    arguments.insert(arguments.end(), SELECTION.begin(), SELECTION.end());
    const ProcessResult result =
        run_program_with_one_process(DISCHARGE_TERM_PATH, arguments, tree_.output);
    EXPECT_EQ(result.status, 0) << result.errors;
    EXPECT_TRUE(result.errors.starts_with(
        "Only 1 of 4 workers could be started (Resource temporarily unavailable): the months "
        "are drawn by 1.\n"))
        << result.errors;
    EXPECT_EQ(summary_of(result.errors), "4 drawn, 0 up to date, 0 failed");
    EXPECT_TRUE(term_images() == expected);
}

// A month read from a pipe has no size nor time to be recorded: it is never
// taken for up to date, by images nor by view.
TEST_F(TermRun, MonthFromAPipeIsNeverUpToDate) {
    SKIP_ON_WINDOWS("a FIFO as the monthly file");
    const std::string november = encode_values(month_values(0, 30));
    const std::vector<std::string> images = {"images",  "--range", "0,3000", "--from",
                                             "2019-11", "--to",    "2019-11"};
    const std::vector<std::string> view = {"view",    "--range", "0,3000", "--from",
                                           "2019-11", "--to",    "2019-11"};
    for (int run = 0; run < 2; ++run) {
        std::filesystem::remove(tree_.output / month_file(MONTHS[0]));
        FifoFeeder feeder(tree_.output / month_file(MONTHS[0]), november, 2);
        const ProcessResult drawn = run_program_with(DISCHARGE_TERM_PATH, images, tree_.output);
        EXPECT_EQ(drawn.status, 0) << drawn.errors;
        EXPECT_EQ(summary_of(drawn.errors), "1 drawn, 0 up to date, 0 failed") << run;
        const ProcessResult shown = run_program_with(DISCHARGE_TERM_PATH, view, tree_.output);
        EXPECT_EQ(shown.status, 0) << shown.errors;
        EXPECT_EQ(summary_of(shown.errors), "1 drawn, 0 up to date, 0 failed") << run;
    }
    const std::string record = read_text(image_dir_ / "201911_range.txt");
    EXPECT_NE(record.find("\ndata none\n"), std::string::npos) << record;
}

TEST_F(TermRun, RecordIsCheckedAgainstTheDataAndTheImages) {
    const std::vector<std::string> arguments = {"images", "--range", "0,3000", "--jobs", "1"};
    ASSERT_EQ(term(arguments).status, 0);
    const std::map<std::string, std::string> first = files_of(image_dir_);
    // November: an image cut short. December: its legend gone. January: its
    // data written again, as by a rerun of the simulation. February: its
    // record as Windows writes text, with CR LF line ends.
    std::filesystem::resize_file(image_dir_ / "201911_  16_discharge.ppm", 100);
    std::filesystem::remove(image_dir_ / "legend_201912.ppm");
    const std::filesystem::path january = tree_.output / month_file(MONTHS[2]);
    std::filesystem::last_write_time(
        january, std::filesystem::last_write_time(january) + std::chrono::seconds(2));
    std::string record;
    for (const char byte : read_bytes(image_dir_ / "202002_range.txt")) {
        record += byte == '\n' ? std::string("\r\n") : std::string(1, byte);
    }
    write_text(image_dir_ / "202002_range.txt", record);

    const ProcessResult result = term(arguments);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.errors.substr(0, result.errors.rfind("failed") + 6),
              "201911: 1 image drawn, 29 kept, range 0,3000\n"
              "201912: legend drawn, 31 images kept, range 0,3000\n"
              "202001: 31 images drawn, range 0,3000\n"
              "202002: up to date\n"
              "3 drawn, 1 up to date, 0 failed");
    std::map<std::string, std::string> again = files_of(image_dir_);
    for (const auto& [name, bytes] : first) {
        if (!name.ends_with("_range.txt")) {
            EXPECT_TRUE(again.at(name) == bytes) << name;
        }
    }
    EXPECT_EQ(again.size(), first.size());
    EXPECT_EQ(summary_of(term(arguments).errors), "0 drawn, 4 up to date, 0 failed");
}

TEST_F(TermRun, MonthBeingDrawnByAnotherRunIsLeftToIt) {
    // A grid large enough that the first run is still in November when it is
    // stopped, holding the month.
    write_text(tree_.root / "param.dat", parameter_text(240, 180));
    write_text(tree_.output / month_file(MONTHS[0]),
               encode_values(counting_values(std::size_t{30} * 240 * 180)));
    const std::vector<std::string> november = {"images",  "--range", "0,1000000", "--from",
                                               "2019-11", "--to",    "2019-11"};
    const StartedProgram first = start_program_with(DISCHARGE_TERM_PATH, november, tree_.output);
    for (int wait = 0;
         wait < 20000 && !std::filesystem::exists(image_dir_ / "201911_   1_discharge.ppm");
         ++wait) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    kill(first.pid, SIGSTOP);
    const ProcessResult second = run_program_with(DISCHARGE_TERM_PATH, november, tree_.output);
    kill(first.pid, SIGCONT);
    const ProcessResult finished = finish_program(first);
    EXPECT_EQ(second.status, 1);
    EXPECT_EQ(second.errors.substr(0, second.errors.rfind("failed") + 6),
              "201911: busy: another run is drawing it\n0 drawn, 0 up to date, 1 failed");
    EXPECT_EQ(finished.status, 0) << finished.errors;
    EXPECT_EQ(summary_of(run_program_with(DISCHARGE_TERM_PATH, november, tree_.output).errors),
              "0 drawn, 1 up to date, 0 failed");
}

// One run at a time writes the page: a second is refused while the first
// (here held in the middle of a month read from a pipe) writes it, and the
// first run's page is whole, its cell's series in it.
TEST_F(TermRun, ViewIsWrittenByOneRunAtATime) {
    SKIP_ON_WINDOWS("a FIFO as the monthly file");
    std::filesystem::remove(tree_.output / month_file(MONTHS[0]));
    // Read for the frames and for the cell.
    FifoFeeder feeder(tree_.output / month_file(MONTHS[0]),
                      std::vector<std::string>(2, encode_values(month_values(0, 30))), true);
    std::vector<std::string> view = {"view", "--range", "0,3000", "--cell", "3,1"};
    view.insert(view.end(), SELECTION.begin(), SELECTION.end());
    const StartedProgram first = start_program_with(DISCHARGE_TERM_PATH, view, tree_.output);
    feeder.wait_first_connection();
    const ProcessResult second = term({"view", "--range", "0,3000"});
    feeder.release();
    const ProcessResult finished = finish_program(first);
    EXPECT_EQ(second.status, 1);
    EXPECT_EQ(second.errors, "./view: busy: another run is writing the page\n");
    EXPECT_EQ(finished.status, 0) << finished.errors;
    const std::string term_script = read_text(tree_.output / "view" / "data" / "term.js");
    EXPECT_NE(term_script.find("cells: [{column: 3, row: 1, values: ["), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(tree_.output / "view" / "data" / "incomplete.js"));
}

// The page must fit the free space of ./view, reckoned before anything is
// written; a disk that fills anyway names the page's file.
TEST_F(TermRun, ViewOnAFullDiskIsRefusedOrNamesItsFile) {
    if (const std::string why = why_no_full_disk(); !why.empty()) {
        GTEST_SKIP() << why;
    }
    std::vector<std::string> view = {"view", "--range", "0,3000"};
    view.insert(view.end(), SELECTION.begin(), SELECTION.end());
    std::filesystem::create_directory(tree_.output / "view");
    ProcessResult result = run_program_on_full_disk(DISCHARGE_TERM_PATH, tree_.output, "", "view",
                                                    3, tree_.root / "left", view);
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(result.errors.starts_with("Not enough free space in ./view: the page needs about "))
        << result.errors;
    EXPECT_TRUE(result.errors.ends_with(" is free. --no-space-check writes it regardless.\n"))
        << result.errors;
    // Nothing but the folder of the data and the page's lock.
    EXPECT_EQ(file_names_in(tree_.root / "left"), (std::vector<std::string>{".lock", "data"}));
    EXPECT_TRUE(std::filesystem::is_empty(tree_.root / "left" / "data"));
    std::filesystem::remove_all(tree_.root / "left");
    view.push_back("--no-space-check");
    result = run_program_on_full_disk(DISCHARGE_TERM_PATH, tree_.output, "", "view", 3,
                                      tree_.root / "left", view);
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.errors.find(": Page output file cannot write. (No space left on device)\n"),
              std::string::npos)
        << result.errors;
}

TEST_F(TermRun, OutputsThatCannotBeReplacedFailWithTheirNames) {
    // A folder under the name of November's record, and of a series file:
    // neither can be replaced, and each failure names its file.
    std::filesystem::create_directories(image_dir_ / "201911_range.txt" / "kept");
    std::filesystem::create_directories(tree_.output / "201911-202002-1-1_discharge.csv" / "kept");
    const ProcessResult images = term({"images", "--range", "0,3000", "--jobs", "1"});
    EXPECT_EQ(images.status, 1);
    EXPECT_TRUE(
        images.errors.starts_with("201911: ./image/201911_range.txt: Image output file "
                                  "cannot write. (Is a directory)\n"))
        << images.errors;
    EXPECT_EQ(summary_of(images.errors), "3 drawn, 0 up to date, 1 failed");
    const ProcessResult series = term({"series", "--cell", "1,1", "--csv"});
    EXPECT_EQ(series.status, 1);
    EXPECT_EQ(series.errors,
              "./201911-202002-1-1_discharge.csv: Time series discharge output file cannot write. "
              "(Is a directory)\n");
    EXPECT_TRUE(std::filesystem::is_regular_file(tree_.output / "201911-202002-1-1_discharge.dat"));
}

TEST_F(TermRun, TemporariesOfAKilledRunAreRemovedWithTheirMonth) {
    std::filesystem::create_directory(image_dir_);
    const char* const left[] = {
        ".201911_   3_discharge.ppm.0123456789abcdef.tmp",  // November's: removed
        ".201911_range.txt.00000000000000ff.tmp",           // November's: removed
        ".201912_   3_discharge.ppm.0123456789abcdef.tmp",  // December's: not drawn now
        ".notes.txt.0123456789abcdef.tmp",                  // not an output of the run
    };
    for (const char* name : left) {
        write_text(image_dir_ / name, "partial");
        std::filesystem::last_write_time(
            image_dir_ / name,
            std::filesystem::file_time_type::clock::now() - std::chrono::hours(1));
    }
    const ProcessResult result = run_program_with(
        DISCHARGE_TERM_PATH,
        {"images", "--range", "0,3000", "--from", "2019-11", "--to", "2019-11"}, tree_.output);
    EXPECT_EQ(result.status, 0) << result.errors;
    for (const char* name : left) {
        EXPECT_EQ(std::filesystem::exists(image_dir_ / name),
                  std::string(name).find("201911") == std::string::npos)
            << name;
    }
}

TEST_F(TermRun, FullDiskIsReportedWithItsReason) {
    if (const std::string why = why_no_full_disk(); !why.empty()) {
        GTEST_SKIP() << why;
    }
    std::filesystem::create_directory(image_dir_);
    const ProcessResult result = run_program_on_full_disk(
        DISCHARGE_TERM_PATH, tree_.output, "", "image", 0, tree_.root / "left",
        {"images", "--range", "0,3000", "--from", "2019-11", "--to", "2019-11",
         "--no-space-check"});
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(
        result.errors.starts_with("201911: ./image/201911_   1_discharge.ppm: Image output "
                                  "file cannot write. (No space left on device)\n"))
        << result.errors;
    for (const auto& entry : std::filesystem::directory_iterator(tree_.root / "left")) {
        EXPECT_FALSE(entry.path().filename().string().ends_with(".tmp")) << entry.path();
    }
}

// A folder for the outputs that cannot be written is named once, with the
// reason, before anything else is reckoned or tried; nothing is left.
TEST_F(TermRun, ReadOnlyOutputFolderIsSaidOnce) {
    if (const std::string why = why_no_full_disk(); !why.empty()) {
        GTEST_SKIP() << why;
    }
    const struct {
        const char* folder;
        std::vector<std::string> arguments;
        std::string errors;
    } cases[] = {
        {"image",
         {"images", "--range", "0,3000"},
         "./image: Image output folder cannot be written. (Read-only file system)\n"},
        {"image",
         {"images", "--range", "0,3000", "--no-space-check", "--format", "png"},
         "./image: Image output folder cannot be written. (Read-only file system)\n"},
        {"view",
         {"view", "--range", "0,3000"},
         "./view: Page output folder cannot be written. (Read-only file system)\n"},
    };
    for (const auto& c : cases) {
        std::filesystem::remove_all(tree_.root / "left");
        std::filesystem::create_directories(tree_.output / c.folder);
        std::vector<std::string> arguments = c.arguments;
        arguments.insert(arguments.end(), SELECTION.begin(), SELECTION.end());
        const ProcessResult result = run_program_on_read_only_disk(
            DISCHARGE_TERM_PATH, tree_.output, c.folder, tree_.root / "left", arguments);
        EXPECT_EQ(result.status, 1) << c.folder;
        EXPECT_EQ(result.errors, c.errors) << c.folder;
        EXPECT_TRUE(std::filesystem::is_empty(tree_.root / "left")) << c.folder;
    }
}

TEST_F(TermRun, LegendAsPngHoldsThePixelsOfThePpm) {
    // netpbm's decoder, which knows nothing of the writer.
    if (std::system("pngtopnm -version >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "netpbm's pngtopnm is not installed";
    }
    for (const char* name : {"legend.ppm", "legend.png"}) {
        const ProcessResult result = run_program_with(
            DISCHARGE_TERM_PATH, {"legend", "--range", "-5,0.001", name}, tree_.output);
        EXPECT_EQ(result.status, 0) << name << ": " << result.errors;
    }
    EXPECT_TRUE(read_bytes(tree_.output / "legend.png").starts_with("\x89PNG\r\n\x1a\n"));
    // The extension in any case.
    ASSERT_EQ(run_program_with(DISCHARGE_TERM_PATH, {"legend", "--range", "-5,0.001", "UPPER.PNG"},
                               tree_.output)
                  .status,
              0);
    EXPECT_TRUE(read_bytes(tree_.output / "UPPER.PNG") == read_bytes(tree_.output / "legend.png"));
    const std::string decode = "pngtopnm '" + (tree_.output / "legend.png").string() + "' >'" +
                               (tree_.output / "decoded.ppm").string() + "'";
    ASSERT_EQ(std::system(decode.c_str()), 0);
    EXPECT_TRUE(read_bytes(tree_.output / "decoded.ppm") ==
                read_bytes(tree_.output / "legend.ppm"));
}

TEST_F(TermRun, PngImagesHoldThePixelsOfThePpmImagesAtEveryScale) {
    for (const char* scale : {"5", "1", "7"}) {
        std::vector<std::string> arguments = {"images", "--range", "0,3000", "--scale", scale};
        ASSERT_EQ(term(arguments).status, 0) << scale;
        const std::map<std::string, std::string> ppm = files_of(image_dir_);
        std::filesystem::remove_all(image_dir_);
        arguments.insert(arguments.end(), {"--format", "png"});
        const ProcessResult result = term(arguments);
        ASSERT_EQ(result.status, 0) << scale << ": " << result.errors;
        EXPECT_EQ(summary_of(result.errors), "4 drawn, 0 up to date, 0 failed");
        const std::map<std::string, std::string> png = files_of(image_dir_);
        // The same files, images and legends as PNG, with the same pixels.
        std::size_t decoded = 0;
        for (const auto& [name, bytes] : ppm) {
            if (!name.ends_with(".ppm")) {
                continue;
            }
            const std::string png_name = name.substr(0, name.size() - 3) + "png";
            ASSERT_TRUE(png.contains(png_name)) << png_name;
            const Decoded image = decode_png(png.at(png_name));
            const std::string header = "P6\n" + std::to_string(image.width) + " " +
                                       std::to_string(image.height) + "\n255\n";
            EXPECT_TRUE(header + image.rgb == bytes) << png_name;
            ++decoded;
        }
        EXPECT_EQ(decoded, 120U + 4U);
        EXPECT_EQ(png.size(), ppm.size());
        // Independent tools where the machine has them: netpbm's decoder and
        // pngcheck's validation.
        const std::string day = (image_dir_ / "202002_  28_discharge.png").string();
        if (std::system("pngtopnm -version >/dev/null 2>&1") == 0) {
            const std::string decode =
                "pngtopnm '" + day + "' >'" + (tree_.output / "decoded.ppm").string() + "'";
            ASSERT_EQ(std::system(decode.c_str()), 0);
            EXPECT_TRUE(read_bytes(tree_.output / "decoded.ppm") ==
                        ppm.at("202002_  28_discharge.ppm"));
        }
        if (std::system("pngcheck -q /dev/null >/dev/null 2>&1; test $? -ne 127") == 0) {
            const std::string check = "pngcheck -q '" +
                                      (image_dir_ / "legend_202002.png").string() + "' '" + day +
                                      "' >/dev/null";
            EXPECT_EQ(std::system(check.c_str()), 0);
        }
        std::filesystem::remove_all(image_dir_);
    }
}

// A log stretch places no zero: where the smallest value found is 0 it
// begins at the smallest above 0, and says so, for the term and for each
// month's own range.
TEST_F(TermRun, LogStretchBeginsAboveZero) {
    std::vector<float> november = month_values(0, MONTHS[0].grids);
    november[0] = 0.0F;
    write_text(tree_.output / month_file(MONTHS[0]), encode_values(november));
    const ProcessResult range = term({"range", "--stretch", "log"});
    EXPECT_EQ(range.status, 0);
    EXPECT_EQ(range.output, "2,1680.5\n");
    EXPECT_EQ(range.errors,
              "The term's minimum is 0: the log stretch begins at the smallest discharge above "
              "0, 2.\n");
    EXPECT_EQ(term({"range"}).output, "0,1680.5\n");
    const ProcessResult images =
        term({"images", "--stretch", "log", "--range", "month", "--jobs", "1"});
    EXPECT_EQ(images.status, 0);
    EXPECT_TRUE(
        images.errors.starts_with("201911: the month's minimum is 0: the log stretch "
                                  "begins at the smallest discharge above 0, 2.\n"))
        << images.errors;
    EXPECT_TRUE(read_text(image_dir_ / "201911_range.txt").starts_with("2,"));
}

TEST_F(TermRun, ResumingKnowsTheFormatTheScaleAndTheColours) {
    const std::vector<std::string> ppm = {"images", "--range", "0,3000", "--jobs", "1"};
    std::vector<std::string> png = ppm;
    png.insert(png.end(), {"--format", "png"});
    std::vector<std::string> png_at_3 = png;
    png_at_3.insert(png_at_3.end(), {"--scale", "3"});
    ASSERT_EQ(term(ppm).status, 0);
    // Another format or scale redraws every month; the same is up to date.
    EXPECT_EQ(summary_of(term(png).errors), "4 drawn, 0 up to date, 0 failed");
    EXPECT_EQ(summary_of(term(png).errors), "0 drawn, 4 up to date, 0 failed");
    EXPECT_EQ(summary_of(term(png_at_3).errors), "4 drawn, 0 up to date, 0 failed");
    const std::string record = read_text(image_dir_ / "201911_range.txt");
    EXPECT_NE(record.find("\nimages png 3 0\n"), std::string::npos) << record;
    // A PNG has no fixed size: one cut short is found by its recorded size.
    std::filesystem::resize_file(image_dir_ / "201911_   3_discharge.png", 100);
    const ProcessResult result = term(png_at_3);
    EXPECT_EQ(result.status, 0);
    EXPECT_TRUE(result.errors.starts_with("201911: 1 image drawn, 29 kept, range 0,3000\n"))
        << result.errors;
    EXPECT_EQ(summary_of(term(ppm).errors), "4 drawn, 0 up to date, 0 failed");
    // So does another stretch or palette; a record of older runs, without
    // the colours, is of the square root and the classic palette.
    std::vector<std::string> log = {"images", "--range",   "0.5,3000", "--jobs",
                                    "1",      "--stretch", "log"};
    std::vector<std::string> viridis = log;
    viridis.insert(viridis.end(), {"--palette", "viridis"});
    EXPECT_EQ(summary_of(term(log).errors), "4 drawn, 0 up to date, 0 failed");
    EXPECT_EQ(summary_of(term(viridis).errors), "4 drawn, 0 up to date, 0 failed");
    EXPECT_EQ(summary_of(term(viridis).errors), "0 drawn, 4 up to date, 0 failed");
    EXPECT_NE(read_text(image_dir_ / "201911_range.txt").find("\ncolours log viridis\n"),
              std::string::npos);
    ASSERT_EQ(term(ppm).status, 0);
    std::string old = read_text(image_dir_ / "201911_range.txt");
    old.erase(old.find("colours sqrt classic\n"), 21);
    write_text(image_dir_ / "201911_range.txt", old);
    EXPECT_TRUE(term(ppm).errors.starts_with("201911: up to date\n"));
}

// Before drawing, the images must fit the free space of ./image: here a
// month of 5 x 4 cells, 30 images of one 4 KiB block each, a legend of 39
// blocks, the record and one image under way take 71 blocks; placed frames
// their world and auxiliary files besides.
TEST_F(TermRun, SpaceCheckRefusesWhatCannotFitAndNoMore) {
    if (const std::string why = why_no_full_disk(); !why.empty()) {
        GTEST_SKIP() << why;
    }
    const struct {
        std::size_t free_pages;
        std::vector<std::string> options;
        int status;
        std::string errors;  // its first line
    } cases[] = {
        {70,
         {},
         1,
         "Not enough free space in ./image: the images need 291 kB (290816 bytes) and 287 kB "
         "(286720 bytes) is free. As PNG (--format png) they take a small part of it; "
         "--no-space-check draws regardless."},
        {71, {}, 0, "201911: 30 images drawn, range 0,3000"},
        {70, {"--no-space-check"}, 0, "201911: 30 images drawn, range 0,3000"},
        // As PNG, reckoned from the first day drawn in memory: 30 images of a
        // block, a legend of 6 blocks, the record and one image under way.
        {37,
         {"--format", "png"},
         1,
         "Not enough free space in ./image: the images need about 156 kB (155648 bytes), "
         "reckoned from 1 day drawn in advance, and 152 kB (151552 bytes) is free. A smaller "
         "--scale takes less; --no-space-check draws regardless."},
        {38, {"--format", "png"}, 0, "201911: 30 images drawn, range 0,3000"},
        // Placed, each frame has a world file and an auxiliary file of a
        // block each.
        {97,
         {"--format", "png", "--cell-size", "0.5"},
         1,
         "Not enough free space in ./image: the images need about 401 kB (401408 bytes), "
         "reckoned from 1 day drawn in advance, and 397 kB (397312 bytes) is free. A smaller "
         "--scale takes less; --no-space-check draws regardless."},
        {98, {"--format", "png", "--cell-size", "0.5"}, 0, "201911: 30 images drawn, range 0,3000"},
        {37,
         {"--format", "png", "--scale", "1"},
         1,
         "Not enough free space in ./image: the images need about 156 kB (155648 bytes), "
         "reckoned from 1 day drawn in advance, and 152 kB (151552 bytes) is free. Fewer months "
         "at a time (--from, --to) take less; --no-space-check draws regardless."},
    };
    for (const auto& c : cases) {
        std::filesystem::remove_all(image_dir_);
        std::filesystem::remove_all(tree_.root / "left");
        std::filesystem::create_directory(image_dir_);
        std::vector<std::string> arguments = {"images",  "--range", "0,3000", "--from",
                                              "2019-11", "--to",    "2019-11"};
        arguments.insert(arguments.end(), c.options.begin(), c.options.end());
        const ProcessResult result =
            run_program_on_full_disk(DISCHARGE_TERM_PATH, tree_.output, "", "image", c.free_pages,
                                     tree_.root / "left", arguments);
        EXPECT_EQ(result.status, c.status) << c.free_pages;
        EXPECT_EQ(result.errors.substr(0, result.errors.find('\n')), c.errors) << c.free_pages;
        const bool placed = c.options.size() > 2 && c.options[2] == "--cell-size";
        EXPECT_EQ(file_names_in(tree_.root / "left").size(),
                  c.status == 0 ? (placed ? 93U : 33U) : 0U)
            << c.free_pages;
    }
}

// The first days, drawn in advance, may take less than the others: the
// space is checked again before each month, at the size the images drawn so
// far take, and the run stops before the disk is full, the months it drew
// complete. Here the first day of each month is one colour, the others noise.
TEST_F(TermRun, SpaceIsCheckedAgainAsTheMonthsAreDrawn) {
    if (const std::string why = why_no_full_disk(); !why.empty()) {
        GTEST_SKIP() << why;
    }
    constexpr int ncols = 60;
    constexpr int nrows = 40;
    write_text(tree_.root / "param.dat", parameter_text(ncols, nrows));
    std::mt19937 random(20261209);
    std::uniform_real_distribution<float> noise(0.0F, 3000.0F);
    for (const Month& m : MONTHS) {
        std::vector<float> values(static_cast<std::size_t>(m.grids) * ncols * nrows, 1000.0F);
        for (std::size_t i = ncols * nrows; i < values.size(); ++i) {
            values[i] = noise(random);
        }
        write_text(tree_.output / month_file(m), encode_values(values));
    }
    std::filesystem::create_directory(image_dir_);
    std::vector<std::string> arguments = {"images",  "--range", "0,3000", "--format", "png",
                                          "--scale", "10",      "--jobs", "1"};
    arguments.insert(arguments.end(), SELECTION.begin(), SELECTION.end());
    const ProcessResult result = run_program_on_full_disk(
        DISCHARGE_TERM_PATH, tree_.output, "", "image", 200, tree_.root / "left", arguments);
    EXPECT_EQ(result.status, 1);
    const std::vector<std::string> lines = tokens_of_lines(result.errors);
    ASSERT_EQ(lines.size(), 6U) << result.errors;
    EXPECT_EQ(lines[0], "201911: 30 images drawn, range 0,3000");
    EXPECT_TRUE(
        lines[1].starts_with("Not enough free space in ./image to go on: the 90 images "
                             "left need about "))
        << lines[1];
    EXPECT_TRUE(
        lines[1].ends_with(" is free. The months drawn are complete: free some space "
                           "and run again to draw the rest (--no-space-check draws "
                           "regardless)."))
        << lines[1];
    for (std::size_t i = 2; i < 5; ++i) {
        EXPECT_TRUE(lines[i].ends_with(": not drawn: not enough free space in ./image"))
            << lines[i];
    }
    EXPECT_EQ(lines[5].substr(0, lines[5].find(" in ")), "1 drawn, 0 up to date, 3 failed");
    // November whole, with its legend, record and lock, and nothing else.
    EXPECT_EQ(file_names_in(tree_.root / "left").size(), 33U);
}

TEST_F(TermRun, SpaceCheckComesBeforeAnythingIsReadOrDrawn) {
    // A grid whose month of images no disk holds: refused on every system
    // before its monthly file (of another grid here) is opened.
    write_text(tree_.root / "param.dat", parameter_text(60000, 60000));
    const ProcessResult result = run_program_with(
        DISCHARGE_TERM_PATH,
        {"images", "--range", "0,1", "--scale", "10", "--from", "2019-11", "--to", "2019-11"},
        tree_.output);
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(
        result.errors.starts_with("Not enough free space in ./image: the images need "
                                  "33.5 TB (33480000290816 bytes) and "))
        << result.errors;
    EXPECT_TRUE(file_names_in(image_dir_).empty());
}

// The NetCDF file: what each run says, and a file only when every month is
// in it. Its contents are checked by the field's own tools
// (tests/netcdf_check.sh); a build without the netCDF library says so.
TEST_F(TermRun, NetcdfIsWrittenWholeOrNotAtAll) {
    const std::string file = "201911-202002_discharge.nc";
    const ProcessResult written = term({"netcdf", "--leap-day"});
    if (written.status == 2) {
        EXPECT_EQ(written.errors,
                  "discharge_term: this build has no NetCDF support: it was built without the "
                  "netCDF C library.\n");
        EXPECT_FALSE(std::filesystem::exists(tree_.output / file));
        return;
    }
    EXPECT_EQ(written.status, 0) << written.errors;
    EXPECT_EQ(written.errors.substr(0, written.errors.rfind(" in ")),
              "201911: written\n201912: written\n202001: written\n202002: written\n"
              "./201911-202002_discharge.nc: 4 months, 121 days, written");
    // NetCDF-4 is an HDF5 file; the classic format with 64-bit offsets,
    // where the library has no HDF5, begins "CDF\2".
    const std::string bytes = read_bytes(tree_.output / file);
    EXPECT_TRUE(bytes.starts_with("\x89HDF\r\n\x1a\n") || bytes.starts_with("CDF\x02"));
    const ProcessResult nowhere = term({"netcdf", "--output", "nowhere/x.nc"});
    EXPECT_EQ(nowhere.status, 1);
    EXPECT_EQ(nowhere.errors,
              "nowhere/x.nc: NetCDF output file cannot open. (No such file or directory)\n");

    write_text(tree_.output / "202001_dailyDischarge.bin",
               encode_values(month_values(2, 31)).substr(4));
    const struct {
        const char* label;
        std::vector<std::string> arguments;
        int status;
        std::string errors;
    } cases[] = {
        {"cells beyond the pole",
         {"netcdf", "--cell-size", "20", "--output", "cells.nc"},
         2,
         "discharge_term: --cell-size 20 does not fit the grid of 5 x 4 cells from latitude "
         "34.25, longitude 135.5: it would span latitudes 34.25 to 114.25 and 100 degrees of "
         "longitude.\n"},
        {"the output onto a month",
         {"netcdf", "--output", "201912_dailyDischarge.bin"},
         2,
         "discharge_term: --output 201912_dailyDischarge.bin names an input of the simulation "
         "run, which the NetCDF file would replace.\n"},
        {"a short month",
         {"netcdf", "--output", "short.nc"},
         1,
         "./202001_dailyDischarge.bin: Daily discharge data cannot open. (2476 bytes, where 31 "
         "grids of 5 x 4 cells take 2480 bytes)\nNo NetCDF file written: every month of the "
         "selection is needed.\n"},
    };
    for (const auto& c : cases) {
        const ProcessResult result = term(c.arguments);
        EXPECT_EQ(result.status, c.status) << c.label;
        EXPECT_EQ(result.errors, c.errors) << c.label;
        EXPECT_EQ(result.output, "") << c.label;
    }
    EXPECT_EQ(read_bytes(tree_.output / "201912_dailyDischarge.bin"),
              encode_values(month_values(1, 31)));
    EXPECT_EQ(
        file_names_in(tree_.output),
        (std::vector<std::string>{file, "201911_dailyDischarge.bin", "201912_dailyDischarge.bin",
                                  "202001_dailyDischarge.bin", "202002_dailyDischarge.bin"}));
}

// The disk fills while the file is defined (up to 2 pages free here) or,
// in NetCDF-4, while its days are written (3 and 4; the classic format's
// 10 kB fit there): each time the reason is said and nothing is left, and the
// libraries are not asked to close what they cannot.
TEST_F(TermRun, NetcdfOnAFullDiskLeavesNothing) {
    if (const std::string why = why_no_full_disk(); !why.empty()) {
        GTEST_SKIP() << why;
    }
    std::filesystem::create_directory(tree_.output / "out");
    for (const std::size_t free_pages : {0, 1, 2, 3, 4}) {
        std::filesystem::remove_all(tree_.root / "left");
        const ProcessResult result = run_program_on_full_disk(
            DISCHARGE_TERM_PATH, tree_.output, "", "out", free_pages, tree_.root / "left",
            {"netcdf", "--from", "2019-11", "--to", "2020-02", "--output", "out/term.nc"});
        if (result.status == 2) {
            GTEST_SKIP() << "no NetCDF support in this build";
        }
        if (result.status == 0 && free_pages >= 3) {
            EXPECT_EQ(file_names_in(tree_.root / "left"), std::vector<std::string>{"term.nc"});
            continue;
        }
        EXPECT_EQ(result.status, 1) << free_pages;
        EXPECT_TRUE(result.errors.ends_with(
            "out/term.nc: NetCDF output file cannot write. (No space left on device)\n"))
            << free_pages << ": " << result.errors;
        EXPECT_TRUE(std::filesystem::is_empty(tree_.root / "left")) << result.errors;
    }
}

// The animation: every Nth day of the selection, counted across its months,
// a frame each, in one GIF that appears whole.
TEST_F(TermRun, AnimationHoldsEveryNthDayOfTheSelection) {
    const std::string file = "201911-202002_discharge.gif";
    const ProcessResult result = term({"animate", "--range", "0,3000", "--every", "10"});
    EXPECT_EQ(result.status, 0) << result.errors;
    // 30 + 31 + 31 + 28 days: the 1st, 11th, 21st, ... of the selection.
    const std::vector<std::string> lines = tokens_of_lines(result.errors);
    ASSERT_EQ(lines.size(), 5U) << result.errors;
    EXPECT_EQ(lines[0], "201911: 3 frames");
    EXPECT_EQ(lines[1], "201912: 4 frames");
    EXPECT_EQ(lines[2], "202001: 3 frames");
    EXPECT_EQ(lines[3], "202002: 2 frames");
    const std::string bytes = read_bytes(tree_.output / file);
    const std::string head =
        std::string("./").append(file).append(": 12 frames of 327 x 86 pixels, ");
    const std::string size =
        std::string("(").append(std::to_string(bytes.size())).append(" bytes)");
    EXPECT_TRUE(lines[4].starts_with(head)) << lines[4];
    EXPECT_NE(lines[4].find(size), std::string::npos) << lines[4];
    EXPECT_TRUE(bytes.starts_with("GIF89a"));
    EXPECT_TRUE(bytes.ends_with(";"));
}

TEST_F(TermRun, AnimationIsWrittenWholeOrNotAtAll) {
    const struct {
        const char* label;
        std::vector<std::string> arguments;
        int status;
        std::string errors;  // the end of standard error
    } cases[] = {
        {"a folder that is not there",
         {"animate", "--output", "missing/term.gif"},
         1,
         "missing/term.gif: Animation output file cannot open. (No such file or directory)\n"},
        {"the run's own input",
         {"animate", "--output", "../param.dat"},
         2,
         "discharge_term: --output ../param.dat names an input of the simulation run, which the "
         "animation would replace.\n"},
        {"no frame rate",
         {"animate", "--fps", "0"},
         2,
         "--fps: expects a number of frames a second above 0, at most 100\nRun with --help for "
         "more information.\n"},
    };
    for (const auto& c : cases) {
        const ProcessResult result = term(c.arguments);
        EXPECT_EQ(result.status, c.status) << c.label;
        EXPECT_TRUE(result.errors.ends_with(c.errors)) << c.label << ": " << result.errors;
    }
    // A month short of its days: no animation at all.
    write_text(tree_.output / month_file(MONTHS[2]), "short");
    const ProcessResult short_month = term({"animate", "--range", "0,3000"});
    EXPECT_EQ(short_month.status, 1);
    EXPECT_EQ(short_month.errors,
              "./202001_dailyDischarge.bin: Daily discharge data cannot open. (5 bytes, where 31 "
              "grids of 5 x 4 cells take 2480 bytes)\nNo animation written: every month of the "
              "selection is needed.\n");
    EXPECT_FALSE(std::filesystem::exists(tree_.output / "201911-202002_discharge.gif"));
    EXPECT_EQ(file_names_in(tree_.output).size(), 4U);  // the months' files, nothing left
    // A grid whose frames a GIF cannot hold, refused before anything is read.
    write_text(tree_.root / "param.dat", parameter_text(7000, NROWS));
    const ProcessResult large = term({"animate", "--scale", "10"});
    EXPECT_EQ(large.status, 2);
    EXPECT_EQ(large.errors,
              "discharge_term: the frames of 7000 x 4 cells at --scale 10 are larger than a GIF "
              "holds (65535 pixels a side).\n");
}

TEST_F(TermRun, AnimationOnAFullDiskLeavesNothing) {
    if (const std::string why = why_no_full_disk(); !why.empty()) {
        GTEST_SKIP() << why;
    }
    std::filesystem::create_directory(tree_.output / "out");
    const struct {
        std::vector<std::string> options;
        std::string errors;  // the end of standard error
    } cases[] = {
        {{},
         " is free. A smaller --scale or a larger --every takes less; --no-space-check "
         "writes regardless.\n"},
        {{"--no-space-check"},
         "out/term.gif: Animation output file cannot write. (No space left on device)\nNo "
         "animation written.\n"},
    };
    for (const auto& c : cases) {
        std::filesystem::remove_all(tree_.root / "left");
        std::vector<std::string> arguments = {"animate", "--range",  "0,3000",       "--scale",
                                              "10",      "--output", "out/term.gif", "--from",
                                              "2019-11", "--to",     "2020-02"};
        arguments.insert(arguments.end(), c.options.begin(), c.options.end());
        const ProcessResult result = run_program_on_full_disk(
            DISCHARGE_TERM_PATH, tree_.output, "", "out", 2, tree_.root / "left", arguments);
        EXPECT_EQ(result.status, 1);
        EXPECT_TRUE(result.errors.ends_with(c.errors)) << result.errors;
        EXPECT_TRUE(std::filesystem::is_empty(tree_.root / "left")) << result.errors;
    }
}

// Annotated frames: of a fixed size as PPM, recorded with their units, and
// drawn again when the units change.
TEST_F(TermRun, AnnotatedFramesAreRecordedWithTheirUnits) {
    const std::vector<std::string> annotated = {"images", "--range", "0,3000",
                                                "--jobs", "1",       "--annotate"};
    ASSERT_EQ(term(annotated).status, 0);
    // 327 x (82 + 20) pixels: the band above a map of 25 x 20.
    const std::string image = read_bytes(image_dir_ / "201911_   1_discharge.ppm");
    EXPECT_TRUE(image.starts_with("P6\n327 102\n255\n")) << image.substr(0, 16);
    EXPECT_EQ(image.size(), 15U + 327U * 102U * 3U);
    EXPECT_NE(read_text(image_dir_ / "201911_range.txt").find("\nannotation m3 s-1\n"),
              std::string::npos);
    EXPECT_TRUE(term(annotated).errors.starts_with("201911: up to date\n"));
    std::vector<std::string> other_units = annotated;
    other_units.insert(other_units.end(), {"--units", "mm d-1"});
    EXPECT_TRUE(term(other_units).errors.starts_with("201911: 30 images drawn, range 0,3000\n"));
    EXPECT_EQ(term({"images", "--annotate", "--units", "m3\ns-1"}).status, 2);
}

// The gauges: scores and hydrographs written for a pair of files, and every
// fault of the files a usage error that writes nothing.
TEST_F(TermRun, GaugesAreScoredAndTheirFaultsWriteNothing) {
    write_text(tree_.root / "gauges.csv",
               "id,name,column,row\r\nA<1,\"x, y\",2,3\r\nB/..,z,5,4\r\n");
    std::string observed = "date,A<1,B/..,C\n";
    for (int day = 1; day <= 30; ++day) {
        observed.append("2019-11-").append(day < 10 ? "0" : "").append(std::to_string(day));
        observed.append(",").append(std::to_string(day * 3)).append(",NA,1\n");
    }
    write_text(tree_.root / "observed.csv", observed);
    const std::vector<std::string> arguments = {"gauges", "--gauges", "../gauges.csv", "--observed",
                                                "../observed.csv"};
    const ProcessResult result = term(arguments);
    EXPECT_EQ(result.status, 0) << result.errors;
    EXPECT_TRUE(result.errors.starts_with(
        "discharge_term: ../observed.csv: the column \"C\" is of no gauge of ../gauges.csv: it is "
        "left out.\n"))
        << result.errors;
    EXPECT_EQ(file_names_in(tree_.output / "gauges"),
              (std::vector<std::string>{"A%3C1.csv", "A%3C1.svg", "B%2F%2E%2E.csv",
                                        "B%2F%2E%2E.svg", "index.html", "metrics.csv"}));
    const std::string metrics = read_text(tree_.output / "gauges" / "metrics.csv");
    EXPECT_TRUE(
        metrics.starts_with("id,column,row,days,nse,log_nse,kge,r,alpha,beta,kge_prime,"
                            "gamma,pbias,rmse,mean_sim,mean_obs\nA<1,2,3,25,"))
        << metrics;
    EXPECT_NE(metrics.find("\nB/..,5,4,0,,,,,,,,,,,,\n"), std::string::npos) << metrics;
    const struct {
        const char* file;
        std::string text;
        std::string errors;
    } faults[] = {
        {"observed.csv", "date,A<1\n2019-11-31,3\n", "\"2019-11-31\" is not a date (YYYY-MM-DD)"},
        {"gauges.csv", "id,column,row\nA,6,1\n", "Column number is out of range!"},
        {"gauges.csv", "id,column,row\nA,1,1\nA,2,2\n", "is given twice"},
        {"gauges.csv", "id,column,row\nCON,1,1\n_CON,2,2\n",
         "\"CON\" and \"_CON\" would both be written as _CON.csv: give them other ids."},
        {"gauges.csv", "id,column,row\n" + std::string(67, '/') + ",1,1\n",
         "would be written as a file name of 201 bytes, more than 200 (a byte other than A-Z, "
         "a-z, 0-9, - and _ takes 3): give it a shorter id."},
    };
    for (const auto& f : faults) {
        std::filesystem::remove_all(tree_.output / "gauges");
        const std::string kept = read_text(tree_.root / f.file);
        write_text(tree_.root / f.file, f.text);
        const ProcessResult fault = term(arguments);
        EXPECT_EQ(fault.status, 2) << f.text;
        EXPECT_NE(fault.errors.find(f.errors), std::string::npos) << fault.errors;
        EXPECT_FALSE(std::filesystem::exists(tree_.output / "gauges"));
        write_text(tree_.root / f.file, kept);
    }
    // A month that cannot be read: nothing written.
    write_text(tree_.output / month_file(MONTHS[1]), "short");
    const ProcessResult short_month = term(arguments);
    EXPECT_EQ(short_month.status, 1);
    EXPECT_TRUE(short_month.errors.ends_with(
        "No gauge outputs written: 1 month of the selection cannot be read (--allow-gaps counts "
        "their days as missing).\n"))
        << short_month.errors;
    EXPECT_FALSE(std::filesystem::exists(tree_.output / "gauges"));
}

// An observed 29 February is paired with the 29th grid where February's file
// holds one, and left out where it holds 28, as the simulation's calendar
// then has no such day.
TEST_F(TermRun, GaugesPairTheLeapDayOnlyWhereFebruaryHoldsIt) {
    write_text(tree_.root / "gauges.csv", "id,column,row\nG,2,3\n");
    write_text(tree_.root / "observed.csv", "date,G\n2020-02-27,1\n2020-02-28,2\n2020-02-29,5\n");
    const std::vector<std::string> arguments = {
        "gauges", "--gauges", "../gauges.csv", "--observed", "../observed.csv",
        "--from", "2020-02",  "--to",          "2020-02"};
    const auto simulated = [](const std::vector<float>& values, int day) {
        char text[32];
        const float value =
            values[static_cast<std::size_t>(day - 1) * NCOLS * NROWS + 2 * NCOLS + 1];
        return std::string(text, std::to_chars(text, text + sizeof text, value).ptr);
    };
    for (const int grids : {29, 28}) {
        const std::vector<float> values = month_values(3, grids);
        write_text(tree_.output / month_file(MONTHS[3]), encode_values(values));
        std::filesystem::remove_all(tree_.output / "gauges");
        const ProcessResult result = run_program_with(DISCHARGE_TERM_PATH, arguments, tree_.output);
        ASSERT_EQ(result.status, 0) << result.errors;
        const std::string csv = read_text(tree_.output / "gauges" / "G.csv");
        std::string tail = "2020-02-27," + simulated(values, 27) + ",1\n2020-02-28," +
                           simulated(values, 28) + ",2\n";
        if (grids == 29) {
            tail.append("2020-02-29,").append(simulated(values, 29)).append(",5\n");
        }
        EXPECT_TRUE(csv.ends_with(tail)) << grids << " grids:\n" << csv;
        EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 1 + grids);
        const std::string metrics = read_text(tree_.output / "gauges" / "metrics.csv");
        EXPECT_NE(metrics.find("\nG,2,3," + std::to_string(grids - 26) + ","), std::string::npos)
            << metrics;
    }
}

// PNG frames placed on the globe: a world file and GDAL's auxiliary file
// beside each, written again where missing in a month up to date, removed
// where a frame is drawn anew without placement; PPM frames and cells off the
// globe refused.
TEST_F(TermRun, PlacedFramesHaveWorldFiles) {
    const std::vector<std::string> placed = {"images", "--format", "png", "--cell-size", "0.125"};
    const ProcessResult result = term(placed);
    ASSERT_EQ(result.status, 0) << result.errors;
    // 5 pixels a cell of 0.125 degrees; the top-left pixel's centre half a
    // pixel in from the corner, 135.5 east and 34.25 + 4 x 0.125 north.
    const std::string world = "0.025\n0\n0\n-0.025\n135.5125\n34.7375\n";
    const std::string image = "201912_  31_discharge";
    EXPECT_EQ(read_text(image_dir_ / (image + ".pgw")), world);
    const std::string aux = read_text(image_dir_ / (image + ".png.aux.xml"));
    EXPECT_TRUE(aux.starts_with("<PAMDataset>\n  <SRS dataAxisToSRSAxisMapping=\"2,1\">GEOGCS["))
        << aux;
    EXPECT_NE(aux.find("AUTHORITY[\"EPSG\",\"4326\"]]</SRS>\n</PAMDataset>\n"), std::string::npos);
    // Each day its image and two files, each month its legend, record and lock.
    EXPECT_EQ(file_names_in(image_dir_).size(), (30U + 31 + 31 + 28) * 3 + 4 * 3);

    std::filesystem::remove(image_dir_ / (image + ".pgw"));
    const ProcessResult again = term(placed);
    EXPECT_EQ(summary_of(again.errors), "0 drawn, 4 up to date, 0 failed") << again.errors;
    EXPECT_EQ(read_text(image_dir_ / (image + ".pgw")), world);

    const ProcessResult plain = term({"images", "--format", "png", "--force"});
    ASSERT_EQ(plain.status, 0) << plain.errors;
    EXPECT_FALSE(std::filesystem::exists(image_dir_ / (image + ".pgw")));
    EXPECT_FALSE(std::filesystem::exists(image_dir_ / (image + ".png.aux.xml")));

    const ProcessResult ppm = term({"images", "--cell-size", "0.125"});
    EXPECT_EQ(ppm.status, 2);
    EXPECT_EQ(ppm.errors,
              "discharge_term: --cell-size places PNG frames, with a world file beside each: add "
              "--format png.\n");
    const ProcessResult off = term({"images", "--format", "png", "--cell-size", "20"});
    EXPECT_EQ(off.status, 2);
    EXPECT_NE(off.errors.find("--cell-size 20 does not fit the grid of 5 x 4 cells"),
              std::string::npos)
        << off.errors;
}
