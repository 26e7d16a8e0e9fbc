// What output files need of the operating system, behind one interface: one
// implementation for POSIX systems (output_system_posix.cpp), one for Windows
// (output_system_windows.cpp). Internal to output_file.cpp; each
// implementation also defines install_interruption_cleanup(), whose handler
// calls remove_open_temporaries() and ends the process.
#ifndef DISCHARGE_SHARED_INPUT_OUTPUT_SYSTEM_H
#define DISCHARGE_SHARED_INPUT_OUTPUT_SYSTEM_H

#include <cstddef>
#include <cstdint>
#include <span>

enum class Creation { created, name_taken, failed };

// Creates the file `path` for writing; never opens one that exists, nor
// follows a link planted under that name. On Windows the file is hidden
// until close_output_handle() shows it.
Creation create_exclusively(const char* path, std::intptr_t& handle);

// Writes all the pieces in order; false on any error.
bool write_gathered(std::intptr_t handle, std::span<const std::span<const char>> pieces);

// Closes a complete file, first making it an ordinary visible file (on
// Windows); false if the system reports an error, which may be a delayed
// write error.
bool close_output_handle(std::intptr_t handle);

// Renames `from` onto `to`, replacing a file there, read-only or not, in one
// step.
bool replace_file(const char* from, const char* to);

// Removes a file, retrying for a moment where the system refuses because
// another program holds it open. Async-signal-safe on POSIX.
void remove_file(const char* path);

// A number that differs between processes running at once.
std::uint64_t process_number();

// Holds back the interruption handler from the calling thread until
// allow_interruptions_here(), so that it never runs between the creation of
// a temporary file and its entry in the table of open temporaries. Other
// threads may still run it: the table is built for that.
void hold_interruptions_here();
void allow_interruptions_here();

// For a thread that finds an interruption under way: waits for the handler,
// running on another thread, to end the process. Never returns.
[[noreturn]] void wait_for_the_end();

// A short wait for a thread of the handler, which must let another finish
// putting a temporary file into the table or taking it out.
void pause_briefly();

// Called by the interruption handler, on whichever thread it runs: marks the
// run as ending, so that no thread creates another temporary file, and
// removes every temporary file in the table. Async-signal-safe.
void remove_open_temporaries();

// Whether remove_open_temporaries() has begun: the run is being ended.
bool interruption_under_way();

#endif  // DISCHARGE_SHARED_INPUT_OUTPUT_SYSTEM_H
