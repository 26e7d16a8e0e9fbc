// Any bytes as a monthly discharge file, read by both programs with small
// grids: discharge_image with a typed and with a computed range, and
// discharge_series. The first byte chooses the grid and the run, the next
// eight (for a typed range) the maximum and minimum; the rest is the file.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <sstream>
#include <string>

#include "fuzz_tree.h"
#include "image_driver.h"
#include "series_driver.h"

namespace {

float float_at(const std::uint8_t* bytes) {
    float value = 0.0F;
    std::memcpy(&value, bytes, sizeof value);
    return value;
}

// The answer a user would type for `value`: exact, or text the program
// rejects for values that are not finite.
std::string answer(float value) {
    std::ostringstream text;
    text.precision(9);
    text << value;
    return text.str();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    enter_run_tree();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 9) {
        return 0;
    }
    const std::int32_t ncols = 1 + (data[0] & 3);
    const std::int32_t nrows = 1 + ((data[0] >> 2) & 3);
    const int run = (data[0] >> 4) % 3;  // 0: computed range, 1: typed range, 2: series
    const std::string file(reinterpret_cast<const char*>(data) + 9, size - 9);
    write_parameters(ncols, nrows);
    write_file("201907_dailyDischarge.bin", file);
    const bool whole_month = file.size() >= 31U * static_cast<std::size_t>(ncols * nrows) * 4;

    std::ostringstream console;
    int status = 0;
    if (run == 2) {
        std::istringstream in(std::to_string(1 + data[1] % ncols) + " " +
                              std::to_string(1 + data[2] % nrows) + " 2019 7\n");
        status = run_discharge_series(in, console);
    } else {
        std::istringstream in(run == 0 ? std::string("2019 7 n\n")
                                       : "2019 7 y " + answer(float_at(data + 1)) + " " +
                                             answer(float_at(data + 5)) + "\n");
        status = run_discharge_image(in, console);
        if (status == 0) {
            const auto images = list_images();
            require(images.size() == 31, "a complete run draws every day of July");
            const std::uintmax_t header =
                std::to_string(5 * ncols).size() + std::to_string(5 * nrows).size() + 9;
            for (const auto& [name, bytes] : images) {
                require(bytes == header + 75U * static_cast<std::uintmax_t>(ncols * nrows),
                        "every image is whole");
            }
        }
    }
    require(status == 0 || status == 1, "exit status is 0 or 1");
    require(status == 1 || whole_month, "a month cut short never passes for a whole one");
    remove_outputs();
    return 0;
}
