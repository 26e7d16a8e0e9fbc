#include "hydrograph_svg.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
constexpr double INF = std::numeric_limits<double>::infinity();

int days_in_month(int year, int month) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : days[month - 1];
}

// Every day from `first` to `last`, or the first `most` of them.
std::vector<Date> days_from(Date first, Date last, std::size_t most = SIZE_MAX) {
    std::vector<Date> dates;
    for (Date day = first; day <= last && dates.size() < most;) {
        dates.push_back(day);
        if (++day.day > days_in_month(day.year, day.month)) {
            day.day = 1;
            if (++day.month > 12) {
                day.month = 1;
                ++day.year;
            }
        }
    }
    return dates;
}

// A gauge over consecutive days from 2019-07-01 with these values.
GaugeSeries gauge_of(const std::vector<double>& simulated, const std::vector<double>& observed) {
    GaugeSeries gauge;
    gauge.id = "G01";
    gauge.cell = {46, 9};
    gauge.dates =
        days_from({2019, 7, 1}, {9999, 12, 31}, std::max(simulated.size(), observed.size()));
    gauge.simulated = simulated;
    gauge.observed = observed;
    gauge.simulated.resize(gauge.dates.size(), NaN);
    gauge.observed.resize(gauge.dates.size(), NaN);
    return gauge;
}

// The texts of the `<g text-anchor="ANCHOR">` group: "end" holds the
// discharge axis's labels, "middle" the date axis's.
std::vector<std::string> labels_of(const std::string& svg, const std::string& anchor) {
    std::vector<std::string> labels;
    const std::size_t group = svg.find("<g text-anchor=\"" + anchor + "\">");
    const std::size_t end = svg.find("</g>", group);
    if (group == std::string::npos || end == std::string::npos) {
        return labels;
    }
    for (std::size_t at = svg.find("\">", svg.find("<text", group)); at < end;
         at = svg.find("\">", svg.find("<text", at))) {
        const std::size_t close = svg.find("</text>", at);
        labels.push_back(svg.substr(at + 2, close - at - 2));
        if (svg.find("<text", close) > end) {
            break;
        }
    }
    return labels;
}

// The path data of a series' lines, or of its dots ("" where it has none):
// the path of its colour whose element holds `mark`.
std::string path_of(const std::string& svg, const std::string& colour, const std::string& mark) {
    const std::string head = "stroke=\"" + colour + "\"";
    for (std::size_t at = svg.find(head); at != std::string::npos; at = svg.find(head, at + 1)) {
        const std::size_t path = svg.rfind("<path", at);
        const std::size_t close = svg.find("/>", at);
        const std::string element = svg.substr(path, close - path);
        if (element.find(mark) != std::string::npos) {
            const std::size_t d = element.find(" d=\"") + 4;
            return element.substr(d, element.find('"', d) - d);
        }
    }
    return "";
}

std::string simulated_line(const std::string& svg) {
    return path_of(svg, "#1f77b4", "stroke-linejoin");
}
std::string observed_line(const std::string& svg) {
    return path_of(svg, "#222", "stroke-linejoin");
}
std::string simulated_dots(const std::string& svg) {
    return path_of(svg, "#1f77b4", "stroke-width=\"3\"");
}
std::string observed_dots(const std::string& svg) {
    return path_of(svg, "#222", "stroke-width=\"3\"");
}

