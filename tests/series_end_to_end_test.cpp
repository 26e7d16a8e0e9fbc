// Whole runs of discharge_series in temporary run trees.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <sstream>

#include "program_run.h"
#include "run_tree.h"

namespace {

constexpr int NCOLS = 3;
constexpr int NROWS = 2;
constexpr int JULY_VALUES = 31 * NCOLS * NROWS;
const char* const JULY_FILE = "201907_dailyDischarge.bin";

std::string cell_dialogue(int column, int row) {
    return COLUMN_QUESTION + ROW_QUESTION + "Column number : " + std::to_string(column) +
           " Row number : " + std::to_string(row) + "\n";
}

// The transcript of a run for July 2019 up to and including the "Write " line.
std::string july_transcript(int column, int row) {
    std::ostringstream text;
    text << parameter_echo(NCOLS, NROWS) << cell_dialogue(column, row) << MONTH_QUESTIONS
         << "Read ./201907_dailyDischarge.bin\n"
         << "Write ./201907-" << column << '-' << row << "_discharge.dat\r";
    return text.str();
}

class SeriesRun : public ::testing::Test {
  protected:
    void SetUp() override {
        write_text(tree_.root / "param.dat", parameter_text(NCOLS, NROWS));
        write_text(tree_.output / JULY_FILE, encode_values(counting_values(JULY_VALUES)));
    }

    ProcessResult run(const std::string& input) {
        return run_program(DISCHARGE_SERIES_PATH, tree_.output, input);
    }

    std::vector<std::string> output_files() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(tree_.output)) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    RunTree tree_;
};

}  // namespace

TEST_F(SeriesRun, CompleteRunWritesOneLinePerDay) {
    const ProcessResult result = run("2\n1\n2019\n7\n");
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.output, july_transcript(2, 1));

    // Day d, row 1, column 2 holds 6 (d - 1) + 2 in the counting month.
    std::string expected;
    for (int day = 1; day <= 31; ++day) {
        expected +=
            "2019 7 " + std::to_string(day) + " " + std::to_string(6 * (day - 1) + 2) + "\n";
    }
    const std::string written = read_text(tree_.output / "201907-2-1_discharge.dat");
    EXPECT_EQ(written, expected);
    EXPECT_TRUE(written.starts_with("2019 7 1 2\n2019 7 2 8\n2019 7 3 14\n"));
}

TEST_F(SeriesRun, NorthWestCornerGivesTheLastValueOfEachDay) {
    const ProcessResult result = run("3 2 2019 7");
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.output, july_transcript(3, 2));
    const std::string written = read_text(tree_.output / "201907-3-2_discharge.dat");
    EXPECT_TRUE(written.starts_with("2019 7 1 6\n2019 7 2 12\n"));
    EXPECT_TRUE(written.ends_with("2019 7 30 180\n2019 7 31 186\n"));
}

TEST_F(SeriesRun, ValuesAreWrittenAsStoredInShortestGeneralNotation) {
    // Cell (1, 1) of days 1 to 12; every other value is zero. Values that are
    // not finite are spelled alike on every platform.
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const float cell_values[] = {12.5F, -999.0F, 1234567.0F, 0.0001F, 1e-7F, 100000.0F,
                                 -1.0F, 3.0F,    nan,        -nan,    inf,   -inf};
    std::vector<float> month(JULY_VALUES, 0.0F);
    for (std::size_t day = 0; day < std::size(cell_values); ++day) {
        month[day * NCOLS * NROWS] = cell_values[day];
    }
    write_text(tree_.output / JULY_FILE, encode_values(month));
    ASSERT_EQ(run("1 1 2019 7").status, 0);
    const std::string written = read_text(tree_.output / "201907-1-1_discharge.dat");
    EXPECT_TRUE(
        written.starts_with("2019 7 1 12.5\n"
                            "2019 7 2 -999\n"
                            "2019 7 3 1.23457e+06\n"
                            "2019 7 4 0.0001\n"
                            "2019 7 5 1e-07\n"
                            "2019 7 6 100000\n"
                            "2019 7 7 -1\n"
                            "2019 7 8 3\n"
                            "2019 7 9 nan\n"
                            "2019 7 10 -nan\n"
                            "2019 7 11 inf\n"
                            "2019 7 12 -inf\n"
                            "2019 7 13 0\n"))
        << written;
}

