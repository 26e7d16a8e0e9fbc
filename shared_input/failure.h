// How the drivers end a run that failed: with the failure's fixed message on
// the console, exit status 1, and no incomplete output left behind.
#ifndef DISCHARGE_SHARED_INPUT_FAILURE_H
#define DISCHARGE_SHARED_INPUT_FAILURE_H

#include <iosfwd>

#include "output_file.h"

// Prints a failure's fixed message on a line of its own, flushed. For helpers
// that report a failure to their caller rather than end the run.
void print_failure(std::ostream& console, const char* message);

// Prints the message and returns the exit status of a failed run, 1.
int fail(std::ostream& console, const char* message);

// As fail(), once the output that the failure left incomplete is removed.
int fail(std::ostream& console, const char* message, OutputFile& incomplete);

#endif  // DISCHARGE_SHARED_INPUT_FAILURE_H