std::size_t count_of(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

// FNV-1a, 64 bits: a fingerprint of bytes to pin output across platforms.
std::uint64_t fnv1a(const std::string& bytes) {
    std::uint64_t hash = 14695981039346656037ULL;
    for (const char c : bytes) {
        hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ULL;
    }
    return hash;
}

// What xmllint says of the `texts` written to files (with `options`): its
// exit status and messages; nullopt where xmllint is not installed (as
// under wine).
std::optional<std::pair<int, std::string>> xmllint(const std::vector<std::string>& texts,
                                                   const std::string& options) {
    const std::string dir = testing::TempDir();
    const std::string probe = "xmllint --version > \"" + dir + "hsvg_probe.txt\" 2>&1";
    if (std::system(probe.c_str()) != 0) {
        return std::nullopt;
    }
    std::string command = "xmllint --noout " + options;
    for (std::size_t i = 0; i < texts.size(); ++i) {
        const std::string input = dir + "hsvg_input_" + std::to_string(i) + ".xml";
        std::ofstream(input, std::ios::binary) << texts[i];
        command += " \"" + input + "\"";
    }
    const std::string output = dir + "hsvg_output.txt";
    command += " > \"" + output + "\" 2>&1";
    const int status = std::system(command.c_str());
    std::ostringstream messages;
    messages << std::ifstream(output, std::ios::binary).rdbuf();
    return std::pair<int, std::string>(status, messages.str());
}

// The checks of every SVG, whatever its values: of the size and namespace
// wanted, with no number that is not one, nothing from outside. (xmllint
// reads them in EveryHydrographIsWellFormedXml.)
void expect_sound_svg(const std::string& svg) {
    EXPECT_EQ(svg.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<svg "
                        "xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" width=\"960\" "
                        "height=\"480\" viewBox=\"0 0 960 480\"",
                        0),
              0u);
    EXPECT_EQ(svg.find("nan"), std::string::npos);
    EXPECT_EQ(svg.find("inf"), std::string::npos);
    EXPECT_EQ(svg.find("href"), std::string::npos);
    EXPECT_EQ(svg.substr(svg.size() - 7), "</svg>\n");
}

// Series that test the edges: none, all missing, one day, constant, zero,
// the extremes of doubles, infinities.
std::vector<std::pair<std::vector<double>, std::vector<double>>> degenerate_series() {
    const double huge = std::numeric_limits<double>::max();
    const double tiny = std::numeric_limits<double>::denorm_min();
    return {
        {{}, {}},
        {{NaN, NaN, NaN}, {NaN, NaN, NaN}},
        {{42}, {40}},
        {{5, 5, 5, 5}, {5, 5, 5, 5}},
        {{0, 0, 0}, {0, 0, 0}},
        {{-huge, huge, 1}, {huge, -huge, NaN}},
        {{tiny, 2 * tiny}, {tiny, NaN}},
        {{INF, -INF, NaN}, {-INF, INF, 0}},
        {{1e-300, 1e300}, {-1e300, 1e-300}},
        {{1, 2, NaN, 4, 5, 6}, {NaN, 1, INF, 3, -INF, 2}},
    };
}

}  // namespace

// ------------------------------------------------------------- xml_escaped

TEST(HydrographSvg, EscapesMarkupAndRepairsText) {
    const std::string fffd = "\xEF\xBF\xBD";
    struct Case {
        std::string text;
        std::string escaped;
    };
    const Case cases[] = {
        {"", ""},
        {"G01", "G01"},
        {"a&b", "a&amp;b"},
        {"<tag>", "&lt;tag&gt;"},
        {"\"q\" 'a'", "&quot;q&quot; &#39;a&#39;"},
        {"&amp;", "&amp;amp;"},
        {"Z\xC3\xBCrich \xE6\xB0\xB4 \xF0\x9F\x98\x80",
         "Z\xC3\xBCrich \xE6\xB0\xB4 \xF0\x9F\x98\x80"},
        {"tab\tline\n", "tab\tline\n"},
        {"\xFF", fffd},
        {"a\x80"
         "b",
         "a" + fffd + "b"},
        {"\xC3", fffd},  // cut short at the end
        {"\xE2\x82"
         "A",
         fffd + "A"},                                     // cut short: one U+FFFD
        {"\xC0\xAF", fffd + fffd},                        // overlong '/'
        {"\xE0\x80\xAF", fffd + fffd + fffd},             // overlong, 3 bytes
        {"\xED\xA0\x80", fffd + fffd + fffd},             // a UTF-16 surrogate
        {"\xF4\x90\x80\x80", fffd + fffd + fffd + fffd},  // past U+10FFFF
        {"\xF4\x8F\xBF\xBF", "\xF4\x8F\xBF\xBF"},         // U+10FFFF itself
        {"\xF8\x88\x80\x80\x80", fffd + fffd + fffd + fffd + fffd},
        {"\r", fffd},
        {"a\x01"
         "b\x1F",
         "a" + fffd + "b" + fffd},
        {std::string("a\0b", 3), "a" + fffd + "b"},
        {"\x7F", fffd},                             // DEL
        {"\xC2\x85", fffd},                         // NEL, a C1 control
        {"\xC2\xA0", "\xC2\xA0"},                   // no-break space
        {"\xEF\xBF\xBE\xEF\xBF\xBF", fffd + fffd},  // U+FFFE, U+FFFF
        {fffd, fffd},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(xml_escaped(c.text), c.escaped) << c.text;
    }
}