TEST_F(SeriesRun, LeapYearFebruaryGivesTwentyEightDays) {
    // A simulation writes 29 grids for February 2020; the 29th is never read.
    write_text(tree_.output / "202002_dailyDischarge.bin",
               encode_values(counting_values(29 * NCOLS * NROWS)));
    const ProcessResult result = run("1 1 2020 2");
    EXPECT_EQ(result.status, 0);
    const std::string written = read_text(tree_.output / "202002-1-1_discharge.dat");
    EXPECT_EQ(std::count(written.begin(), written.end(), '\n'), 28);
    EXPECT_TRUE(written.ends_with("2020 2 28 163\n"));
}

TEST_F(SeriesRun, YearBelowOneThousandIsPaddedInNames) {
    write_text(tree_.output / "099903_dailyDischarge.bin",
               encode_values(counting_values(31 * NCOLS * NROWS)));
    const ProcessResult result = run("1 2 999 3");
    EXPECT_EQ(result.status, 0);
    EXPECT_TRUE(result.output.ends_with(
        "Read ./099903_dailyDischarge.bin\nWrite ./099903-1-2_discharge.dat\r"));
    EXPECT_TRUE(read_text(tree_.output / "099903-1-2_discharge.dat").starts_with("999 3 1 4\n"));
}

TEST_F(SeriesRun, LongerFileIsReadUpToTheMonthsEnd) {
    write_text(tree_.output / JULY_FILE,
               encode_values(counting_values(JULY_VALUES)) + std::string(1001, '\x7f'));
    EXPECT_EQ(run("3 2 2019 7").status, 0);
    EXPECT_TRUE(read_text(tree_.output / "201907-3-2_discharge.dat").ends_with("2019 7 31 186\n"));
}

TEST_F(SeriesRun, RepeatedRunOverwritesTheSeries) {
    write_text(tree_.output / "201907-2-1_discharge.dat", std::string(5000, 'x'));
    ASSERT_EQ(run("2 1 2019 7").status, 0);
    const std::string written = read_text(tree_.output / "201907-2-1_discharge.dat");
    EXPECT_TRUE(written.starts_with("2019 7 1 2\n"));
    EXPECT_TRUE(written.ends_with("2019 7 31 182\n"));
}

TEST_F(SeriesRun, FailuresBeforeAnyFileIsWritten) {
    struct Case {
        const char* label;
        const char* input;
        std::string transcript;  // after the parameter echo
    };
    const std::string& wrong = WRONG_VALUES;
    const Case cases[] = {
        {"column 0", "0 1 2019 7", COLUMN_QUESTION + "Column number is out of range!\n"},
        {"column above ncols", "4 1 2019 7", COLUMN_QUESTION + "Column number is out of range!\n"},
        {"column not a number", "east 1 2019 7", COLUMN_QUESTION + wrong},
        {"column beyond 32 bits", "4294967297 1", COLUMN_QUESTION + wrong},
        {"no answers at all", "", COLUMN_QUESTION + wrong},
        {"row 0", "1 0 2019 7", COLUMN_QUESTION + ROW_QUESTION + "Row number is out of range!\n"},
        {"row above nrows", "1 3 2019 7",
         COLUMN_QUESTION + ROW_QUESTION + "Row number is out of range!\n"},
        {"row not a number", "1 x", COLUMN_QUESTION + ROW_QUESTION + wrong},
        {"input ends before the row", "1", COLUMN_QUESTION + ROW_QUESTION + wrong},
        {"year not a number", "1 1 last 7", cell_dialogue(1, 1) + "Input year!\n" + wrong},
        {"input ends before the year", "1 1", cell_dialogue(1, 1) + "Input year!\n" + wrong},
        {"month not a number", "1 1 2019 July", cell_dialogue(1, 1) + MONTH_QUESTIONS + wrong},
        {"input ends before the month", "1 1 2019", cell_dialogue(1, 1) + MONTH_QUESTIONS + wrong},
        {"month 13", "1 1 2019 13",
         cell_dialogue(1, 1) + MONTH_QUESTIONS + "Month number is out of range!\n"},
        {"month 0", "1 1 2019 0",
         cell_dialogue(1, 1) + MONTH_QUESTIONS + "Month number is out of range!\n"},
        {"no file for the month", "1 1 2019 8",
         cell_dialogue(1, 1) + MONTH_QUESTIONS +
             "Read ./201908_dailyDischarge.bin\nDaily discharge data cannot open.\n"},
    };
    for (const Case& c : cases) {
        const ProcessResult result = run(c.input);
        EXPECT_EQ(result.status, 1) << c.label;
        EXPECT_EQ(result.output, parameter_echo(NCOLS, NROWS) + c.transcript) << c.label;
        EXPECT_EQ(output_files(), std::vector<std::string>{JULY_FILE}) << c.label;
    }
}

