// Whole runs of both programs on what a simulation, a disk or a user may leave
// behind: monthly files cut at every length, parameter files cut or spoiled at
// every value, and standard input ending at every question. Each run must end
// with status 0 and exactly the outputs of a good run, or with status 1, its
// message and nothing half-written.
#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "program_run.h"
#include "run_tree.h"

namespace {

const char* const JULY_FILE = "201907_dailyDischarge.bin";

class FaultRun : public ::testing::Test {
  protected:
    void SetUp() override { std::filesystem::create_directory(tree_.output / "image"); }

    ProcessResult series(const std::string& input) {
        return run_program(DISCHARGE_SERIES_PATH, tree_.output, input);
    }
    ProcessResult image(const std::string& input) {
        return run_program(DISCHARGE_IMAGE_PATH, tree_.output, input);
    }

    // Every file the programs wrote, with its bytes; removed afterwards.
    std::map<std::string, std::string> take_outputs() {
        std::map<std::string, std::string> outputs;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(tree_.output)) {
            const std::string name = entry.path().filename().string();
            if (entry.is_regular_file() && name != JULY_FILE) {
                outputs[name] = read_bytes(entry.path());
                std::filesystem::remove(entry.path());
            }
        }
        return outputs;
    }

    RunTree tree_;
};

}  // namespace

TEST_F(FaultRun, MonthCutAtEveryLengthNeverPassesForAWholeOne) {
    // A 1 x 1 grid (no ring) whose 31 days all differ: a repeated or made-up
    // value would change an image or a line.
    write_text(tree_.root / "param.dat", parameter_text(1, 1));
    std::vector<float> values = counting_values(31);
    values[4] = -999.0F;
    const std::string month = encode_values(values);
    const struct {
        const char* label;
        const char* input;
        bool series;
    } runs[] = {
        {"series", "1 1 2019 7", true},
        {"image, range from the month", "2019 7 n", false},
        {"image, typed range", "2019 7 y 40 0", false},
    };

    for (const auto& run : runs) {
        write_text(tree_.output / JULY_FILE, month);
        const ProcessResult whole = run.series ? series(run.input) : image(run.input);
        ASSERT_EQ(whole.status, 0) << run.label;
        const std::map<std::string, std::string> expected = take_outputs();
        ASSERT_EQ(expected.size(), run.series ? 1U : 31U) << run.label;

        for (std::size_t length = 0; length <= month.size() + 4; ++length) {
            std::string cut = month.substr(0, std::min(length, month.size()));
            cut += std::string(length - cut.size(), '\x11');  // past the month: ignored
            write_text(tree_.output / JULY_FILE, cut);
            const ProcessResult result = run.series ? series(run.input) : image(run.input);
            const std::map<std::string, std::string> outputs = take_outputs();
            if (length >= month.size()) {
                EXPECT_EQ(result.status, 0) << run.label << ", " << length << " bytes";
                EXPECT_EQ(result.output, whole.output) << run.label << ", " << length << " bytes";
                EXPECT_EQ(outputs, expected) << run.label << ", " << length << " bytes";
                continue;
            }
            EXPECT_EQ(result.status, 1) << run.label << ", " << length << " bytes";
            EXPECT_TRUE(outputs.empty()) << run.label << ", " << length << " bytes";
            EXPECT_TRUE(result.output.ends_with(run.series ? "Daily discharge data cannot open.\n"
                                                           : "Program ends. Hit any key!\n") ||
                        result.output.ends_with("Maximun discharge <= Minimum discharge!\n"))
                << run.label << ", " << length << " bytes:\n"
                << result.output;
        }
    }
}

