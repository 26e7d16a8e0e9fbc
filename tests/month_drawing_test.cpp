#include "month_drawing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <istream>
#include <new>
#include <optional>
#include <stdexcept>
#include <streambuf>
#include <string>
#include <vector>

#include "run_tree.h"

TEST(ImageFileName, DayRightAlignedInFourCharacters) {
    EXPECT_EQ(image_file_name(2019, 7, 7), "./image/201907_   7_discharge.ppm");
    EXPECT_EQ(image_file_name(2019, 7, 31), "./image/201907_  31_discharge.ppm");
    EXPECT_EQ(image_file_name(999, 2, 1), "./image/099902_   1_discharge.ppm");
}

namespace {

// A month's data that serves `size` zero bytes, then throws what `fail`
// throws: the stream passes it on, as it is, to the reader.
class FailingMonth : public std::streambuf {
  public:
    FailingMonth(std::size_t size, std::function<void()> fail)
        : size_(size), fail_(std::move(fail)) {}

  protected:
    int_type underflow() override {
        if (served_ == size_) {
            fail_();
        }
        const std::size_t count = std::min(chunk_.size(), size_ - served_);
        served_ += count;
        setg(chunk_.data(), chunk_.data(), chunk_.data() + count);
        return traits_type::to_int_type(chunk_[0]);
    }

  private:
    std::size_t size_;
    std::size_t served_ = 0;
    std::function<void()> fail_;
    std::vector<char> chunk_ = std::vector<char>(4096, '\0');
};

// Runs each test in the output directory of a fresh run tree, with ./image.
class DrawMonth : public ::testing::Test {
  protected:
    void SetUp() override {
        previous_ = std::filesystem::current_path();
        std::filesystem::current_path(tree_.output);
        std::filesystem::create_directory("image");
    }
    void TearDown() override { std::filesystem::current_path(previous_); }

  private:
    RunTree tree_;
    std::filesystem::path previous_;
};

}  // namespace

TEST_F(DrawMonth, ReadingTheNextDayFailsOnEitherThread) {
    // Reading day 2 fails while day 1 is written: on the helper thread for a
    // grid of 16384 cells, between the images for a smaller one. Either way
    // day 1's image is complete, day 2's is begun and removed, and the
    // failure comes back to the caller at day 2.
    const std::vector<std::string> day_1_only{"201907_   1_discharge.ppm"};
    for (const std::int32_t side : {128, 4}) {
        for (const bool memory : {true, false}) {
            SCOPED_TRACE(std::to_string(side) + (memory ? ", memory" : ", other exception"));
            std::optional<DayCanvas> canvas = make_day_canvas(side, side);
            ASSERT_TRUE(canvas);
            FailingMonth month(canvas->values.size() * 4, [memory] {
                if (memory) {
                    throw std::bad_alloc();
                }
                throw std::runtime_error("disk gone");
            });
            DischargeFile data;
            static_cast<std::istream&>(data.stream).rdbuf(&month);
            data.stream.exceptions(std::ios::badbit);
            std::vector<std::int32_t> days;
            const auto draw = [&] {
                DayHooks hooks;
                hooks.before = [&days](std::int32_t day, const std::string&) {
                    days.push_back(day);
                };
                return draw_month(data, {2019, 7}, 3, {.maximum = 1.0F, .minimum = 0.0F}, *canvas,
                                  hooks);
            };
            if (memory) {
                const DrawingResult result = draw();
                EXPECT_EQ(result.outcome, DrawingOutcome::out_of_memory);
                EXPECT_EQ(result.day, 2);
            } else {
                EXPECT_THROW(draw(), std::runtime_error);
            }
            EXPECT_EQ(days, (std::vector<std::int32_t>{1, 2}));
            EXPECT_EQ(file_names_in("image"), day_1_only);
            std::filesystem::remove(image_file_name(2019, 7, 1));
        }
    }
}
