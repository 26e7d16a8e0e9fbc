// Output files on Windows, and the console control handler that removes the
// temporary files of an interrupted run.
#include <windows.h>

#include <memory>
#include <vector>

#include "output_file.h"
#include "output_system.h"

namespace {

// How long a removal or a rename is retried while another program (a virus
// scanner, an indexer, another run replacing the same output) holds the file
// open without letting it be deleted: a hundred times 10 ms.
constexpr int RETRIES = 100;
constexpr DWORD RETRY_PAUSE_MS = 10;

// Ctrl-C, Ctrl-Break, closing the console, logging off and shutting down:
// remove the temporary files and end with the status of the default handler,
// which would end the process for each of them. Windows runs this on a
// thread of its own. The process ends at once, as by a signal: ExitProcess()
// would first flush the C library's streams, whose lock an interrupted
// thread may hold, and wait forever.
BOOL WINAPI on_console_event(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT &&
        event != CTRL_LOGOFF_EVENT && event != CTRL_SHUTDOWN_EVENT) {
        return FALSE;
    }
    remove_open_temporaries();
    TerminateProcess(GetCurrentProcess(), STATUS_CONTROL_C_EXIT);
    return TRUE;
}

// An error of GetLastError(), for reason_text().
std::error_code windows_error(DWORD error) {
    return {static_cast<int>(error), std::system_category()};
}

bool is_directory(const char* path) {
    const DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// As windows_error(), but a refusal on a directory is told as such, as POSIX
// systems tell it.
std::error_code windows_error(DWORD error, const char* path) {
    if (error == ERROR_ACCESS_DENIED && is_directory(path)) {
        return std::make_error_code(std::errc::is_a_directory);
    }
    return windows_error(error);
}

// Writes all `size` bytes; false on any error, with `error` set.
bool write_fully(std::intptr_t handle, const char* bytes, std::size_t size,
                 std::error_code& error) {
    while (size > 0) {
        const DWORD chunk = size < (DWORD{1} << 30) ? static_cast<DWORD>(size) : DWORD{1} << 30;
        DWORD written = 0;
        if (!WriteFile(reinterpret_cast<HANDLE>(handle), bytes, chunk, &written, nullptr)) {
            error = windows_error(GetLastError());
            return false;
        }
        if (written == 0) {
            error = std::make_error_code(std::errc::io_error);
            return false;
        }
        bytes += written;
        size -= written;
    }
    return true;
}

// Whether a failed removal or rename is worth trying again: another program
// holds the file open.
bool held_elsewhere(DWORD error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
}

// Clears the read-only attribute of `path`, if it has it. True if it had.
bool clear_read_only(const char* path) {
    const DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_READONLY) == 0) {
        return false;
    }
    return SetFileAttributesA(path, attributes & ~DWORD{FILE_ATTRIBUTE_READONLY}) != 0;
}

#ifndef ERROR_DISK_QUOTA_EXCEEDED  // missing from some MinGW headers
#define ERROR_DISK_QUOTA_EXCEEDED 1295L
#endif

// The common errors among GetLastError() values.
struct WindowsError {
    DWORD code;
    CommonError error;
};

constexpr WindowsError WINDOWS_ERRORS[] = {
    {ERROR_DISK_FULL, CommonError::no_space},
    {ERROR_HANDLE_DISK_FULL, CommonError::no_space},
    {ERROR_FILE_NOT_FOUND, CommonError::no_such_file},
    {ERROR_PATH_NOT_FOUND, CommonError::no_such_file},
    {ERROR_INVALID_DRIVE, CommonError::no_such_file},
    {ERROR_BAD_NETPATH, CommonError::no_such_file},
    {ERROR_ACCESS_DENIED, CommonError::permission_denied},
    {ERROR_WRITE_PROTECT, CommonError::read_only},
    {ERROR_DISK_QUOTA_EXCEEDED, CommonError::quota_exceeded},
    {ERROR_FILE_EXISTS, CommonError::file_exists},
    {ERROR_ALREADY_EXISTS, CommonError::file_exists},
    {ERROR_DIRECTORY, CommonError::not_a_directory},
    {ERROR_FILENAME_EXCED_RANGE, CommonError::name_too_long},
    {ERROR_TOO_MANY_OPEN_FILES, CommonError::too_many_open_files},
    {ERROR_IO_DEVICE, CommonError::input_output},
    {ERROR_DIR_NOT_EMPTY, CommonError::not_empty},
    {ERROR_NOT_SAME_DEVICE, CommonError::cross_device},
    {ERROR_NOT_ENOUGH_MEMORY, CommonError::out_of_memory},
    {ERROR_OUTOFMEMORY, CommonError::out_of_memory},
    {ERROR_FILE_TOO_LARGE, CommonError::file_too_large},
    {ERROR_CANT_RESOLVE_FILENAME, CommonError::link_loop},
    {ERROR_BUSY, CommonError::busy},
};