TEST_F(FaultRun, ParameterFileCutOrSpoiledAtEveryValue) {
    write_text(tree_.output / JULY_FILE, encode_values(counting_values(31 * 6)));
    const std::vector<std::string> tokens = tokens_of(parameter_text(3, 2));
    const std::string malformed = "param.dat is incomplete or malformed.\n";
    for (std::size_t value = 0; value < tokens.size(); ++value) {
        std::vector<std::string> spoiled = tokens;
        // Alternately not a number, and beyond the range of the value's type
        // (field types in file order: i = 32-bit integer, d = double, f = float).
        const char type = PARAMETER_FIELD_TYPES[value];
        spoiled[value] = value % 2 == 0 ? "n/a"
                         : type == 'i'  ? "99999999999"
                         : type == 'f'  ? "1e39"
                                        : "1e999";
        const std::pair<const char*, std::string> files[] = {
            {"cut", joined(std::vector<std::string>(tokens.begin(), tokens.begin() + value))},
            {"spoiled", joined(spoiled)},
        };
        for (const auto& [how, text] : files) {
            write_text(tree_.root / "param.dat", text);
            for (const bool is_series : {true, false}) {
                const ProcessResult result = is_series ? series("1 1 2019 7") : image("2019 7 n");
                EXPECT_EQ(result.status, 1) << how << " at value " << value + 1;
                EXPECT_EQ(result.output, parameter_echo(3, 2, value) + malformed)
                    << how << " at value " << value + 1;
                EXPECT_TRUE(take_outputs().empty());
            }
        }
    }
}

TEST_F(FaultRun, ParameterFileEmptyOrMissing) {
    const std::string heading = "Reading parameters for runoff simulation.\n";
    const std::pair<const char*, std::string> cases[] = {
        {"empty", heading + "param.dat is incomplete or malformed.\n"},
        {"blank lines", heading + "param.dat is incomplete or malformed.\n"},
        {"missing", heading + "param.dat cannot open.\n"},
    };
    for (const auto& [label, transcript] : cases) {
        std::filesystem::remove(tree_.root / "param.dat");
        if (std::string(label) != "missing") {
            write_text(tree_.root / "param.dat", std::string(label) == "empty" ? "" : "\n \n\t\n");
        }
        EXPECT_EQ(series("1 1 2019 7").output, transcript) << label;
        EXPECT_EQ(image("2019 7 n").output, transcript) << label;
    }
}

TEST_F(FaultRun, InputEndingAtEveryQuestion) {
    write_text(tree_.root / "param.dat", parameter_text(3, 3));
    write_text(tree_.output / JULY_FILE, encode_values(counting_values(31 * 9)));
    const std::string echo = parameter_echo(3, 3);
    const std::string& wrong = WRONG_VALUES;
    const std::string& column = COLUMN_QUESTION;
    const std::string& row = ROW_QUESTION;
    const std::string& month = MONTH_QUESTIONS;
    const std::string& question = RANGE_QUESTION;
    const struct {
        bool series;
        const char* input;
        std::string transcript;  // after the echo; empty: the run completes
    } cases[] = {
        {true, "", column + wrong},
        {true, "2", column + row + wrong},
        {true, "2 3", column + row + "Column number : 2 Row number : 3\nInput year!\n" + wrong},
        {true, "2 3 2019", column + row + "Column number : 2 Row number : 3\n" + month + wrong},
        {false, "", "Input year!\n" + wrong},
        {false, "2019", month + wrong},
        {false, "2019 7 y",
         month + "Read ./201907_dailyDischarge.bin\n" + question +
             "Input maximum value : " + wrong},
        {false, "2019 7 y 100",
         month + "Read ./201907_dailyDischarge.bin\n" + question +
             "Input maximum value : Input minimum value : " + wrong},
        // No answer to the question is not "y": the range comes from the month.
        {false, "2019 7", ""},
    };
    for (const auto& c : cases) {
        const ProcessResult result = c.series ? series(c.input) : image(c.input);
        if (c.transcript.empty()) {
            EXPECT_EQ(result.status, 0) << c.input;
            EXPECT_TRUE(result.output.ends_with("\nProgram ends!\n")) << c.input;
            EXPECT_EQ(take_outputs().size(), 31U);
            continue;
        }
        EXPECT_EQ(result.status, 1) << c.input;
        EXPECT_EQ(result.output, echo + c.transcript) << c.input;
        EXPECT_TRUE(take_outputs().empty()) << c.input;
    }
}

TEST_F(FaultRun, ImageFolderThatIsAFile) {
    write_text(tree_.root / "param.dat", parameter_text(3, 3));
    write_text(tree_.output / JULY_FILE, encode_values(counting_values(31 * 9)));
    std::filesystem::remove(tree_.output / "image");
    write_text(tree_.output / "image", "not a folder");
    const ProcessResult result = image("2019 7 n");
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(
        result.output.ends_with("Write ./image/201907_   1_discharge.ppm\r"
                                "Image output file cannot open.\n"));
    EXPECT_EQ(read_bytes(tree_.output / "image"), "not a folder");
}
