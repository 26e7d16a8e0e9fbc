// What output files need of the operating system, behind one interface: one
// implementation for POSIX systems (output_system_posix.cpp), one for Windows
// (output_system_windows.cpp). Internal to output_file.cpp; each
// implementation also defines install_interruption_cleanup(), whose handlers
// remove the file named last to release_interruptions().
#ifndef DISCHARGE_SHARED_INPUT_OUTPUT_SYSTEM_H
#define DISCHARGE_SHARED_INPUT_OUTPUT_SYSTEM_H

#include <cstddef>
#include <cstdint>
#include <span>

enum class Creation { created, name_taken, failed };

// Creates the file `path` for writing; never opens one that exists, nor
// follows a link planted under that name.
Creation create_exclusively(const char* path, std::intptr_t& handle);

// Writes all the pieces in order; false on any error.
bool write_gathered(std::intptr_t handle, std::span<const std::span<const char>> pieces);

// Closes the file; false if the system reports an error, which may be a
// delayed write error.
bool close_file(std::intptr_t handle);

// Renames `from` onto `to`, replacing a file there, in one step.
bool replace_file(const char* from, const char* to);

void remove_file(const char* path);

// A number that differs between processes running at once.
std::uint64_t process_number();

// The temporary file that an interruption must remove, or nullptr for none.
// Interruptions are held back from the first call to the second, so that
// their handler never sees a file half created, renamed or removed.
void hold_interruptions();
void release_interruptions(const char* temporary_path);

#endif  // DISCHARGE_SHARED_INPUT_OUTPUT_SYSTEM_H