// ------------------------------------------------------------ value ticks

TEST(HydrographSvg, LinearAxisTicksAreNiceSteps) {
    struct Case {
        double low;
        double high;
        std::vector<std::string> ticks;
    };
    const std::vector<Case> cases = {
        {20, 180, {"0", "50", "100", "150", "200"}},
        {0, 1, {"0.0", "0.2", "0.4", "0.6", "0.8", "1.0"}},
        {0, 7, {"0", "1", "2", "3", "4", "5", "6", "7"}},
        {0, 8, {"0", "2", "4", "6", "8"}},
        {0.001, 0.034, {"0.000", "0.005", "0.010", "0.015", "0.020", "0.025", "0.030", "0.035"}},
        {10, 12345, {"0", "2000", "4000", "6000", "8000", "10000", "12000", "14000"}},
        {-3, 10, {"-4", "-2", "0", "2", "4", "6", "8", "10"}},
        {5, 5, {"0", "1", "2", "3", "4", "5"}},
        {0, 0, {"0.0", "0.2", "0.4", "0.6", "0.8", "1.0"}},
        {0, 1e300, {"0", "2e+299", "4e+299", "6e+299", "8e+299", "1e+300"}},
        {0, std::numeric_limits<double>::max(), {"0", "1.8e+308"}},
    };
    for (const Case& c : cases) {
        const std::string svg = hydrograph_svg(gauge_of({c.low, c.high}, {}), "m3 s-1", false);
        EXPECT_EQ(labels_of(svg, "end"), c.ticks) << c.low << " " << c.high;
    }
}

TEST(HydrographSvg, LinearAxisHasFourToEightTicksCoveringTheValues) {
    for (double high = 1e-6; high < 1e9; high *= 1.0137) {
        const std::string svg = hydrograph_svg(gauge_of({0, high}, {}), "", false);
        const std::vector<std::string> ticks = labels_of(svg, "end");
        ASSERT_GE(ticks.size(), 4u) << high;
        ASSERT_LE(ticks.size(), 8u) << high;
        EXPECT_GE(std::stod(ticks.back()), high * (1 - 1e-12)) << high;
        EXPECT_EQ(std::stod(ticks.front()), 0) << high;
    }
}

TEST(HydrographSvg, LogAxisTicksAreDecades) {
    struct Case {
        double low;
        double high;
        std::vector<std::string> ticks;
    };
    const std::vector<Case> cases = {
        {3, 250, {"1", "10", "100", "1000"}},
        {20, 180, {"10", "20", "50", "100", "200", "500", "1000"}},
        {100, 100, {"100", "200", "500", "1000"}},
        {0.05, 0.9, {"0.01", "0.02", "0.05", "0.1", "0.2", "0.5", "1"}},
        {1e-3, 1e6, {"0.0001", "0.01", "1", "100", "10000", "1e6"}},
        {1e-300, 1e300, {"1e-300", "1e-200", "1e-100", "1", "1e100", "1e200", "1e300"}},
    };
    for (const Case& c : cases) {
        const std::string svg = hydrograph_svg(gauge_of({c.low, c.high}, {}), "m3 s-1", true);
        EXPECT_EQ(labels_of(svg, "end"), c.ticks) << c.low << " " << c.high;
        expect_sound_svg(svg);
    }
}

// --------------------------------------------------------------- date ticks