TEST_F(SeriesRun, ShortFileFailsAtItsOpeningWithoutWriting) {
    const std::string month = encode_values(counting_values(JULY_VALUES));
    const std::size_t lengths[] = {0, 1, 4, month.size() - 4, month.size() - 1};
    for (const std::size_t length : lengths) {
        write_text(tree_.output / JULY_FILE, month.substr(0, length));
        const ProcessResult result = run("3 2 2019 7");
        EXPECT_EQ(result.status, 1) << length << " bytes";
        EXPECT_EQ(result.output, parameter_echo(NCOLS, NROWS) + cell_dialogue(3, 2) +
                                     MONTH_QUESTIONS +
                                     "Read ./201907_dailyDischarge.bin\n"
                                     "Daily discharge data cannot open.\n")
            << length << " bytes";
        EXPECT_EQ(output_files(), std::vector<std::string>{JULY_FILE}) << length << " bytes";
    }
}

TEST_F(SeriesRun, OutputThatCannotBeCreated) {
    std::filesystem::create_directory(tree_.output / "201907-2-2_discharge.dat");
    const ProcessResult result = run("2 2 2019 7");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.output,
              july_transcript(2, 2) + "Time series discharge output file cannot open.\n");
    EXPECT_TRUE(std::filesystem::is_directory(tree_.output / "201907-2-2_discharge.dat"));
}

TEST_F(SeriesRun, WriteFailureRemovesTheIncompleteSeries) {
    if (const std::string why = why_no_full_disk(); !why.empty()) {
        GTEST_SKIP() << why;
    }
    const std::filesystem::path left = tree_.root / "left";
    const ProcessResult result =
        run_program_on_full_disk(DISCHARGE_SERIES_PATH, tree_.output, "2 2 2019 7", ".", 0, left);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.output,
              july_transcript(2, 2) + "Time series discharge output file cannot write.\n");
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(left)) {
        files.push_back(entry.path().filename().string());
    }
    EXPECT_EQ(files, std::vector<std::string>{JULY_FILE});
}

TEST_F(SeriesRun, ParameterFileProblems) {
    struct Case {
        const char* label;
        std::string parameters;  // empty: no file at all
        std::string transcript;
    };
    const std::string heading = "Reading parameters for runoff simulation.\n";
    const std::string echo = parameter_echo(NCOLS, NROWS);
    const Case cases[] = {
        {"missing", "", heading + "param.dat cannot open.\n"},
        {"cut after the grid size", "2 3 2\n",
         heading + "  Topography scale : 2\n  Number of col : 3  Number of row : 2\n"
                   "param.dat is incomplete or malformed.\n"},
        {"end year before start year",
         "2 3 2 135.5 34.25 400 300 12 7 135.004166 34.0041666 3600 "
         "2020 2019 4 3",
         echo.substr(0, echo.find("  Start year")) +
             "  Start year : 2020  Start month : 4\n  End year : 2019  End month : 3\n"
             "Simulation year setting is wrong\n"},
        {"no rows", parameter_text(3, 0), parameter_echo(3, 0) + "Grid size setting is wrong\n"},
    };
    for (const Case& c : cases) {
        std::filesystem::remove(tree_.root / "param.dat");
        if (!c.parameters.empty()) {
            write_text(tree_.root / "param.dat", c.parameters);
        }
        const ProcessResult result = run("1 1 2019 7");
        EXPECT_EQ(result.status, 1) << c.label;
        EXPECT_EQ(result.output, c.transcript) << c.label;
        EXPECT_EQ(output_files(), std::vector<std::string>{JULY_FILE}) << c.label;
    }
}

