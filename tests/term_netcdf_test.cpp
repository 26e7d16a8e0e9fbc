// The NetCDF writer in this process: how a run that failed ends, and that
// the netCDF and HDF5 libraries still work after it where they should.
#include "term_netcdf.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "run_tree.h"
#ifndef _WIN32
#include "fifo_feeder.h"
#endif

namespace {

class NetcdfWriter : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!NETCDF_AVAILABLE) {
            GTEST_SKIP() << "no NetCDF support in this build";
        }
        write_text(tree_.root / "param.dat", parameter_text(5, 4));
        for (const char* month : {"201911", "201912"}) {
            write_text(
                tree_.output / (std::string(month) + "_dailyDischarge.bin"),
                encode_values(counting_values(std::size_t{5} * 4 * (month[5] == '1' ? 30 : 31))));
        }
        previous_ = std::filesystem::current_path();
        std::filesystem::current_path(tree_.output);
    }
    void TearDown() override {
        if (!previous_.empty()) {
            std::filesystem::current_path(previous_);
        }
    }

    NetcdfEnd write(std::string& errors) {
        std::ostringstream out;
        const NetcdfEnd end = run_term_netcdf("2019-11", "2019-12", {}, out, -1);
        errors = out.str();
        return end;
    }

    RunTree tree_;
    std::filesystem::path previous_;
};

}  // namespace

// A month that ends early while the file is written fails the run, but the
// library is healthy: the dataset is closed as usual, the process need not
// end at once, and the next file is written.
TEST_F(NetcdfWriter, MonthEndingEarlyClosesTheDatasetAsUsual) {
#ifdef _WIN32
    GTEST_SKIP() << "a FIFO as the monthly file";
#else
    const std::filesystem::path december = tree_.output / "201912_dailyDischarge.bin";
    std::filesystem::remove(december);
    std::string errors;
    {
        // Opened once to be checked, once to be written: the second time it
        // ends a value short.
        const std::string month = encode_values(counting_values(std::size_t{5} * 4 * 31));
        FifoFeeder feeder(december, {month, month.substr(4)});
        const NetcdfEnd end = write(errors);
        EXPECT_EQ(end.status, 1);
        EXPECT_FALSE(end.end_at_once);
    }
    EXPECT_EQ(errors,
              "201911: written\n201912: ./201912_dailyDischarge.bin: Daily discharge data cannot "
              "open. (it ended before the month did)\nNo NetCDF file written: every month of the "
              "selection is needed.\n");
    EXPECT_FALSE(std::filesystem::exists(tree_.output / "201911-201912_discharge.nc"));
    std::filesystem::remove(december);
    write_text(december, encode_values(counting_values(std::size_t{5} * 4 * 31)));
    const NetcdfEnd again = write(errors);
    EXPECT_EQ(again.status, 0) << errors;
    EXPECT_FALSE(again.end_at_once);
    EXPECT_TRUE(std::filesystem::exists(tree_.output / "201911-201912_discharge.nc"));
#endif
}
