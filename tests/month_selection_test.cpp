#include <gtest/gtest.h>

#include <sstream>

#include "run_input.h"
#include "run_texts.h"

TEST(AskMonth, AnswersAndFailures) {
    struct Case {
        const char* input;
        const char* console;
        std::optional<YearMonth> result;
    };
    const char* asked = MONTH_QUESTIONS.c_str();
    const std::string wrong = asked + WRONG_VALUES;
    const std::string out_of_range = std::string(asked) + "Month number is out of range!\n";
    const Case cases[] = {
        {"2019 7", asked, YearMonth{2019, 7}},
        {"2019\n1\n", asked, YearMonth{2019, 1}},
        {"  0999   12  ", asked, YearMonth{999, 12}},
        {"-3 2", asked, YearMonth{-3, 2}},
        {"2019 13", out_of_range.c_str(), std::nullopt},
        {"2019 0", out_of_range.c_str(), std::nullopt},
        {"2019 -1", out_of_range.c_str(), std::nullopt},
        {"2019 July", wrong.c_str(), std::nullopt},
        {"2019 4294967303", wrong.c_str(), std::nullopt},  // 2^32 + 7
        {"2019", wrong.c_str(), std::nullopt},
        {"twenty 7", "Input year!\nWrong values inputted!\n", std::nullopt},
        {"2147483648 7", "Input year!\nWrong values inputted!\n", std::nullopt},
        {"", "Input year!\nWrong values inputted!\n", std::nullopt},
    };
    for (const Case& c : cases) {
        std::istringstream in(c.input);
        std::ostringstream console;
        const std::optional<YearMonth> result = ask_month(in, console);
        EXPECT_EQ(console.str(), c.console) << '"' << c.input << '"';
        ASSERT_EQ(result.has_value(), c.result.has_value()) << '"' << c.input << '"';
        if (result) {
            EXPECT_EQ(result->year, c.result->year);
            EXPECT_EQ(result->month, c.result->month);
        }
    }
}

TEST(AskReal, ReadsFloatsAndRejectsWhatIsNotOne) {
    const std::pair<const char*, std::optional<float>> cases[] = {
        {"12.5", 12.5F},        {"-3", -3.0F},         {"1e3", 1000.0F},
        {"1e39", std::nullopt}, {"abc", std::nullopt}, {"", std::nullopt},
    };
    for (const auto& [input, expected] : cases) {
        std::istringstream in(input);
        std::ostringstream console;
        EXPECT_EQ(ask_real(in, console), expected) << input;
        EXPECT_EQ(console.str(), expected ? "" : "Wrong values inputted!\n") << input;
    }
}

TEST(DaysInMonth, FollowsTheTableWithoutLeapYears) {
    const std::int32_t expected[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    for (std::int32_t month = 1; month <= 12; ++month) {
        EXPECT_EQ(days_in_month(month), expected[month - 1]) << month;
    }
    EXPECT_EQ(days_in_month(0), 0);
    EXPECT_EQ(days_in_month(13), 0);
}

TEST(DischargeFileName, PadsYearToFourAndMonthToTwoDigits) {
    const struct {
        std::int32_t year;
        std::int32_t month;
        const char* name;
    } cases[] = {
        {2019, 7, "./201907_dailyDischarge.bin"},    {2020, 12, "./202012_dailyDischarge.bin"},
        {999, 3, "./099903_dailyDischarge.bin"},     {7, 1, "./000701_dailyDischarge.bin"},
        {12345, 10, "./1234510_dailyDischarge.bin"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(discharge_file_name(c.year, c.month), c.name);
    }
}
