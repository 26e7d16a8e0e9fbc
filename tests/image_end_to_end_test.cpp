// Whole runs of discharge_image in temporary run trees.
#include <gtest/gtest.h>

#include <sstream>

#include "program_run.h"
#include "run_tree.h"

namespace {

// A 3 x 3 grid: the ring masks the middle row and column, leaving the four
// corners, each drawn in its own colour to catch flips.
constexpr int NCOLS = 3;
constexpr int NROWS = 3;
constexpr int CELLS = NCOLS * NROWS;
const char* const JULY_FILE = "201907_dailyDischarge.bin";
const std::string READ_JULY = "Read ./201907_dailyDischarge.bin\n";
const std::string HIT_ANY_KEY = "Discharge data cannot open.\n\nProgram ends. Hit any key!\n";

std::string pixels(unsigned char r, unsigned char g, unsigned char b, int count) {
    std::string bytes;
    for (int i = 0; i < count; ++i) {
        bytes += {static_cast<char>(r), static_cast<char>(g), static_cast<char>(b)};
    }
    return bytes;
}

const std::string BLUE = pixels(0, 0, 252, 5);
const std::string RED = pixels(252, 0, 0, 5);
const std::string GREEN = pixels(0, 252, 0, 5);
const std::string MIDDLE = pixels(208, 252, 0, 5);  // level 180, halfway through the range
const std::string BLACK = pixels(0, 0, 0, 5);

// Day 1: south-west 0 (blue), south-east 100 (red), north-west 25 (green),
// north-east 50 (level 180); the masked ring holds 60 and -5. Day 2 and
// later: all corners 100 (red). The month's range is 0 to 100 either way.
std::vector<float> july() {
    std::vector<float> month;
    const std::vector<float> first = {0, 60, 100, -5, 60, -5, 25, 60, 50};
    month.insert(month.end(), first.begin(), first.end());
    for (int day = 2; day <= 31; ++day) {
        const std::vector<float> later = {100, -5, 100, -5, -5, -5, 100, 60, 100};
        month.insert(month.end(), later.begin(), later.end());
    }
    return month;
}

std::string image(const std::string& north, const std::string& south) {
    std::string bytes = "P6\n15 15\n255\n";
    for (int i = 0; i < 5; ++i) {
        bytes += north;
    }
    for (int i = 0; i < 5; ++i) {
        bytes += BLACK + BLACK + BLACK;
    }
    for (int i = 0; i < 5; ++i) {
        bytes += south;
    }
    return bytes;
}

const std::string DAY_ONE_IMAGE = image(GREEN + BLACK + MIDDLE, BLUE + BLACK + RED);
const std::string LATER_IMAGE = image(RED + BLACK + RED, RED + BLACK + RED);

std::string image_name(int day) {
    char name[64];
    std::snprintf(name, sizeof name, "201907_%4d_discharge.ppm", day);
    return name;
}

std::string write_lines(int first, int last) {
    std::string lines;
    for (int day = first; day <= last; ++day) {
        lines += "Write ./image/" + image_name(day) + "\r";
    }
    return lines;
}

class ImageRun : public ::testing::Test {
  protected:
    void SetUp() override {
        write_text(tree_.root / "param.dat", parameter_text(NCOLS, NROWS));
        write_text(tree_.output / JULY_FILE, encode_values(july()));
        std::filesystem::create_directory(image_dir_);
    }

    ProcessResult run(const std::string& input) {
        return run_program(DISCHARGE_IMAGE_PATH, tree_.output, input);
    }

    // Answers year and month, and gives the rest of `input` only once the
    // program has opened the FIFO feeding the data.
    ProcessResult run_gated(FifoFeeder& feeder, const std::string& rest) {
        return run_program_gated(
            DISCHARGE_IMAGE_PATH, tree_.output, "2019 7 ", [&] { feeder.wait_first_connection(); },
            rest);
    }

