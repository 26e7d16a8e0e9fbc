// Output files on Windows, and the console control handler that removes the
// temporary files of an interrupted run.
#include <windows.h>

#include <vector>

#include "output_file.h"
#include "output_system.h"

namespace {

// How long a removal or a rename is retried while another program (a virus
// scanner, an indexer, another run replacing the same output) holds the file
// open without letting it be deleted: a hundred times 10 ms.
constexpr int RETRIES = 100;
constexpr DWORD RETRY_PAUSE_MS = 10;

// Ctrl-C, Ctrl-Break and closing the console: remove the temporary files and
// end with the status of the default handler. Windows runs this on a thread
// of its own. The process ends at once, as by a signal: ExitProcess() would
// first flush the C library's streams, whose lock an interrupted thread may
// hold, and wait forever.
BOOL WINAPI on_console_event(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) {
        return FALSE;
    }
    remove_open_temporaries();
    TerminateProcess(GetCurrentProcess(), STATUS_CONTROL_C_EXIT);
    return TRUE;
}

// Writes all `size` bytes; false on any error.
bool write_fully(std::intptr_t handle, const char* bytes, std::size_t size) {
    while (size > 0) {
        const DWORD chunk = size < (DWORD{1} << 30) ? static_cast<DWORD>(size) : DWORD{1} << 30;
        DWORD written = 0;
        if (!WriteFile(reinterpret_cast<HANDLE>(handle), bytes, chunk, &written, nullptr) ||
            written == 0) {
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

}  // namespace

Creation create_exclusively(const char* path, std::intptr_t& handle) {
    // CREATE_NEW: fails on any file of that name. Hidden, like a POSIX file
    // whose name begins with a dot, until it is complete.
    const HANDLE file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                    nullptr, CREATE_NEW, FILE_ATTRIBUTE_HIDDEN, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        handle = reinterpret_cast<std::intptr_t>(file);
        return Creation::created;
    }
    const DWORD error = GetLastError();
    return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ? Creation::name_taken
                                                                       : Creation::failed;
}

bool write_gathered(std::intptr_t handle, std::span<const std::span<const char>> pieces) {
    // Windows gathers only unbuffered, page-aligned writes: copy the pieces
    // into writes of about 1 MiB instead, in a buffer of each thread's own.
    thread_local std::vector<char> staging;
    staging.clear();
    staging.reserve(std::size_t{1} << 20);
    for (const std::span<const char> piece : pieces) {
        if (!staging.empty() && staging.size() + piece.size() > staging.capacity()) {
            if (!write_fully(handle, staging.data(), staging.size())) {
                return false;
            }
            staging.clear();
        }
        if (piece.size() > staging.capacity()) {
            if (!write_fully(handle, piece.data(), piece.size())) {
                return false;
            }
            continue;
        }
        staging.insert(staging.end(), piece.begin(), piece.end());
    }
    return staging.empty() || write_fully(handle, staging.data(), staging.size());
}

bool close_output_handle(std::intptr_t handle) {
    // The complete file is shown before it takes its name, so that the name
    // never appears hidden.
    FILE_BASIC_INFO basic{};
    basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    const HANDLE file = reinterpret_cast<HANDLE>(handle);
    const bool shown = SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof basic) != 0;
    return CloseHandle(file) != 0 && shown;
}

bool replace_file(const char* from, const char* to) {
    // A read-only file under the final name is replaced, as on POSIX
    // systems: its attribute is cleared first. A file that another program
    // holds open may be free a moment later: then try again.
    bool cleared = false;
    for (int attempt = 0; attempt < RETRIES; ++attempt) {
        if (MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING)) {
            return true;
        }
        const DWORD error = GetLastError();
        if (error == ERROR_ACCESS_DENIED && !cleared && clear_read_only(to)) {
            cleared = true;
            continue;
        }
        if (!held_elsewhere(error) && error != ERROR_ACCESS_DENIED) {
            return false;
        }
        Sleep(RETRY_PAUSE_MS);
    }
    return false;
}

void remove_file(const char* path) {
    for (int attempt = 0; attempt < RETRIES; ++attempt) {
        if (DeleteFileA(path) || !held_elsewhere(GetLastError())) {
            return;
        }
        Sleep(RETRY_PAUSE_MS);
    }
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

void install_interruption_cleanup() {
    SetConsoleCtrlHandler(on_console_event, TRUE);
}