// Unlocks and closes the file of a FileLock. Unlocked first: a close may
// release the lock only some time later.
void release_lock(std::intptr_t handle) {
    if (handle != -1) {
        OVERLAPPED start{};
        UnlockFileEx(reinterpret_cast<HANDLE>(handle), 0, 1, 0, &start);
        CloseHandle(reinterpret_cast<HANDLE>(handle));
    }
}

// Closes a handle of FindFirstFileA().
struct FindClosing {
    void operator()(HANDLE find) const { FindClose(find); }
};

}  // namespace

Creation create_exclusively(const char* path, std::intptr_t& handle, std::error_code& error,
                            bool shared) {
    // CREATE_NEW: fails on any file of that name. Hidden, like a POSIX file
    // whose name begins with a dot, until it is complete. The handle does not
    // share writing: another run's cleanup, which opens the file sharing
    // nothing before it removes it, leaves it alone while it is open. A file
    // that a library opens again by name to write it shares writing, and is
    // visible: opening with CREATE_ALWAYS, as the C library does for
    // O_CREAT | O_TRUNC, fails on a hidden file.
    const DWORD sharing =
        FILE_SHARE_READ | FILE_SHARE_DELETE | (shared ? FILE_SHARE_WRITE : DWORD{0});
    const HANDLE file =
        CreateFileA(path, GENERIC_WRITE, sharing, nullptr, CREATE_NEW,
                    shared ? FILE_ATTRIBUTE_NORMAL : FILE_ATTRIBUTE_HIDDEN, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        handle = reinterpret_cast<std::intptr_t>(file);
        return Creation::created;
    }
    const DWORD code = GetLastError();
    error = windows_error(code);
    return code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS ? Creation::name_taken
                                                                     : Creation::failed;
}

bool write_gathered(std::intptr_t handle, std::span<const std::span<const char>> pieces,
                    std::error_code& error) {
    // Windows gathers only unbuffered, page-aligned writes: copy the pieces
    // into writes of about 1 MiB instead, in a buffer of each thread's own.
    thread_local std::vector<char> staging;
    staging.clear();
    staging.reserve(std::size_t{1} << 20);
    for (const std::span<const char> piece : pieces) {
        if (!staging.empty() && staging.size() + piece.size() > staging.capacity()) {
            if (!write_fully(handle, staging.data(), staging.size(), error)) {
                return false;
            }
            staging.clear();
        }
        if (piece.size() > staging.capacity()) {
            if (!write_fully(handle, piece.data(), piece.size(), error)) {
                return false;
            }
            continue;
        }
        staging.insert(staging.end(), piece.begin(), piece.end());
    }
    return staging.empty() || write_fully(handle, staging.data(), staging.size(), error);
}

std::intptr_t hold_past_close(std::intptr_t /*handle*/, const char* path) {
    // A handle that reads, while sharing everything: the rename and the
    // handler's removal go through, another run's cleanup, which shares
    // nothing, does not.
    const HANDLE hold =
        CreateFileA(path, FILE_READ_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    return hold == INVALID_HANDLE_VALUE ? -1 : reinterpret_cast<std::intptr_t>(hold);
}

void release_hold(std::intptr_t hold) {
    if (hold != -1) {
        CloseHandle(reinterpret_cast<HANDLE>(hold));
    }
}

bool close_output_handle(std::intptr_t handle, std::error_code& error) {
    // The complete file is shown before it takes its name, so that the name
    // never appears hidden.
    FILE_BASIC_INFO basic{};
    basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    const HANDLE file = reinterpret_cast<HANDLE>(handle);
    if (!SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof basic)) {
        error = windows_error(GetLastError());
        CloseHandle(file);
        return false;
    }
    if (!CloseHandle(file)) {
        error = windows_error(GetLastError());
        return false;
    }
    return true;
}

bool replace_file(const char* from, const char* to, std::error_code& error) {
    // A read-only file under the final name is replaced, as on POSIX
    // systems: its attribute is cleared first. A file that another program
    // holds open may be free a moment later: then try again.
    bool cleared = false;
    DWORD code = ERROR_SHARING_VIOLATION;
    for (int attempt = 0; attempt < RETRIES; ++attempt) {
        if (MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING)) {
            return true;
        }
        code = GetLastError();
        if (code == ERROR_ACCESS_DENIED && !cleared && clear_read_only(to)) {
            cleared = true;
            continue;
        }
        // A directory under the final name refuses for good.
        if ((!held_elsewhere(code) && code != ERROR_ACCESS_DENIED) || is_directory(to)) {
            break;
        }
        Sleep(RETRY_PAUSE_MS);
    }
    error = windows_error(code, to);
    return false;
}