    // Every file in the image folder, or in `folder`.
    std::vector<std::string> images(const std::filesystem::path& folder = {}) const {
        const std::filesystem::path& listed = folder.empty() ? image_dir_ : folder;
        std::vector<std::string> names;
        if (std::filesystem::is_directory(listed)) {
            for (const auto& entry : std::filesystem::directory_iterator(listed)) {
                names.push_back(entry.path().filename().string());
            }
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    // A run with the range typed as 0 to 100 that drew the whole of July.
    void expect_typed_run_drew_july(const ProcessResult& result) const {
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.output, start() + RANGE_PROMPTS +
                                     "Maximun discharge = 100 Minimum discharge = 0\n" + READ_JULY +
                                     write_lines(1, 31) + "\nProgram ends!\n");
        EXPECT_EQ(read_bytes(image_dir_ / image_name(1)), DAY_ONE_IMAGE);
        EXPECT_EQ(read_bytes(image_dir_ / image_name(31)), LATER_IMAGE);
    }

    std::string start() const {
        return parameter_echo(NCOLS, NROWS) + MONTH_QUESTIONS + READ_JULY + RANGE_QUESTION;
    }

    RunTree tree_;
    std::filesystem::path image_dir_ = tree_.output / "image";
};

}  // namespace

TEST_F(ImageRun, RangeFromTheMonthDrawsEveryDay) {
    const ProcessResult result = run("2019\n7\nn\n");
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.output, start() + "Maximun discharge = 100 Minimum discharge = 0\n" +
                                 READ_JULY + write_lines(1, 31) + "\nProgram ends!\n");
    ASSERT_EQ(images().size(), 31U);
    EXPECT_EQ(images().front(), "201907_   1_discharge.ppm");
    EXPECT_EQ(images().back(), "201907_  31_discharge.ppm");
    EXPECT_EQ(read_bytes(image_dir_ / image_name(1)), DAY_ONE_IMAGE);
    for (int day = 2; day <= 31; ++day) {
        EXPECT_EQ(read_bytes(image_dir_ / image_name(day)), LATER_IMAGE) << "day " << day;
    }
}

TEST_F(ImageRun, TypedRangeDrawsTheSameImages) {
    const ProcessResult result = run("2019 7 y 100 0");
    expect_typed_run_drew_july(result);
}

TEST_F(ImageRun, OnlyLowerCaseYTypesTheRange) {
    for (const char* answer : {"Y", "yes", "n", "no"}) {
        const ProcessResult result = run(std::string("2019 7 ") + answer + " 50 10");
        EXPECT_EQ(result.status, 0) << answer;
        EXPECT_EQ(result.output.substr(start().size(), 46),
                  "Maximun discharge = 100 Minimum discharge = 0\n")
            << answer;
    }
}

TEST_F(ImageRun, TypedRangeNarrowerThanTheData) {
    // 10 to 50: 0 is below the minimum (black), 100 above the maximum (yellow),
    // 25 at level 156, 50 at 255 (red).
    const ProcessResult result = run("2019 7 y 50 10");
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(read_bytes(image_dir_ / image_name(1)),
              image(pixels(112, 252, 0, 5) + BLACK + RED, BLACK + BLACK + pixels(252, 252, 0, 5)));
}

TEST_F(ImageRun, NonSquareGridMasksOnlyItsRing) {
    // 6 columns and 5 rows: the ring is rows 1 and 3 and columns 1 and 4, and
    // none of them is also an edge. Every other cell is drawn in its colour,
    // the easternmost column and the northernmost row included.
    write_text(tree_.root / "param.dat", parameter_text(6, 5));
    const float values[] = {0.0F, 25.0F, 50.0F, 100.0F};
    const std::string colours[] = {BLUE, GREEN, MIDDLE, RED};
    std::vector<float> day;
    for (int row = 0; row < 5; ++row) {
        for (int column = 0; column < 6; ++column) {
            day.push_back(values[(row + 2 * column) % 4]);
        }
    }
    std::vector<float> month;
    for (int d = 1; d <= 31; ++d) {
        month.insert(month.end(), day.begin(), day.end());
    }
    write_text(tree_.output / JULY_FILE, encode_values(month));
    ASSERT_EQ(run("2019 7 y 100 0").status, 0);

    std::string expected = "P6\n30 25\n255\n";
    for (int row = 4; row >= 0; --row) {
        std::string pixel_row;
        for (int column = 0; column < 6; ++column) {
            const bool ring = row == 1 || row == 3 || column == 1 || column == 4;
            pixel_row += ring ? BLACK : colours[(row + 2 * column) % 4];
        }
        for (int copy = 0; copy < 5; ++copy) {
            expected += pixel_row;
        }
    }
    EXPECT_EQ(read_bytes(image_dir_ / image_name(1)), expected);
    EXPECT_EQ(read_bytes(image_dir_ / image_name(31)), expected);
}

