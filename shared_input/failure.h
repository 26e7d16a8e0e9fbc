// How the drivers end a run that failed: with the failure's fixed message on
// the console, exit status 1, and no incomplete output left behind.
#ifndef DISCHARGE_SHARED_INPUT_FAILURE_H
#define DISCHARGE_SHARED_INPUT_FAILURE_H

#include <functional>
#include <iosfwd>
#include <string>

#include "output_file.h"

// Prints a failure's fixed message on a line of its own, flushed. For helpers
// that report a failure to their caller rather than end the run.
void print_failure(std::ostream& console, const char* message);

// Prints the message and returns the exit status of a failed run, 1.
int fail(std::ostream& console, const char* message);

// As fail(), once the output that the failure left incomplete is removed.
int fail(std::ostream& console, const char* message, OutputFile& incomplete);

// Runs a program's whole run, `run`, and returns its exit status. Memory
// running out anywhere in it is reported with `memory_message`, status 1,
// once every output under way has been removed (their owners' destructors
// remove them as the exception passes).
int run_reporting_memory(std::ostream& console, const char* memory_message,
                         const std::function<int()>& run);

// What went wrong in discharge_term, which names the file concerned and the
// system's reason after the fixed text of the dialogue programs' messages.
struct Failure {
    std::string path;    // the file or folder concerned; empty where none is
    std::string what;    // a fixed text: "Image output file cannot write."
    std::string reason;  // the system's words, or why; empty where there is none
};

// "PATH: WHAT (REASON)", without the parts that are empty.
std::string failure_text(const Failure& failure);

#endif  // DISCHARGE_SHARED_INPUT_FAILURE_H
