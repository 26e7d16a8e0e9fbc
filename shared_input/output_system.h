// What output files need of the operating system, behind one interface: one
// implementation for POSIX systems (output_system_posix.cpp), one for Windows
// (output_system_windows.cpp). Internal to output_file.cpp; each
// implementation also defines install_interruption_cleanup(), whose handler
// calls remove_open_temporaries() and ends the process, and the file locks
// (FileLock, lock_file()).
#ifndef DISCHARGE_SHARED_INPUT_OUTPUT_SYSTEM_H
#define DISCHARGE_SHARED_INPUT_OUTPUT_SYSTEM_H

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <limits>
#include <span>
#include <string>
#include <system_error>

enum class Creation { created, name_taken, failed };

// Creates the file `path` for writing; never opens one that exists, nor
// follows a link planted under that name. On Windows the file is hidden
// until close_output_handle() shows it. The file is held against
// remove_if_abandoned() while the handle is open: on POSIX by an exclusive
// flock taken at once, on Windows by the handle's own sharing. `error`: why
// it failed. `shared`: the file may be opened again by name and written
// meanwhile (on Windows: visible, and sharing writes).
Creation create_exclusively(const char* path, std::intptr_t& handle, std::error_code& error,
                            bool shared);

// Writes all the pieces in order; false on any error, with `error` set.
bool write_gathered(std::intptr_t handle, std::span<const std::span<const char>> pieces,
                    std::error_code& error);

// Another handle on the file of `handle`, opened before it is closed, that
// goes on holding the file against remove_if_abandoned() of another run
// until release_hold(), through its rename; -1 if none could be had.
std::intptr_t hold_past_close(std::intptr_t handle, const char* path);
void release_hold(std::intptr_t hold);

// Closes a complete file, first making it an ordinary visible file (on
// Windows); false if the system reports an error, which may be a delayed
// write error, with `error` set.
bool close_output_handle(std::intptr_t handle, std::error_code& error);

// Renames `from` onto `to`, replacing a file there, read-only or not, in one
// step. `error`: why it failed ("Is a directory" where `to` is one).
bool replace_file(const char* from, const char* to, std::error_code& error);

// No deadline for remove_file().
inline constexpr std::uint64_t NO_DEADLINE = std::numeric_limits<std::uint64_t>::max();

// Removes a file, retrying for a moment where the system refuses because
// another program holds it open, but not past `deadline` (a time of
// monotonic_milliseconds()). Async-signal-safe on POSIX.
void remove_file(const char* path, std::uint64_t deadline = NO_DEADLINE);

// Calls `visit` with the name of each entry of the folder `folder` (the file
// name only; "." and ".." may be among them); with none if it cannot be read.
void list_folder(const char* folder, const std::function<void(const char* name)>& visit);

// Removes the temporary file `path` if no process has it open and it was last
// written before `started`; true if it did.
bool remove_if_abandoned(const char* path, std::filesystem::file_time_type started);

// Whether a file last written `seconds` and `nanoseconds` after the start of
// 1970 (UTC) was written before `started`.
bool written_before(std::int64_t seconds, std::int64_t nanoseconds,
                    std::filesystem::file_time_type started);

// The errors whose words are the same on every system, whatever the system's
// own words for them.
enum class CommonError {
    other,
    no_space,
    no_such_file,
    permission_denied,
    not_permitted,
    is_a_directory,
    not_a_directory,
    read_only,
    quota_exceeded,
    file_exists,
    name_too_long,
    too_many_open_files,
    input_output,
    not_empty,
    cross_device,
    out_of_memory,
    file_too_large,
    link_loop,
    busy,
    try_again,
};

// The fixed words of a common error; null for `other`.
const char* common_words(CommonError error);

// The words for an errno value: the fixed words where it is a common error,
// else the C library's.
std::string errno_reason(int number);

// The words for an error of the system category: an errno value on POSIX, a
// GetLastError() value on Windows.
std::string system_reason(int code);

// Milliseconds of a clock that never goes back, from some fixed moment.
// Async-signal-safe.
std::uint64_t monotonic_milliseconds();

// A number that differs between processes running at once.
std::uint64_t process_number();

// Holds back the interruption handler from the calling thread until
// allow_interruptions_here(), so that it never runs between the creation of
// a temporary file and its entry in the table of open temporaries, nor while
// the thread renames or removes a file that it has taken from the table.
// Other threads may still run it: the table is built for that.
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
// removes every temporary file in the table, within about two seconds in all.
// Async-signal-safe.
void remove_open_temporaries();

// Whether remove_open_temporaries() has begun: the run is being ended.
bool interruption_under_way();

#endif  // DISCHARGE_SHARED_INPUT_OUTPUT_SYSTEM_H
