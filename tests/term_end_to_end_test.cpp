// Whole runs of discharge_term in temporary run trees, against the two
// programs themselves: its images and series must be theirs, byte for byte.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <thread>

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

class TermRun : public ::testing::Test {
  protected:
    void SetUp() override {
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
        EXPECT_TRUE(result.errors.ends_with("4 drawn, 0 up to date, 0 failed\n")) << result.errors;
        EXPECT_TRUE(term_images() == reference) << arguments.back();
        // Each month's legend is the legend of its recorded range.
        const std::string recorded = read_text(image_dir_ / "202002_range.txt");
        EXPECT_EQ(run_program_with(
                      DISCHARGE_TERM_PATH,
                      {"legend", "--range", recorded.substr(0, recorded.size() - 1), "legend.ppm"},
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
    EXPECT_EQ(read_text(image_dir_ / "201912_range.txt"), "0,3000\n");
    const auto written = [&](const char* name) {
        return std::filesystem::last_write_time(image_dir_ / name);
    };
    const auto untouched = written("202002_  28_discharge.ppm");
    std::this_thread::sleep_for(std::chrono::milliseconds(20));

    std::filesystem::remove(image_dir_ / "201911_   5_discharge.ppm");
    write_text(image_dir_ / "201912_range.txt", "0,2000\n");
    const ProcessResult result = term({"images", "--range", "0,3000"});
    EXPECT_EQ(result.status, 0);
    EXPECT_TRUE(result.errors.ends_with("2 drawn, 2 up to date, 0 failed\n")) << result.errors;
    EXPECT_TRUE(std::filesystem::exists(image_dir_ / "201911_   5_discharge.ppm"));
    EXPECT_EQ(read_text(image_dir_ / "201912_range.txt"), "0,3000\n");
    EXPECT_EQ(written("202002_  28_discharge.ppm"), untouched);

    EXPECT_TRUE(term({"images", "--range", "0,3000", "--force"})
                    .errors.ends_with("4 drawn, 0 up to date, 0 failed\n"));
    EXPECT_NE(written("202002_  28_discharge.ppm"), untouched);
}

TEST_F(TermRun, MissingOrShortMonth) {
    std::filesystem::remove(tree_.output / month_file(MONTHS[1]));
    write_text(tree_.output / month_file(MONTHS[2]), "short");
    const std::string named =
        "./201912_dailyDischarge.bin: Daily discharge data cannot open.\n"
        "./202001_dailyDischarge.bin: Daily discharge data cannot open.\n";
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
    EXPECT_TRUE(typed.errors.find("201912: " + named.substr(0, 63)) != std::string::npos)
        << typed.errors;
    EXPECT_TRUE(typed.errors.ends_with("2 drawn, 0 up to date, 2 failed\n")) << typed.errors;
    EXPECT_EQ(term_images().size(), 30U + 28U);
}

TEST_F(TermRun, SeriesAreTheMonthsSeriesJoined) {
    std::filesystem::remove(tree_.output / month_file(MONTHS[2]));
    const ProcessResult result = term({"series", "--cell", "5,4", "--cell", "2,1", "--csv"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.errors, "./202001_dailyDischarge.bin: Daily discharge data cannot open.\n");
    for (const std::string cell : {"5 4", "2 1"}) {
        std::string joined_lines;
        for (const Month& m : {MONTHS[0], MONTHS[1], MONTHS[3]}) {
            const std::string input =
                cell + " " + std::to_string(m.year) + " " + std::to_string(m.month);
            ASSERT_EQ(run_program(DISCHARGE_SERIES_PATH, tree_.output, input).status, 0);
            char name[64];
            std::snprintf(name, sizeof name, "%04d%02d-%c-%c_discharge.dat", m.year, m.month,
                          cell[0], cell[2]);
            joined_lines += read_text(tree_.output / name);
        }
        const std::string stem = std::string("201911-202002-") + cell[0] + "-" + cell[2];
        EXPECT_EQ(read_text(tree_.output / (stem + "_discharge.dat")), joined_lines);
        // The CSV holds the same values, dated.
        std::string csv = "date,discharge\n";
        std::istringstream lines(joined_lines);
        for (int year, month, day; lines >> year >> month >> day;) {
            std::string value;
            lines >> value;
            char date[32];
            std::snprintf(date, sizeof date, "%04d-%02d-%02d,", year, month, day);
            csv += date + value + "\n";
        }
        EXPECT_EQ(read_text(tree_.output / (stem + "_discharge.csv")), csv);
    }
}

TEST_F(TermRun, UsageErrors) {
    const std::vector<std::string> cases[] = {
        {"images", "--range", "3000,0"},  // minimum not below maximum
        {"images", "--range", "all"},
        {"images", "--jobs", "0"},
        {"images", "--from", "2019-13"},
        {"images", "--from", "2020-02", "--to", "2019-11"},
        {"images", "--from", "2019-01"},  // before the term
        {"series"},                       // no cell
        {"series", "--cell", "0,1"},
        {"legend", "--range", "term", "legend.ppm"},  // a typed range only
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
    const ProcessResult cell = term({"series", "--cell", "6,1"});
    EXPECT_EQ(cell.status, 1);
    EXPECT_EQ(cell.errors, "Column number is out of range!\n");
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
        for (const auto& [name, bytes] : files_of(image_dir_)) {
            ASSERT_TRUE(reference.contains(name)) << after_images << ": " << name;
            EXPECT_TRUE(bytes == reference.at(name)) << after_images << ": " << name;
        }
    }
}
