#include "progress.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <limits>
#include <sstream>
#include <string>

namespace {

using namespace std::chrono_literals;

// The transcript of a run of three months of 30 images of 1 MB, timed by a
// clock of the test's own: one month found up to date, one that fails after
// two images are drawn, one of which a single image is drawn.
std::string three_months(bool terminal, int width, std::uint64_t image_bytes = 1000000) {
    Progress::Clock::time_point clock{};
    std::ostringstream out;
    Progress progress;
    progress.now = [&clock] { return clock; };
    progress.start = clock;
    start_progress(progress, out, terminal ? width : -1, {{2019, 7}, {2019, 8}, {2019, 9}},
                   {.items = "images", .total = 90, .each = image_bytes});

    note_kept(progress, 30);
    note_month(progress, "201907", MonthEnd::up_to_date, "up to date");
    clock += 1s;
    note_image(progress);
    clock += 2s;
    note_image(progress);
    note_month(progress, "201908", MonthEnd::failed,
               "./image/x.ppm: Image output file cannot write.");
    clock += 2min;
    note_image(progress);
    note_month(progress, "201909", MonthEnd::drawn, "1 images drawn, range 0,1");
    clock += 4s;
    finish_progress(progress);
    return out.str();
}

// The progress lines in turn, each but the first after the blanking of the
// one before: "\r", as many spaces as it has characters, "\r".
std::string rewritten(std::initializer_list<std::string> lines) {
    std::string text;
    std::size_t shown = 0;
    for (const std::string& line : lines) {
        if (shown > 0) {
            text += '\r';
            text.append(shown, ' ');
            text += '\r';
        }
        text += line;
        shown = line.size();
    }
    return text;
}

}  // namespace

TEST(Progress, TerminalLineIsRewrittenWithinTheWidth) {
    // No rate until a second image is drawn: then 1 MB in the 2 s since the
    // first, and 58 images left at 2 s each; later 2 images in 122 s and 57
    // left. The 30 images kept count as done, never as drawn work. The line
    // is shortened to 29 characters: the rate goes first, then the months.
    std::string expected =
        rewritten({"months 0/3, images 30/90", "months 1/3, images 30/90",
                   "months 1/3, images 31/90", "images 32/90, 1 min 56 s left", ""});
    expected += "201908: ./image/x.ppm: Image output file cannot write.\n";
    expected += rewritten({"images 32/90, 1 min 56 s left", "33/90, 57 min 57 s left", ""});
    expected += "1 drawn, 1 up to date, 1 failed in 2 min 07 s\n";
    EXPECT_EQ(three_months(true, 30), expected);
    // Where the width is not known, 80 columns hold the whole line.
    const std::string wide = three_months(true, 0);
    EXPECT_NE(wide.find("\rmonths 1/3, images 32/90, 0.50 MB/s, 1 min 56 s left\r"),
              std::string::npos)
        << wide;
    EXPECT_NE(wide.find("\rmonths 2/3, images 33/90, 0.02 MB/s, 57 min 57 s left\r"),
              std::string::npos)
        << wide;
    // Images of no fixed size (PNG) count in images a second.
    const std::string png = three_months(true, 0, 0);
    EXPECT_NE(png.find("\rmonths 1/3, images 32/90, 0.50 images/s, 1 min 56 s left\r"),
              std::string::npos)
        << png;
}

TEST(Progress, NarrowTerminalsNeverWrapNorSeeEscapes) {
    for (int width = 1; width <= 60; ++width) {
        const std::string transcript = three_months(true, width);
        EXPECT_EQ(transcript.find('\x1b'), std::string::npos) << width;
        // What comes before a carriage return is a progress line or its blank.
        std::size_t begin = 0;
        for (std::size_t end = transcript.find_first_of("\r\n"); end != std::string::npos;
             end = transcript.find_first_of("\r\n", begin)) {
            if (transcript[end] == '\r') {
                EXPECT_LE(static_cast<int>(end - begin), width - 1)
                    << width << ": " << transcript.substr(begin, end - begin);
            }
            begin = end + 1;
        }
        EXPECT_TRUE(transcript.ends_with("1 drawn, 1 up to date, 1 failed in 2 min 07 s\n"))
            << width;
    }
    // The numbers of the shortest line are never cut: below its width there
    // is no line at all.
    EXPECT_NE(three_months(true, 6).find("\r33/90\r"), std::string::npos);
    EXPECT_EQ(three_months(true, 5).find("/90"), std::string::npos);
}

TEST(Progress, LogGetsPlainLines) {
    EXPECT_EQ(three_months(false, 30),
              "201907: up to date\n"
              "201908: ./image/x.ppm: Image output file cannot write.\n"
              "201909: 1 images drawn, range 0,1\n"
              "1 drawn, 1 up to date, 1 failed in 2 min 07 s\n");
}

TEST(Progress, DurationsRoundToTheirLastUnit) {
    const struct {
        double seconds;
        const char* text;
    } cases[] = {
        {0.0, "0.0 s"},
        {0.04, "0.0 s"},
        {0.4, "0.4 s"},
        {9.94, "9.9 s"},
        {9.96, "10 s"},
        {12.0, "12 s"},
        {59.4, "59 s"},
        {59.6, "1 min 00 s"},
        {185.0, "3 min 05 s"},
        {3599.4, "59 min 59 s"},
        {3599.6, "1 h 00 min"},
        {7529.0, "2 h 05 min"},
        {7530.0, "2 h 06 min"},
        {-1.0, "0.0 s"},
        {std::numeric_limits<double>::quiet_NaN(), "0.0 s"},
        {std::numeric_limits<double>::infinity(), "277777777 h 47 min"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(duration_text(c.seconds), c.text) << c.seconds;
    }
}