TEST(HydrographSvg, DateTicksAreDaysMonthsOrYears) {
    struct Case {
        Date first;
        Date last;
        std::vector<std::string> ticks;
    };
    const std::vector<Case> cases = {
        {{2019, 7, 1}, {2019, 7, 31}, {"2019-07-01", "2019-07-08", "2019-07-15", "2019-07-22"}},
        {{2019, 1, 1},
         {2019, 12, 31},
         {"2019-01", "2019-02", "2019-03", "2019-04", "2019-05", "2019-06", "2019-07", "2019-08",
          "2019-09", "2019-10", "2019-11", "2019-12"}},
        {{2019, 1, 1},
         {2020, 6, 30},
         {"2019-01", "2019-03", "2019-05", "2019-07", "2019-09", "2019-11", "2020-01", "2020-03",
          "2020-05"}},
        {{2019, 7, 15},
         {2020, 3, 31},
         {"2019-08", "2019-09", "2019-10", "2019-11", "2019-12", "2020-01", "2020-02", "2020-03"}},
        {{2019, 1, 1},
         {2021, 12, 31},
         {"2019-01", "2019-04", "2019-07", "2019-10", "2020-01", "2020-04", "2020-07", "2020-10",
          "2021-01", "2021-04", "2021-07", "2021-10"}},
        {{2015, 1, 1},
         {2019, 12, 31},
         {"2015-01", "2015-07", "2016-01", "2016-07", "2017-01", "2017-07", "2018-01", "2018-07",
          "2019-01", "2019-07"}},
        {{2010, 1, 1},
         {2019, 12, 31},
         {"2010", "2011", "2012", "2013", "2014", "2015", "2016", "2017", "2018", "2019"}},
        {{1990, 1, 1}, {2019, 12, 31}, {"1990", "1995", "2000", "2005", "2010", "2015"}},
        {{1901, 3, 1},
         {2100, 2, 28},
         {"1920", "1940", "1960", "1980", "2000", "2020", "2040", "2060", "2080", "2100"}},
    };
    for (const Case& c : cases) {
        GaugeSeries gauge = gauge_of({}, {});
        gauge.dates = days_from(c.first, c.last);
        gauge.simulated.assign(gauge.dates.size(), 1.0);
        gauge.observed.assign(gauge.dates.size(), NaN);
        const std::string svg = hydrograph_svg(gauge, "m3 s-1", false);
        EXPECT_EQ(labels_of(svg, "middle"), c.ticks) << c.first.year << "-" << c.first.month;
        EXPECT_EQ(count_of(simulated_line(svg), "M"), 1u);
    }
}

// ----------------------------------------------------------------- the lines

TEST(HydrographSvg, MissingValuesBreakTheLines) {
    const std::string svg =
        hydrograph_svg(gauge_of({1, 2, NaN, 4, 5, 6}, {NaN, 1, INF, 3, -INF, 2}), "m3 s-1", false);
    const std::string simulated = simulated_line(svg);
    EXPECT_EQ(count_of(simulated, "M"), 2u) << simulated;
    EXPECT_EQ(simulated_dots(svg), "");
    // The observed days 2, 4 and 6 stand alone: each a dot, and no line.
    EXPECT_EQ(observed_line(svg), "");
    EXPECT_EQ(count_of(observed_dots(svg), "M"), 3u) << observed_dots(svg);
    EXPECT_EQ(count_of(observed_dots(svg), "h0"), 3u) << observed_dots(svg);
    expect_sound_svg(svg);
}

TEST(HydrographSvg, LogAxisLeavesOutValuesAtOrBelowZero) {
    const std::vector<double> values = {1, 0, -1, 10, 100, 0, 1000};
    const std::string log = hydrograph_svg(gauge_of(values, {}), "m3 s-1", true);
    EXPECT_EQ(count_of(simulated_line(log), "M"), 1u) << simulated_line(log);   // 10, 100
    EXPECT_EQ(count_of(simulated_dots(log), "h0"), 2u) << simulated_dots(log);  // 1, 1000
    EXPECT_NE(log.find(">values at or below 0 left out (log axis)</text>"), std::string::npos);
    EXPECT_EQ(labels_of(log, "end"), (std::vector<std::string>{"1", "10", "100", "1000"}));
    const std::string linear = hydrograph_svg(gauge_of(values, {}), "m3 s-1", false);
    EXPECT_EQ(count_of(simulated_line(linear), "M"), 1u);
    EXPECT_EQ(linear.find("left out"), std::string::npos);
    expect_sound_svg(log);
    expect_sound_svg(linear);
}

