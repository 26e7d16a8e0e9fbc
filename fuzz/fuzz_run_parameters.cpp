// Any bytes as the run parameter file.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "fuzz_tree.h"
#include "run_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::istringstream file(std::string(reinterpret_cast<const char*>(data), size));
    std::ostringstream console;
    const std::optional<RunParameters> parameters = parse_run_parameters(file, console);
    const std::string text = console.str();
    if (parameters) {
        require(parameters->ncols >= 1 && parameters->nrows >= 1, "accepted grid has cells");
        require(parameters->end_year >= parameters->start_year, "accepted term is in order");
        require(text.ends_with("  End month : " + std::to_string(parameters->end_month) + "\n"),
                "accepted file echoes to its last value");
    } else {
        require(text.ends_with("param.dat is incomplete or malformed.\n") ||
                    text.ends_with("Simulation year setting is wrong\n") ||
                    text.ends_with("Grid size setting is wrong\n"),
                "a rejected file says why");
    }
    return 0;
}
