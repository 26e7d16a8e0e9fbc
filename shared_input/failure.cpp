#include "failure.h"

#include <new>
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

int run_reporting_memory(std::ostream& console, const char* memory_message,
                         const std::function<int()>& run) {
    try {
        return run();
    } catch (const std::bad_alloc&) {
        return fail(console, memory_message);
    }
}

std::string failure_text(const Failure& failure) {
    std::string text = failure.path.empty() ? failure.what : failure.path + ": " + failure.what;
    if (!failure.reason.empty()) {
        text += " (" + failure.reason + ")";
    }
    return text;
}