TEST(HydrographSvg, LinesAreDrawnInTenthsOfPixels) {
    // 3 days across the plot's 844 pixels from x 80: slots of 281.33, the
    // values at their middles; 0 at y 424, 200 at y 44 (the axis to 200).
    const std::string svg = hydrograph_svg(gauge_of({0, 100, 180}, {}), "m3 s-1", false);
    EXPECT_EQ(simulated_line(svg), "M220.7 424l281.3-190 281.3-152");
    EXPECT_EQ(observed_line(svg), "");
}

// ------------------------------------------------------- degenerate series

TEST(HydrographSvg, DegenerateSeriesGiveSoundSvg) {
    for (const auto& [simulated, observed] : degenerate_series()) {
        for (const bool log : {false, true}) {
            const std::string svg = hydrograph_svg(gauge_of(simulated, observed), "m3 s-1", log);
            SCOPED_TRACE(svg);
            expect_sound_svg(svg);
        }
    }
}

TEST(HydrographSvg, EveryHydrographIsWellFormedXml) {
    std::vector<std::string> svgs;
    for (const auto& [simulated, observed] : degenerate_series()) {
        for (const bool log : {false, true}) {
            svgs.push_back(hydrograph_svg(gauge_of(simulated, observed), "m3 s-1", log));
        }
    }
    GaugeSeries odd = gauge_of({1, 2}, {1, 2});
    odd.id = "<b>\"Mill\" & 'Weir'</b>\x01\xFF\xC3\xA9\r";
    svgs.push_back(hydrograph_svg(odd, "m3 <s>-1 & \"\x7F", true));
    std::vector<double> long_series;
    for (int day = 0; day < 10000; ++day) {
        long_series.push_back(day % 37 == 0 ? NaN : 1 + day % 1000);
    }
    svgs.push_back(hydrograph_svg(gauge_of(long_series, long_series), "m3 s-1", true));
    const auto result = xmllint(svgs, "");
    if (!result) {
        GTEST_SKIP() << "xmllint is not installed";
    }
    EXPECT_EQ(result->first, 0) << result->second;
    EXPECT_EQ(result->second, "");
    // The check itself refuses text left unescaped.
    EXPECT_NE(
        xmllint({"<svg xmlns=\"http://www.w3.org/2000/svg\"><text>a & b</text></svg>"}, "")->first,
        0);
}

TEST(HydrographSvg, EmptyAndAllMissingSeriesSaySo) {
    const std::string empty = hydrograph_svg(gauge_of({}, {}), "m3 s-1", false);
    EXPECT_NE(empty.find(">no values</text>"), std::string::npos);
    EXPECT_EQ(labels_of(empty, "middle"), std::vector<std::string>{});
    EXPECT_EQ(simulated_line(empty), "");
    EXPECT_EQ(simulated_dots(empty), "");
    const std::string missing = hydrograph_svg(gauge_of({NaN, NaN}, {NaN, NaN}), "", true);
    EXPECT_NE(missing.find(">no values above 0</text>"), std::string::npos);
    EXPECT_EQ(labels_of(missing, "end"), (std::vector<std::string>{"1", "2", "5", "10"}));
    EXPECT_NE(missing.find(">discharge</text>"), std::string::npos);  // no units
}

TEST(HydrographSvg, OneDayIsADotInTheMiddle) {
    const std::string svg = hydrograph_svg(gauge_of({42}, {40}), "m3 s-1", false);
    EXPECT_EQ(simulated_dots(svg), "M502 104.8h0");  // 0..50: 42 at 424 - 0.84 * 380
    EXPECT_EQ(observed_dots(svg), "M502 120h0");
    EXPECT_EQ(simulated_line(svg), "");
    EXPECT_EQ(labels_of(svg, "middle"), std::vector<std::string>{"2019-07-01"});
}

TEST(HydrographSvg, TenThousandDaysStaySmall) {
    std::vector<double> simulated;
    std::vector<double> observed;
    for (int day = 0; day < 10000; ++day) {
        simulated.push_back(500 + 400 * std::sin(day / 30.0) + (day * 7919 % 101));
        observed.push_back(day % 50 == 0 ? NaN : 480 + 380 * std::sin((day - 3) / 30.0));
    }
    const std::string svg = hydrograph_svg(gauge_of(simulated, observed), "m3 s-1", false);
    EXPECT_LT(svg.size(), 250000u);
    EXPECT_EQ(count_of(simulated_line(svg), "M"), 1u);
    EXPECT_EQ(count_of(observed_line(svg), "M"), 200u);
    EXPECT_EQ(labels_of(svg, "middle").size(), 6u);  // 1970-2047: every 5 years
    expect_sound_svg(svg);
}