TEST_F(ImageRun, FebruaryOfALeapYearGivesTwentyEightImages) {
    std::vector<float> month(29 * CELLS, 7.0F);
    month[0] = 0.0F;
    write_text(tree_.output / "202002_dailyDischarge.bin", encode_values(month));
    const ProcessResult result = run("2020 2 n");
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(images().size(), 28U);
    EXPECT_EQ(images().back(), "202002_  28_discharge.ppm");
}

TEST_F(ImageRun, EqualValuesAboveTenThousandStillGiveARange) {
    write_text(tree_.output / JULY_FILE, encode_values(std::vector<float>(31 * CELLS, 20000.0F)));
    const ProcessResult result = run("2019 7 n");
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.output.substr(start().size(), 54),
              "Maximun discharge = 20000 Minimum discharge = 10000\n" + READ_JULY.substr(0, 2));
}

TEST_F(ImageRun, FailuresBeforeAnyImage) {
    struct Case {
        const char* label;
        std::vector<float> month;  // written as July
        const char* input;
        std::string transcript;  // after the parameter echo
    };
    const std::string& wrong = WRONG_VALUES;
    const std::string range_pass = MONTH_QUESTIONS + READ_JULY + RANGE_QUESTION;
    const std::string no_range = "Maximun discharge <= Minimum discharge!\n";
    const Case cases[] = {
        {"year not a number", july(), "last 7", "Input year!\n" + wrong},
        {"input ends before the month", july(), "2019", MONTH_QUESTIONS + wrong},
        {"month 13", july(), "2019 13", MONTH_QUESTIONS + "Month number is out of range!\n"},
        {"no file for the month", july(), "2019 8",
         MONTH_QUESTIONS + "Read ./201908_dailyDischarge.bin\nDaily discharge data cannot open.\n"},
        {"maximum not a number", july(), "2019 7 y lots 0",
         range_pass + "Input maximum value : " + wrong},
        {"maximum beyond a float", july(), "2019 7 y 1e39 0",
         range_pass + "Input maximum value : " + wrong},
        {"input ends before the minimum", july(), "2019 7 y 100",
         range_pass + RANGE_PROMPTS + wrong},
        {"minimum equal to the maximum", july(), "2019 7 y 100 100",
         range_pass + RANGE_PROMPTS + wrong},
        {"minimum above the maximum", july(), "2019 7 y 1 2", range_pass + RANGE_PROMPTS + wrong},
        {"all values negative", std::vector<float>(31 * CELLS, -999.0F), "2019 7 n",
         range_pass + no_range},
        {"all values equal", std::vector<float>(31 * CELLS, 42.0F), "2019 7 n",
         range_pass + no_range},
        {"only values that are not numbers",
         std::vector<float>(31 * CELLS, std::numeric_limits<float>::quiet_NaN()), "2019 7 n",
         range_pass + no_range},
    };
    for (const Case& c : cases) {
        write_text(tree_.output / JULY_FILE, encode_values(c.month));
        const ProcessResult result = run(c.input);
        EXPECT_EQ(result.status, 1) << c.label;
        EXPECT_EQ(result.output, parameter_echo(NCOLS, NROWS) + c.transcript) << c.label;
        EXPECT_TRUE(images().empty()) << c.label;
    }
}

