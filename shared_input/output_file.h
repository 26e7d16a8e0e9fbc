// Output files that appear whole or not at all, shared by both programs.
//
// An output (an image, a series file) is written under a temporary name of
// its own in the directory of its final name, and renamed onto the final name,
// replacing an older file there, only once it is completely written and
// closed. So a file under an output's name is always complete, whatever stops
// a run and whenever, and two runs writing the same output at once never mix
// their bytes: each file is wholly one run's. Temporary names are hidden and
// end in ".tmp", so they never match an output's name pattern.
//
// A run interrupted from outside (SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE;
// on Windows Ctrl-C, Ctrl-Break and closing the console) removes every
// temporary file it has open, on whichever thread, before it ends as the
// interruption would (on Windows also at logoff and shutdown). After SIGKILL
// or a crash at most those temporary files are left: one for each output that
// was open. A writer holds its temporary file locked while it is open, so
// that a later run can tell such leftovers from the files of a run still
// writing, and remove them (remove_abandoned_temporaries()).
#ifndef DISCHARGE_SHARED_INPUT_OUTPUT_FILE_H
#define DISCHARGE_SHARED_INPUT_OUTPUT_FILE_H

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <system_error>

// Outputs that may be open at once in a process, on any of its threads: the
// interruption handler knows each by its temporary name, in a table of this
// many entries.
inline constexpr std::size_t OPEN_OUTPUT_LIMIT = 64;

// An output being written. Destroying it uncommitted removes the temporary
// file.
struct OutputFile {
    OutputFile() = default;
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    std::string final_path;
    std::string temporary_path;  // empty when no temporary file exists
    bool text = false;           // line ends are written as the platform's text files end them
    bool failed = false;         // a write failed: the output was discarded
    std::intptr_t handle = -1;   // the file descriptor, or the Windows file handle
    int entry = -1;              // its entry in the table of open temporaries; -1 when closed
    // Why the last step failed, in words that are the same on every system
    // ("No space left on device", "Permission denied", ...): set whenever
    // create_output_file(), write_output_file(), write_output_pieces() or
    // commit_output_file() returns false. Setting it may throw
    // std::bad_alloc, but only once the temporary file is gone, or before it
    // exists.
    std::string reason;
};

// Creates the temporary file of an output whose final name is `final_path`,
// exclusively, in that name's directory. `text`: each LF written becomes the
// platform's text line end (CR LF on Windows). Returns false, having created
// nothing, when the directory does not exist or cannot be written, when the
// final name is a directory, or when OPEN_OUTPUT_LIMIT outputs are open.
// May throw std::bad_alloc, but only before anything exists.
// The temporary file stays locked against other runs while it is open.
bool create_output_file(OutputFile& file, const std::string& final_path, bool text);

// As create_output_file(), for a binary output that a library writes itself
// through a handle of its own, opening the temporary file by its name: the
// file may then be opened again, truncated and written (on Windows it is
// created visible and shares writing, since a hidden file cannot be created
// over). Still held against other runs' cleanup while it is open; commit it
// once the library has closed it.
bool create_library_output_file(OutputFile& file, const std::string& final_path);

// Appends `size` bytes. Returns false if they could not all be written (a
// full disk, an I/O error), having removed the temporary file, or if an
// earlier write failed.
bool write_output_file(OutputFile& file, const char* bytes, std::size_t size);

// Appends the pieces in order, in one call to the system where it can gather
// them (POSIX writev), else copied into larger writes. For binary files;
// returns false as write_output_file().
bool write_output_pieces(OutputFile& file, std::span<const std::span<const char>> pieces);

// Closes the temporary file and renames it onto the final name, replacing a
// file there even where that is read-only. Returns false, having removed the
// temporary file, if a write failed or closing or renaming fails.
bool commit_output_file(OutputFile& file);

// Closes and removes the temporary file, if any.
void discard_output_file(OutputFile& file);

// Writes `bytes` as the whole output `final_path` (`text` as for
// create_output_file()), whole or not at all. Returns false with `reason` set
// if it could not be written.
bool write_whole_output(const std::string& final_path, std::string_view bytes, bool text,
                        std::string& reason);

// Creates the folder `path` for outputs if it is missing. False, with
// `reason` set, where there is no folder of that name after all.
bool make_output_folder(const std::string& path, std::string& reason);

// Whether outputs can be written in `folder`: a temporary file can be made
// there (and is removed at once). False, with `reason` set, where not (a
// read-only file system, no permission).
bool folder_writable(const std::string& folder, std::string& reason);

// The words for a system error: the same fixed texts as `OutputFile::reason`.
// For the errors of std::filesystem, of either category, on every system.
std::string reason_text(const std::error_code& error);

// After a library's write failed with a reason of its own ("HDF error"):
// where the call left errno at one of the errors of writing (a full disk, a
// file too large, an I/O error; others may be left from the library's
// probing), sets `reason` to the system's words, which are what the user
// needs, and returns true.
bool system_write_reason(std::string& reason);

// Removes, in `folder`, the temporary files of outputs whose final name (file
// name only) `belongs` accepts and that no live run is writing: not open by
// any process (POSIX: an exclusive flock can be taken; Windows: it can be
// opened with no sharing) and last written before `started` (a file made
// after that may belong to a writer that has not yet locked it). Returns how
// many were removed. Never throws for a file system error.
std::size_t remove_abandoned_temporaries(
    const std::string& folder, const std::function<bool(const std::string& final_name)>& belongs,
    std::filesystem::file_time_type started);

// An exclusive advisory lock on a file, held while the FileLock lives: one
// run at a time for a unit of work. Destruction releases and closes it.
struct FileLock {
    FileLock() = default;
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    std::intptr_t handle = -1;  // the file descriptor, or the Windows file handle
};

enum class Locking { locked, busy, failed };

// Opens `path`, creating it if missing (it is never removed: removing a lock
// file races with another run taking it), and takes an exclusive lock without
// waiting. `busy` when another process (or another FileLock in this process)
// holds it; `failed`, with `reason` set, when the file cannot be opened or
// locked. A lock that `lock` held before is released first.
Locking lock_file(FileLock& lock, const std::string& path, std::string& reason);

// Installs the handlers that remove the temporary files of an interrupted run.
// Called once, by a program's entry, before the run and before any thread is
// started.
void install_interruption_cleanup();

// For a console question whose answer could not be read because input ended:
// on Windows, Ctrl-C ends a console read at once, and the interruption
// handler runs only a moment later on a thread of its own. If that is what
// ended the read, waits for the handler to end the process and never
// returns, so that nothing more is printed; otherwise returns. Elsewhere an
// interruption never lets a read return, and this returns at once.
void settle_ended_input();

#endif  // DISCHARGE_SHARED_INPUT_OUTPUT_FILE_H