// ------------------------------------------------------ title and escaping

TEST(HydrographSvg, TitleHoldsTheCellAndScores) {
    GaugeSeries gauge = gauge_of({1, 2}, {1, 2});
    gauge.scores.nse = 0.81249;
    gauge.scores.kge = -12.3456;
    gauge.scores.pbias = -0.04;
    const std::string svg = hydrograph_svg(gauge, "m3 s-1", false);
    EXPECT_NE(svg.find("<title>G01 (column 46, row 9): NSE 0.812, KGE -12.346, PBIAS 0.0 "
                       "%</title>"),
              std::string::npos);
    gauge.scores = {};
    gauge.scores.nse = -3.5e9;
    EXPECT_NE(hydrograph_svg(gauge, "", false)
                  .find(">G01 (column 46, row 9): NSE -3.5e+09, KGE n/a, PBIAS n/a %</text>"),
              std::string::npos);
}

TEST(HydrographSvg, UserTextIsEscaped) {
    GaugeSeries gauge = gauge_of({1, 2}, {1, 2});
    gauge.id = "<b>\"Mill\" & 'Weir'</b>\x01\xFF";
    const std::string svg = hydrograph_svg(gauge, "m3 <s>-1 & \"", false);
    EXPECT_NE(svg.find("&lt;b&gt;&quot;Mill&quot; &amp; &#39;Weir&#39;&lt;/b&gt;\xEF\xBF\xBD"
                       "\xEF\xBF\xBD (column"),
              std::string::npos);
    EXPECT_NE(svg.find(">discharge (m3 &lt;s&gt;-1 &amp; &quot;)</text>"), std::string::npos);
    EXPECT_EQ(svg.find("<b>"), std::string::npos);
    expect_sound_svg(svg);
}

// ---------------------------------------------------------------- pinned

// The bytes of a small hydrograph, pinned: every platform (Linux on x86-64,
// arm64 and s390x, Windows) must write these.
TEST(HydrographSvg, SmallHydrographIsTheSameEverywhere) {
    GaugeSeries gauge = gauge_of({12.5, 30.25, NaN, 7.125, 0.3, 88.8}, {10, NaN, 25.5, 8, 0, 70.1});
    gauge.id = "Upper / Mill";
    gauge.scores.nse = 0.812;
    gauge.scores.kge = 0.794;
    gauge.scores.pbias = -3.14;
    const std::string linear = hydrograph_svg(gauge, "m3 s-1", false);
    const std::string log = hydrograph_svg(gauge, "m3 s-1", true);
    EXPECT_EQ(simulated_line(linear), "M150.3 376.5l140.7-67.4M572.3 396.9l140.7 26 140.7-336.3");
    EXPECT_EQ(observed_line(log), "M431.7 119.2l140.6 63.7");
    EXPECT_EQ(observed_dots(log), "M150.3 170.7h0M853.7 63.5h0");
    EXPECT_EQ(linear.size(), 1854u);
    EXPECT_EQ(fnv1a(linear), 3720618501595151139u) << linear;
    EXPECT_EQ(log.size(), 2116u);
    EXPECT_EQ(fnv1a(log), 1780548700789324473u) << log;
}

// ------------------------------------------------------------------- page

namespace {

GaugeSeries scored_gauge(const std::string& id) {
    GaugeSeries gauge = gauge_of({1, 2, 3}, {1, 2, 4});
    gauge.id = id;
    gauge.scores.days = 3;
    gauge.scores.nse = 0.81234;
    gauge.scores.kge = -0.5;
    gauge.scores.r = 1;
    gauge.scores.pbias = -14.2857;
    gauge.scores.rmse = 0.000012345;
    gauge.scores.mean_sim = 12345.6;
    gauge.scores.mean_obs = 2.5e15;
    return gauge;
}

}  // namespace