TEST_F(SeriesRun, ParameterFileThatIsADirectoryCannotOpen) {
    std::filesystem::remove(tree_.root / "param.dat");
    std::filesystem::create_directory(tree_.root / "param.dat");
    const ProcessResult result = run("1 1 2019 7");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.output, "Reading parameters for runoff simulation.\nparam.dat cannot open.\n");
}

TEST_F(SeriesRun, DataFromAPipeIsReadThrough) {
    SKIP_ON_WINDOWS("a FIFO as the monthly file");
    std::filesystem::remove(tree_.output / JULY_FILE);
    ProcessResult result;
    {
        FifoFeeder feeder(tree_.output / JULY_FILE, encode_values(counting_values(JULY_VALUES)), 1);
        result = run("2 1 2019 7");
    }
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.output, july_transcript(2, 1));
    const std::string written = read_text(tree_.output / "201907-2-1_discharge.dat");
    EXPECT_TRUE(written.starts_with("2019 7 1 2\n2019 7 2 8\n"));
    EXPECT_TRUE(written.ends_with("2019 7 31 182\n"));
}

TEST_F(SeriesRun, PipeRunningOutOfDataLeavesNoSeries) {
    SKIP_ON_WINDOWS("a FIFO as the monthly file");
    // Cut after the chosen cell's last day, and long before it.
    const std::string month = encode_values(counting_values(JULY_VALUES));
    for (const std::size_t length : {month.size() - 1, month.size() / 2, std::size_t{0}}) {
        std::filesystem::remove(tree_.output / JULY_FILE);
        ProcessResult result;
        {
            FifoFeeder feeder(tree_.output / JULY_FILE, month.substr(0, length), 1);
            result = run("2 1 2019 7");
        }
        EXPECT_EQ(result.status, 1) << length;
        EXPECT_EQ(result.output, july_transcript(2, 1) + "Daily discharge data cannot open.\n")
            << length;
        EXPECT_EQ(output_files(), std::vector<std::string>{JULY_FILE}) << length;
    }
}

TEST_F(SeriesRun, MonthTooLargeToCountIsAFileTooShort) {
    // 31 x (2^31 - 1)^2 values do not fit a 64-bit byte count.
    write_text(tree_.root / "param.dat", parameter_text(2147483647, 2147483647));
    const ProcessResult result = run("2147483647 2147483647 2019 7");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.output, parameter_echo(2147483647, 2147483647) +
                                 cell_dialogue(2147483647, 2147483647) + MONTH_QUESTIONS +
                                 "Read ./201907_dailyDischarge.bin\n"
                                 "Daily discharge data cannot open.\n");
}

TEST_F(SeriesRun, SparseMonthBeyondFourGibibytes) {
    // 10000 x 4000 cells: 160 MB a day, 4.96 GB for July. Only the last cell
    // of days 1, 27 and 31 holds data; day 27 starts past 4 GiB.
    constexpr std::uint64_t cells = 10000ULL * 4000ULL;
    write_text(tree_.root / "param.dat", parameter_text(10000, 4000));
    const std::filesystem::path month = tree_.output / JULY_FILE;
    write_text(month, "");
    std::filesystem::resize_file(month, 31 * cells * 4);
    std::fstream file(month, std::ios::in | std::ios::out | std::ios::binary);
    const std::pair<std::uint64_t, float> stored[] = {{1, 1.5F}, {27, 27.25F}, {31, -999.0F}};
    for (const auto& [day, value] : stored) {
        file.seekp(static_cast<std::streamoff>((day * cells - 1) * 4));
        file << encode_values({value});
    }
    file.close();

    const ProcessResult result = run("10000 4000 2019 7");
    EXPECT_EQ(result.status, 0);
    const std::string written = read_text(tree_.output / "201907-10000-4000_discharge.dat");
    EXPECT_TRUE(written.starts_with("2019 7 1 1.5\n2019 7 2 0\n")) << written;
    EXPECT_NE(written.find("\n2019 7 26 0\n2019 7 27 27.25\n2019 7 28 0\n"), std::string::npos);
    EXPECT_TRUE(written.ends_with("2019 7 30 0\n2019 7 31 -999\n"));
}
