#include "failure.h"

#include <ostream>

void print_failure(std::ostream& console, const char* message) {
    console << message << std::endl;
}

int fail(std::ostream& console, const char* message) {
    print_failure(console, message);
    return 1;
}

int fail(std::ostream& console, const char* message, OutputFile& incomplete) {
    discard_output_file(incomplete);
    return fail(console, message);
}