TEST(HydrographSvg, PageListsTheGaugesWithTheirScores) {
    const std::string page = gauges_page({scored_gauge("G01")}, {"G01"}, "m3 s-1");
    EXPECT_EQ(
        page.rfind("<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">", 0), 0u);
    EXPECT_NE(page.find("<style>"), std::string::npos);
    EXPECT_EQ(page.find("<script"), std::string::npos);
    EXPECT_NE(page.find("<tr><td><a href=\"#gauge-1\">G01</a></td><td>46</td><td>9</td><td>3</td>"
                        "<td>0.8123</td><td>n/a</td><td>-0.5</td><td>n/a</td><td>1</td>"
                        "<td>n/a</td><td>n/a</td><td>n/a</td><td>-14.29</td><td>1.234e-05</td>"
                        "<td>12346</td><td>2.5e+15</td></tr>"),
              std::string::npos)
        << page;
    EXPECT_NE(page.find("<th>RMSE (m3 s-1)</th>"), std::string::npos);
    EXPECT_NE(page.find("<div class=\"gauge\" id=\"gauge-1\">\n<h2>G01</h2>\n<img src=\"G01.svg\" "
                        "width=\"960\" height=\"480\" alt=\"The hydrograph of G01\">"),
              std::string::npos)
        << page;
    EXPECT_EQ(page.substr(page.size() - 16), "</body>\n</html>\n");
}

TEST(HydrographSvg, PageEscapesIdsAndAddressesFilesByTheirNames) {
    // The file of "a/b <c> & \"d\" 'é'" is named with "%XX" for the bytes
    // kept out of file names; the browser decodes the src, so its '%'
    // is "%25" there, or "a%2Fb.svg" would load a file "a/b.svg".
    const std::string id = "a/b <c> & \"d\" '\xC3\xA9'";
    const std::string stem = "a%2Fb%20%3Cc%3E%20%26%20%22d%22%20%27%C3%A9%27";
    const std::string page =
        gauges_page({scored_gauge(id), scored_gauge("G02")}, {stem, "G02"}, "m3 <s>");
    const std::string escaped = "a/b &lt;c&gt; &amp; &quot;d&quot; &#39;\xC3\xA9&#39;";
    EXPECT_NE(page.find("<h2>" + escaped + "</h2>"), std::string::npos);
    EXPECT_NE(page.find("\">" + escaped + "</a></td>"), std::string::npos);
    EXPECT_NE(page.find("<img src=\"a%252Fb%2520%253Cc%253E%2520%2526%2520%2522d%2522%2520%2527%"
                        "25C3%25A9%2527.svg\""),
              std::string::npos)
        << page;
    EXPECT_NE(page.find("alt=\"The hydrograph of " + escaped + "\">"), std::string::npos);
    EXPECT_NE(page.find("<th>RMSE (m3 &lt;s&gt;)</th>"), std::string::npos);
    EXPECT_NE(page.find("<img src=\"G02.svg\""), std::string::npos);
    EXPECT_LT(page.find("id=\"gauge-1\""), page.find("id=\"gauge-2\""));
    EXPECT_EQ(page.find("<c>"), std::string::npos);
}

TEST(HydrographSvg, PageIsValidHtml) {
    const std::string page =
        gauges_page({scored_gauge("<x>&\x01\xFF"), scored_gauge("Z\xC3\xBCrich")},
                    {"%3Cx%3E%26%01%FF", "Z%C3%BCrich"}, "m3 s-1");
    const std::string empty = gauges_page({}, {}, "m3 s-1");
    EXPECT_NE(empty.find("<p>0 gauges."), std::string::npos);
    const auto result = xmllint({page, empty}, "--html");
    if (!result) {
        GTEST_SKIP() << "xmllint is not installed";
    }
    EXPECT_EQ(result->first, 0) << result->second;
    EXPECT_EQ(result->second, "") << page;
    // xmllint's HTML parser says what it repairs (with status 0): an id
    // written as it is would be such a fault.
    std::string raw = page;
    raw.replace(raw.find("&lt;x&gt;&amp;"), 14, "<x&");
    EXPECT_NE(xmllint({raw}, "--html")->second, "");
}