TEST_F(ImageRun, ParameterFileProblems) {
    std::filesystem::remove(tree_.root / "param.dat");
    ProcessResult result = run("2019 7 n");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.output, "Reading parameters for runoff simulation.\nparam.dat cannot open.\n");

    write_text(tree_.root / "param.dat", parameter_text(0, 3));
    result = run("2019 7 n");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.output, parameter_echo(0, 3) + "Grid size setting is wrong\n");
    EXPECT_TRUE(images().empty());
}

TEST_F(ImageRun, ShortFileFailsTheDrawingPassInBothBranches) {
    const std::string month = encode_values(july());
    for (const std::size_t length : {month.size() - 4, month.size() - 1, month.size() / 2}) {
        write_text(tree_.output / JULY_FILE, month.substr(0, length));
        // The range pass reads what there is, then the second opening fails.
        ProcessResult result = run("2019 7 n");
        EXPECT_EQ(result.status, 1) << length;
        EXPECT_EQ(result.output, start() + "Maximun discharge = 100 Minimum discharge = 0\n" +
                                     READ_JULY + HIT_ANY_KEY)
            << length;
        // A typed range fails at the same opening instead of repeating values.
        result = run("2019 7 y 100 0");
        EXPECT_EQ(result.status, 1) << length;
        EXPECT_EQ(result.output, start() + RANGE_PROMPTS +
                                     "Maximun discharge = 100 Minimum discharge = 0\n" + READ_JULY +
                                     HIT_ANY_KEY)
            << length;
        EXPECT_TRUE(images().empty()) << length;
    }
}

TEST_F(ImageRun, EmptyFileHasNoRange) {
    write_text(tree_.output / JULY_FILE, "");
    const ProcessResult result = run("2019 7 n");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.output, start() + "Maximun discharge <= Minimum discharge!\n");
}

TEST_F(ImageRun, MissingImageFolderFailsAtTheFirstDay) {
    std::filesystem::remove(image_dir_);
    const ProcessResult result = run("2019 7 n");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.output, start() + "Maximun discharge = 100 Minimum discharge = 0\n" +
                                 READ_JULY + write_lines(1, 1) +
                                 "Image output file cannot open.\n");
    EXPECT_FALSE(std::filesystem::exists(image_dir_));
}

TEST_F(ImageRun, ImageNameTakenByADirectory) {
    std::filesystem::create_directory(image_dir_ / image_name(3));
    const ProcessResult result = run("2019 7 y 100 0");
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(result.output.ends_with(write_lines(1, 3) + "Image output file cannot open.\n"));
    EXPECT_EQ(images(), (std::vector<std::string>{image_name(1), image_name(2), image_name(3)}));
    EXPECT_EQ(read_bytes(image_dir_ / image_name(2)), LATER_IMAGE);
}

TEST_F(ImageRun, WriteFailureRemovesTheImageAndKeepsEarlierDays) {
    if (const std::string why = why_no_full_disk(); !why.empty()) {
        GTEST_SKIP() << why;
    }
    // Each image takes one page of the disk: day 1 finds none free, day 4
    // finds the three that days 1 to 3 took taken.
    for (const int day : {1, 4}) {
        const std::filesystem::path left = tree_.root / ("left by day " + std::to_string(day));
        const ProcessResult result = run_program_on_full_disk(DISCHARGE_IMAGE_PATH, tree_.output,
                                                              "2019 7 n", "image", day - 1, left);
        EXPECT_EQ(result.status, 1) << day;
        EXPECT_EQ(result.output, start() + "Maximun discharge = 100 Minimum discharge = 0\n" +
                                     READ_JULY + write_lines(1, day) +
                                     "Image output file cannot write.\n")
            << day;
        std::vector<std::string> kept;
        for (int earlier = 1; earlier < day; ++earlier) {
            kept.push_back(image_name(earlier));
            EXPECT_EQ(read_bytes(left / image_name(earlier)),
                      earlier == 1 ? DAY_ONE_IMAGE : LATER_IMAGE);
        }
        EXPECT_EQ(images(left), kept) << day;
    }
}

