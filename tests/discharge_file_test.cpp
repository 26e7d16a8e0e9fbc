#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <sstream>

#include "run_input.h"
#include "run_tree.h"

namespace {

// Runs each test in the output directory of a fresh run tree, where the
// monthly files are looked up.
class DischargeFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        previous_ = std::filesystem::current_path();
        std::filesystem::current_path(tree_.output);
    }
    void TearDown() override { std::filesystem::current_path(previous_); }

    void write_month(const std::string& bytes) {
        write_text(tree_.output / "201907_dailyDischarge.bin", bytes);
    }

    bool open(DischargeFile& file) { return open_discharge_file(file, 2019, 7, console_); }

    RunTree tree_;
    std::ostringstream console_;

  private:
    std::filesystem::path previous_;
};

constexpr std::int32_t INT32_LIMIT = std::numeric_limits<std::int32_t>::max();

}  // namespace

TEST(DecodeDischargeValue, LeastSignificantByteFirst) {
    const unsigned char minus_one[] = {0x00, 0x00, 0x80, 0xBF};
    EXPECT_EQ(decode_discharge_value(minus_one), -1.0F);
    const unsigned char pattern[] = {0x01, 0x02, 0x03, 0x04};
    EXPECT_EQ(std::bit_cast<std::uint32_t>(decode_discharge_value(pattern)), 0x04030201U);
    const unsigned char missing[] = {0x00, 0xC0, 0x79, 0xC4};
    EXPECT_EQ(decode_discharge_value(missing), -999.0F);
}

TEST(EncodeDischargeValue, LeastSignificantByteFirstAndBack) {
    std::string bytes;
    encode_discharge_value(-1.0F, bytes);
    encode_discharge_value(std::bit_cast<float>(0x04030201U), bytes);
    EXPECT_EQ(bytes, std::string("\x00\x00\x80\xBF\x01\x02\x03\x04", 8));
    EXPECT_EQ(decode_discharge_value(reinterpret_cast<const unsigned char*>(bytes.data())), -1.0F);
}

TEST(MonthValueCount, CountsAndOverflow) {
    EXPECT_EQ(month_value_count(31, 100, 120), 372000U);
    EXPECT_EQ(month_value_count(28, 1, 1), 28U);
    // 31 x (2^31 - 1)^2 values fit in 64 bits, but not their 4-byte size.
    EXPECT_EQ(month_value_count(1, INT32_LIMIT, INT32_LIMIT),
              std::uint64_t{INT32_LIMIT} * std::uint64_t{INT32_LIMIT});
    EXPECT_EQ(month_value_count(31, INT32_LIMIT, INT32_LIMIT), std::nullopt);
    EXPECT_EQ(month_value_count(2, INT32_LIMIT, INT32_LIMIT), std::nullopt);
    EXPECT_EQ(month_value_count(31, -1, 5), std::nullopt);
}

TEST_F(DischargeFileTest, OpenPrintsTheNameFirst) {
    write_month(encode_values({1.0F}));
    DischargeFile file;
    EXPECT_TRUE(open(file));
    EXPECT_EQ(console_.str(), "Read ./201907_dailyDischarge.bin\n");
    EXPECT_TRUE(file.seekable);
    EXPECT_EQ(file.size_bytes, 4U);
}

TEST_F(DischargeFileTest, OpenFailsOnMissingFileOrDirectory) {
    DischargeFile missing;
    EXPECT_FALSE(open(missing));
    std::filesystem::create_directory(tree_.output / "201907_dailyDischarge.bin");
    DischargeFile directory;
    EXPECT_FALSE(open(directory));
    EXPECT_EQ(console_.str(),
              "Read ./201907_dailyDischarge.bin\nRead ./201907_dailyDischarge.bin\n");
}

TEST_F(DischargeFileTest, HoldsMonthComparesTheSizeWithTheMonth) {
    const std::vector<float> month = counting_values(31 * 2 * 3);
    const std::string bytes = encode_values(month);
    struct Case {
        const char* label;
        std::size_t length;
        bool holds;
    };
    const Case cases[] = {
        {"exact", bytes.size(), true},
        {"longer", bytes.size() + 5, true},
        {"one byte short", bytes.size() - 1, false},
        {"one value short", bytes.size() - 4, false},
        {"empty", 0, false},
    };
    for (const Case& c : cases) {
        write_month(c.length <= bytes.size() ? bytes.substr(0, c.length) : bytes + "12345");
        DischargeFile file;
        ASSERT_TRUE(open(file)) << c.label;
        EXPECT_EQ(holds_month(file, 31, 2, 3), c.holds) << c.label;
        EXPECT_FALSE(holds_month(file, 31, INT32_LIMIT, INT32_LIMIT)) << c.label;
    }
}

TEST_F(DischargeFileTest, BlockReadsStopAtTheEndAndStayFailed) {
    write_month(encode_values({1.5F, -999.0F, 3.0F, 4.0F, 5.0F}));
    DischargeFile file;
    ASSERT_TRUE(open(file));
    std::vector<float> values(3);
    EXPECT_EQ(read_discharge_values(file, values), 3U);
    EXPECT_EQ(values, (std::vector<float>{1.5F, -999.0F, 3.0F}));
    EXPECT_FALSE(file.failed);
    EXPECT_EQ(read_discharge_values(file, values), 2U);
    EXPECT_EQ(values[0], 4.0F);
    EXPECT_EQ(values[1], 5.0F);
    EXPECT_TRUE(file.failed);
    EXPECT_EQ(read_discharge_values(file, values), 0U);

    // The failure outlives the stream: the next opening of the month fails.
    close_discharge_file(file);
    EXPECT_FALSE(open(file));
}

TEST_F(DischargeFileTest, PartialLastValueIsNotAValue) {
    write_month(encode_values({7.0F}) + std::string("\x01\x02\x03", 3));
    DischargeFile file;
    ASSERT_TRUE(open(file));
    float value = 0.0F;
    EXPECT_TRUE(read_discharge_value(file, value));
    EXPECT_EQ(value, 7.0F);
    EXPECT_FALSE(read_discharge_value(file, value));
    EXPECT_EQ(value, 7.0F);
    EXPECT_TRUE(file.failed);
}

TEST_F(DischargeFileTest, PositionedReadsAndSkips) {
    write_month(encode_values(counting_values(10)));
    DischargeFile file;
    ASSERT_TRUE(open(file));
    float value = 0.0F;
    EXPECT_TRUE(read_discharge_value_at(file, 9, value));
    EXPECT_EQ(value, 10.0F);
    EXPECT_TRUE(read_discharge_value_at(file, 0, value));
    EXPECT_EQ(value, 1.0F);
    EXPECT_TRUE(skip_discharge_values(file, 4));
    EXPECT_TRUE(read_discharge_value(file, value));
    EXPECT_EQ(value, 6.0F);
    EXPECT_FALSE(skip_discharge_values(file, 5));
    EXPECT_TRUE(file.failed);

    DischargeFile again;
    ASSERT_TRUE(open(again));
    EXPECT_FALSE(read_discharge_value_at(again, 10, value));
    EXPECT_EQ(value, 6.0F);
    EXPECT_TRUE(again.failed);
}
