// Any bytes as the answers to discharge_image, over a fixed 3 x 3 run with
// July 2019.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "fuzz_tree.h"
#include "image_driver.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    enter_run_tree();
    write_parameters(3, 3);
    std::vector<float> july(31 * 9);
    for (std::size_t i = 0; i < july.size(); ++i) {
        july[i] = (i % 7 == 3) ? -999.0F : static_cast<float>(i % 50);
    }
    write_file("201907_dailyDischarge.bin", encode_values(july));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    std::ostringstream console;
    const int status = run_discharge_image(in, console);
    require(status == 0 || status == 1, "exit status is 0 or 1");
    const auto images = list_images();
    if (status == 0) {
        require(console.str().ends_with("\nProgram ends!\n"), "a complete run says so");
        require(images.size() == 31, "a complete run draws every day of July");
        for (const auto& [name, bytes] : images) {
            require(bytes == 13 + 675, "every image is whole");
        }
    }
    remove_outputs();
    return 0;
}