TEST_F(ImageRun, DataFromAPipeIsOpenedForEachPass) {
    SKIP_ON_WINDOWS("a FIFO as the monthly file");
    // The range pass reads the first opening; the drawing pass the second.
    ProcessResult result;
    std::filesystem::remove(tree_.output / JULY_FILE);
    {
        FifoFeeder feeder(tree_.output / JULY_FILE, encode_values(july()), 2);
        result = run("2019 7 n");
    }
    EXPECT_EQ(result.status, 0);
    EXPECT_TRUE(result.output.ends_with(write_lines(1, 31) + "\nProgram ends!\n"));
    EXPECT_EQ(read_bytes(image_dir_ / image_name(1)), DAY_ONE_IMAGE);
    EXPECT_EQ(read_bytes(image_dir_ / image_name(31)), LATER_IMAGE);

    // With a typed range the first opening is closed unread.
    std::filesystem::remove(tree_.output / JULY_FILE);
    std::filesystem::remove_all(image_dir_);
    std::filesystem::create_directory(image_dir_);
    {
        FifoFeeder feeder(tree_.output / JULY_FILE, encode_values(july()), 2);
        result = run_gated(feeder, "y 100 0");
    }
    expect_typed_run_drew_july(result);
}

TEST_F(ImageRun, PipeRunningOutOfDataDrawsNoMadeUpDay) {
    SKIP_ON_WINDOWS("a FIFO as the monthly file");
    // Ten whole days and part of the eleventh.
    const std::string month = encode_values(july()).substr(0, (10 * CELLS + 4) * 4);

    // The range pass runs out: its second opening fails.
    ProcessResult result;
    std::filesystem::remove(tree_.output / JULY_FILE);
    {
        FifoFeeder feeder(tree_.output / JULY_FILE, month, 1);
        result = run("2019 7 n");
    }
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.output, start() + "Maximun discharge = 100 Minimum discharge = 0\n" +
                                 READ_JULY + HIT_ANY_KEY);
    EXPECT_TRUE(images().empty());

    // With a typed range the drawing pass runs out in day 11: the ten days
    // drawn from real data stay, the eleventh is not left behind.
    std::filesystem::remove(tree_.output / JULY_FILE);
    {
        FifoFeeder feeder(tree_.output / JULY_FILE, month, 2);
        result = run_gated(feeder, "y 100 0");
    }
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.output, start() + RANGE_PROMPTS +
                                 "Maximun discharge = 100 Minimum discharge = 0\n" + READ_JULY +
                                 write_lines(1, 11) + HIT_ANY_KEY);
    EXPECT_EQ(images().size(), 10U);
    EXPECT_EQ(read_bytes(image_dir_ / image_name(10)), LATER_IMAGE);
}

TEST_F(ImageRun, GridTooLargeForMemoryIsReported) {
#ifdef __SANITIZE_ADDRESS__
    // AddressSanitizer's allocator ends the process when memory runs out
    // instead of throwing std::bad_alloc, so the program cannot report it.
    GTEST_SKIP() << "memory exhaustion is not catchable under AddressSanitizer";
#endif
    // 10^11 cells: a sparse month of 12.4 TB passes the size check, but one
    // day's grid (400 GB of values) cannot be allocated.
    write_text(tree_.root / "param.dat", parameter_text(100000, 1000000));
    std::filesystem::resize_file(tree_.output / JULY_FILE, 31ULL * 100000 * 1000000 * 4);
    const ProcessResult result = run("2019 7 y 100 0");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.output, parameter_echo(100000, 1000000) + MONTH_QUESTIONS + READ_JULY +
                                 RANGE_QUESTION + RANGE_PROMPTS +
                                 "Maximun discharge = 100 Minimum discharge = 0\n" + READ_JULY +
                                 "Not enough memory to draw the images.\n");
    EXPECT_TRUE(images().empty());
}
