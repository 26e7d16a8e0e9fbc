// Output files on Windows, and the console control handler that removes the
// temporary file of an interrupted run.
#include <windows.h>

#include <cstring>
#include <vector>

#include "output_file.h"
#include "output_system.h"

namespace {

// The temporary file being written, for the handler, which Windows runs in a
// thread of its own. The lock is held while it changes, and while the file is
// created, renamed or removed.
SRWLOCK output_lock = SRWLOCK_INIT;
char interrupted_output[MAX_PATH];
bool has_interrupted_output = false;

// Ctrl-C, Ctrl-Break and closing the console: remove the temporary file and
// end with the status of the default handler. The lock is kept, so the
// program makes no further output file before it ends. The process ends at
// once, as by a signal: ExitProcess() would first flush the C library's
// streams, whose lock the interrupted main thread may hold, and wait forever.
BOOL WINAPI on_console_event(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) {
        return FALSE;
    }
    AcquireSRWLockExclusive(&output_lock);
    if (has_interrupted_output) {
        // The file is open for writing, shared for deletion: it goes when
        // the process ends.
        DeleteFileA(interrupted_output);
    }
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

}  // namespace

Creation create_exclusively(const char* path, std::intptr_t& handle) {
    // CREATE_NEW: fails on any file of that name.
    const HANDLE file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                    nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
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
    // into writes of about 1 MiB instead.
    static std::vector<char> staging;
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

bool close_file(std::intptr_t handle) {
    return CloseHandle(reinterpret_cast<HANDLE>(handle)) != 0;
}

bool replace_file(const char* from, const char* to) {
    // The file being replaced may be open for a moment, by a virus scanner,
    // an indexer or another run replacing it too: then try again.
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING)) {
            return true;
        }
        const DWORD error = GetLastError();
        if (error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION) {
            return false;
        }
        Sleep(10);
    }
    return false;
}

void remove_file(const char* path) {
    DeleteFileA(path);
}

std::uint64_t process_number() {
    return GetCurrentProcessId();
}

void hold_interruptions() {
    AcquireSRWLockExclusive(&output_lock);
}

void release_interruptions(const char* temporary_path) {
    has_interrupted_output = false;
    if (temporary_path != nullptr && std::strlen(temporary_path) < sizeof interrupted_output) {
        std::strcpy(interrupted_output, temporary_path);
        has_interrupted_output = true;
    }
    ReleaseSRWLockExclusive(&output_lock);
}

void install_interruption_cleanup() {
    SetConsoleCtrlHandler(on_console_event, TRUE);
}
