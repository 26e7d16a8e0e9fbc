#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "run_input.h"
#include "run_tree.h"

namespace {

struct ParseResult {
    std::optional<RunParameters> parameters;
    std::string console;
};

ParseResult parse(const std::string& text) {
    std::istringstream file(text);
    std::ostringstream console;
    ParseResult result;
    result.parameters = parse_run_parameters(file, console);
    result.console = console.str();
    return result;
}

// The echo without its first line, which read_run_parameters() prints before
// it opens the file.
std::string echo_after_heading(int ncols, int nrows, std::size_t values_read = 16) {
    const std::string echo = parameter_echo(ncols, nrows, values_read);
    return echo.substr(echo.find('\n') + 1);
}

}  // namespace

TEST(ParseRunParameters, EchoesEveryValueAndReturnsThem) {
    const ParseResult result = parse(parameter_text(30, 20));
    ASSERT_TRUE(result.parameters);
    EXPECT_EQ(result.console, echo_after_heading(30, 20));
    const RunParameters& p = *result.parameters;
    EXPECT_EQ(p.topography_scale, 2);
    EXPECT_EQ(p.ncols, 30);
    EXPECT_EQ(p.nrows, 20);
    EXPECT_DOUBLE_EQ(p.southwest_longitude, 135.5);
    EXPECT_EQ(p.input_ncols, 400);
    EXPECT_EQ(p.origin_row, 7);
    EXPECT_FLOAT_EQ(p.input_southwest_latitude, 34.0041666F);
    EXPECT_EQ(p.input_interval, 3600);
    // File order of the term: start year, end year, start month, end month.
    EXPECT_EQ(p.start_year, 2019);
    EXPECT_EQ(p.end_year, 2020);
    EXPECT_EQ(p.start_month, 4);
    EXPECT_EQ(p.end_month, 3);
}

TEST(ParseRunParameters, LayoutOfWhiteSpaceDoesNotMatter) {
    const std::vector<std::string> tokens = tokens_of(parameter_text(30, 20));
    std::string one_line;
    std::string mixed;
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        one_line += tokens[i] + " ";
        mixed += tokens[i] + (i % 3 == 0 ? "\t\t" : i % 3 == 1 ? "\r\n" : "   \n\n");
    }
    EXPECT_EQ(parse(one_line).console, echo_after_heading(30, 20));
    EXPECT_EQ(parse(mixed).console, echo_after_heading(30, 20));
}

TEST(ParseRunParameters, WholeDegreesEchoWithoutDecimalPoint) {
    const ParseResult result = parse("1 5 4 135 35 10 10 1 1 135 35 60 2000 2000 1 1");
    ASSERT_TRUE(result.parameters);
    EXPECT_NE(
        result.console.find(" Sorth West corner Longitude (degree) : 135 Latitude (deg) : 35\n"),
        std::string::npos);
    EXPECT_NE(result.console.find("southwest corner : 135\n"), std::string::npos);
}

TEST(ParseRunParameters, ValuesAfterTheSixteenthAreIgnored) {
    EXPECT_TRUE(parse(parameter_text(30, 20) + "garbage 17 18\n").parameters);
}

TEST(ParseRunParameters, SimulationTerm) {
    struct Case {
        const char* label;
        const char* term;  // start year, end year, start month, end month
        bool accepted;
    };
    const Case cases[] = {
        {"end year one before start year", "2020 2019 1 12", false},
        {"same year, end month before start month", "2019 2019 9 3", true},
        {"months out of any range are not checked", "2019 2019 0 99", true},
        {"negative years in order", "-5 -4 1 1", true},
    };
    for (const Case& c : cases) {
        const std::string text =
            "2 30 20 135.5 34.25 400 300 12 7 135.004166 34.0041666 3600 " + std::string(c.term);
        const ParseResult result = parse(text);
        EXPECT_EQ(result.parameters.has_value(), c.accepted) << c.label;
        if (!c.accepted) {
            EXPECT_TRUE(result.console.ends_with(
                "  End year : 2019  End month : 12\nSimulation year setting is wrong\n"))
                << c.label << ": " << result.console;
        }
    }
}

TEST(ParseRunParameters, GridOfFewerThanOneColumnOrRowIsRejectedAfterTheEcho) {
    const std::pair<int, int> sizes[] = {{0, 20}, {30, 0}, {-1, 5}, {5, -2147483647 - 1}};
    for (const auto& [ncols, nrows] : sizes) {
        const ParseResult result = parse(parameter_text(ncols, nrows));
        EXPECT_FALSE(result.parameters) << ncols << " x " << nrows;
        EXPECT_EQ(result.console,
                  echo_after_heading(ncols, nrows) + "Grid size setting is wrong\n");
    }
    // The term is checked first.
    const ParseResult both = parse("2 0 0 135.5 34.25 400 300 12 7 1 1 3600 2020 2019 1 1");
    EXPECT_TRUE(both.console.ends_with("Simulation year setting is wrong\n"));
}

TEST(ParseRunParameters, FileEndingEarlyStopsAfterTheCompletedSteps) {
    const std::vector<std::string> tokens = tokens_of(parameter_text(30, 20));
    ASSERT_EQ(tokens.size(), 16U);
    for (std::size_t kept = 0; kept < tokens.size(); ++kept) {
        const std::vector<std::string> head(tokens.begin(), tokens.begin() + kept);
        const ParseResult result = parse(joined(head));
        EXPECT_FALSE(result.parameters) << "cut after " << kept << " values";
        EXPECT_EQ(result.console,
                  echo_after_heading(30, 20, kept) + "param.dat is incomplete or malformed.\n")
            << "cut after " << kept << " values";
    }
}

TEST(ParseRunParameters, TokenNotOfTheValuesTypeStopsTheReader) {
    const std::vector<std::string> tokens = tokens_of(parameter_text(30, 20));
    const std::string types = PARAMETER_FIELD_TYPES;
    for (std::size_t bad = 0; bad < tokens.size(); ++bad) {
        std::vector<std::string> replacements = {"x", "-", "nan"};
        replacements.push_back(types[bad] == 'i'   ? "2147483648"
                               : types[bad] == 'f' ? "1e39"
                                                   : "1e999");
        for (const std::string& replacement : replacements) {
            std::vector<std::string> broken = tokens;
            broken[bad] = replacement;
            const ParseResult result = parse(joined(broken));
            EXPECT_FALSE(result.parameters) << "value " << bad + 1 << " = " << replacement;
            EXPECT_EQ(result.console,
                      echo_after_heading(30, 20, bad) + "param.dat is incomplete or malformed.\n")
                << "value " << bad + 1 << " = " << replacement;
        }
    }
}