void remove_file(const char* path, std::uint64_t deadline) {
    for (int attempt = 0; attempt < RETRIES; ++attempt) {
        if (DeleteFileA(path) || !held_elsewhere(GetLastError()) ||
            monotonic_milliseconds() >= deadline) {
            return;
        }
        Sleep(RETRY_PAUSE_MS);
    }
}

void list_folder(const char* folder, const std::function<void(const char* name)>& visit) {
    std::string pattern = folder;
    if (!pattern.ends_with('/') && !pattern.ends_with('\\')) {
        pattern += '\\';
    }
    pattern += '*';
    WIN32_FIND_DATAA found{};
    const HANDLE first = FindFirstFileA(pattern.c_str(), &found);
    if (first == INVALID_HANDLE_VALUE) {
        return;
    }
    const std::unique_ptr<void, FindClosing> find(first);
    do {
        visit(found.cFileName);
    } while (FindNextFileA(first, &found));
}

bool remove_if_abandoned(const char* path, std::filesystem::file_time_type started) {
    // Opened sharing nothing: refused while any process has the file open
    // (a writer, or a writer's hold through its rename). Removed through this
    // very handle, so that what is removed is the file that was looked at.
    const HANDLE file = CreateFileA(path, DELETE | FILE_READ_ATTRIBUTES, 0, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    BY_HANDLE_FILE_INFORMATION information{};
    bool removed = false;
    if (GetFileInformationByHandle(file, &information) &&
        (information.dwFileAttributes &
         (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0) {
        // 100 ns intervals since the start of 1601.
        const std::uint64_t ticks = std::uint64_t{information.ftLastWriteTime.dwHighDateTime}
                                        << 32 |
                                    information.ftLastWriteTime.dwLowDateTime;
        constexpr std::int64_t SECONDS_BEFORE_1970 = 11644473600;
        const std::int64_t seconds = static_cast<std::int64_t>(ticks / 10000000);
        const std::int64_t nanoseconds = static_cast<std::int64_t>(ticks % 10000000) * 100;
        FILE_DISPOSITION_INFO disposition{};
        disposition.DeleteFile = TRUE;
        removed = written_before(seconds - SECONDS_BEFORE_1970, nanoseconds, started) &&
                  SetFileInformationByHandle(file, FileDispositionInfo, &disposition,
                                             sizeof disposition) != 0;
    }
    CloseHandle(file);
    return removed;
}

std::string system_reason(int code) {
    const DWORD error = static_cast<DWORD>(code);
    for (const WindowsError& known : WINDOWS_ERRORS) {
        if (known.code == error) {
            return common_words(known.error);
        }
    }
    // The system's own words, in the system's language, without the line
    // end and the full stop that end them.
    char text[512];
    DWORD size = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                error, 0, text, sizeof text, nullptr);
    while (size > 0 && (text[size - 1] == '\n' || text[size - 1] == '\r' || text[size - 1] == ' ' ||
                        text[size - 1] == '.')) {
        --size;
    }
    if (size == 0) {
        return "Windows error " + std::to_string(error);
    }
    return std::string(text, size);
}

std::uint64_t monotonic_milliseconds() {
    return GetTickCount64();
}

std::uint64_t process_number() {
    return GetCurrentProcessId();
}

// The console control handler runs on a thread of its own, never on one that
// is creating a file: nothing to hold back.
void hold_interruptions_here() {}

void allow_interruptions_here() {}

void wait_for_the_end() {
    for (;;) {
        Sleep(INFINITE);
    }
}

void pause_briefly() {
    Sleep(1);
}

void settle_ended_input() {
    // Only a console read is ended by Ctrl-C (a pipe or a file is not): give
    // the handler's thread a moment to start.
    DWORD mode = 0;
    if (!GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode)) {
        return;
    }
    for (int wait = 0; wait < 500 && !interruption_under_way(); ++wait) {
        Sleep(1);
    }
    if (interruption_under_way()) {
        wait_for_the_end();
    }
}

FileLock::~FileLock() {
    release_lock(handle);
}

Locking lock_file(FileLock& lock, const std::string& path, std::string& reason) {
    release_lock(lock.handle);
    lock.handle = -1;
    const HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        reason = reason_text(windows_error(GetLastError(), path.c_str()));
        return Locking::failed;
    }
    // A lock on the first byte, of this handle only: another FileLock of
    // this process, with a handle of its own, is excluded too.
    OVERLAPPED start{};
    if (!LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &start)) {
        const DWORD error = GetLastError();
        CloseHandle(file);
        if (error == ERROR_LOCK_VIOLATION) {
            return Locking::busy;
        }
        reason = reason_text(windows_error(error));
        return Locking::failed;
    }
    lock.handle = reinterpret_cast<std::intptr_t>(file);
    return Locking::locked;
}

void install_interruption_cleanup() {
    SetConsoleCtrlHandler(on_console_event, TRUE);
}
