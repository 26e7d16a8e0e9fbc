// Any bytes as the answers to discharge_series, over a fixed 3 x 2 run with
// July 2019 and a leap-year February 2020.
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>

#include "fuzz_tree.h"
#include "run_input.h"
#include "series_driver.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    enter_run_tree();
    write_parameters(3, 2);
    std::vector<float> july(31 * 6);
    for (std::size_t i = 0; i < july.size(); ++i) {
        july[i] = static_cast<float>(i) - 20.0F;
    }
    write_file("201907_dailyDischarge.bin", encode_values(july));
    write_file("202002_dailyDischarge.bin", encode_values(std::vector<float>(29 * 6, 1.5F)));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    std::ostringstream console;
    const int status = run_discharge_series(in, console);
    const std::string text = console.str();
    require(status == 0 || status == 1, "exit status is 0 or 1");
    if (status == 0) {
        // The run ends on its "Write" line, and the series it names is whole.
        require(text.ends_with("_discharge.dat\r"), "a complete run ends on its Write line");
        const std::string name = text.substr(text.rfind("Write ") + 6, std::string::npos);
        std::ifstream series(name.substr(0, name.size() - 1));
        std::size_t lines = 0;
        for (std::string line; std::getline(series, line);) {
            ++lines;
        }
        require(lines == 31 || lines == 28, "a complete series has one line per day");
    }
    remove_outputs();
    return 0;
}
