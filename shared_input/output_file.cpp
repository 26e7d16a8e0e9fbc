// Output files written under a temporary name and renamed when complete, and
// the table of open temporary files that an interruption removes.
#include "output_file.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <random>
#include <thread>

#include "output_system.h"

namespace {

#ifdef _WIN32
constexpr bool CRLF_TEXT = true;  // text files end their lines in CR LF
#else
constexpr bool CRLF_TEXT = false;
#endif

// ---------------------------------------------------------------------------
// The table of open temporary files
//
// The interruption handler may run on any thread, while other threads create,
// rename and remove files, so the table is read and written with lock-free
// atomics only. An entry's path is written only while the entry is `claimed`
// by its thread, and read by the handler only once it is `open`: a thread
// claims a free entry, writes the path, creates the file and then marks the
// entry open. The handler first sets `ending`, then waits for every claimed
// entry to settle and removes the file of every open one. A thread that
// claims an entry after that sees `ending` and creates nothing, so no
// temporary file can appear behind the handler's back.

enum EntryState : int { FREE, CLAIMED, OPEN };

// Long enough for any path a system opens (PATH_MAX is 4096 on Linux).
constexpr std::size_t PATH_ROOM = 4096;

struct TemporaryEntry {
    std::atomic<int> state{FREE};
    char path[PATH_ROOM];
};

static_assert(std::atomic<int>::is_always_lock_free,
              "the interruption handler needs lock-free atomics");

TemporaryEntry open_temporaries[OPEN_OUTPUT_LIMIT];
std::atomic<int> ending{0};

// Claims a free entry for `path` and returns its index, or -1 if every entry
// is taken. With interruptions held on this thread. When the run is being
// ended by an interruption, waits for the end instead.
int claim_entry(const std::string& path) {
    for (std::size_t index = 0; index < OPEN_OUTPUT_LIMIT; ++index) {
        int expected = FREE;
        if (!open_temporaries[index].state.compare_exchange_strong(expected, CLAIMED)) {
            continue;
        }
        if (ending.load() != 0) {
            open_temporaries[index].state.store(FREE);
            wait_for_the_end();
        }
        std::memcpy(open_temporaries[index].path, path.c_str(), path.size() + 1);
        return static_cast<int>(index);
    }
    return -1;
}

// The final file name, hidden, with a random part and ".tmp", in the final
// name's directory: "./image/.201907_   3_discharge.ppm.0123456789abcdef.tmp".
// A file left behind after a crash still tells what it was meant to become.
std::string temporary_name(const std::string& final_path, std::uint64_t number) {
    const std::size_t slash = final_path.find_last_of("/\\");
    const std::size_t name = slash == std::string::npos ? 0 : slash + 1;
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, ".%016llx.tmp", static_cast<unsigned long long>(number));
    return final_path.substr(0, name) + "." + final_path.substr(name) + suffix;
}

// A generator of each thread's own, so that threads drawing at once neither
// share its state nor draw the same names.
std::uint64_t random_number() {
    thread_local std::mt19937_64 generator = [] {
        std::random_device device;
        const std::uint64_t process = process_number();
        const std::size_t thread = std::hash<std::thread::id>{}(std::this_thread::get_id());
        std::seed_seq seed{device(),
                           device(),
                           device(),
                           static_cast<unsigned>(process),
                           static_cast<unsigned>(process >> 32),
                           static_cast<unsigned>(thread),
                           static_cast<unsigned>(static_cast<std::uint64_t>(thread) >> 32)};
        return std::mt19937_64(seed);
    }();
    return generator();
}

// Takes the output's temporary file out of the table once it is renamed or
// removed: the output is closed.
void close_entry(OutputFile& file) {
    open_temporaries[file.entry].state.store(FREE);
    file.entry = -1;
    file.handle = -1;
    file.temporary_path.clear();
}

}  // namespace

void remove_open_temporaries() {
    ending.store(1);
    for (TemporaryEntry& entry : open_temporaries) {
        // A thread between claiming an entry and opening its file has
        // interruptions held and is not waiting for anything that this
        // handler holds; give it a few seconds, which it never needs.
        for (int wait = 0; wait < 5000 && entry.state.load() == CLAIMED; ++wait) {
            pause_briefly();
        }
        if (entry.state.load() == OPEN) {
            remove_file(entry.path);
        }
    }
}

bool interruption_under_way() {
    return ending.load() != 0;
}

OutputFile::~OutputFile() {
    discard_output_file(*this);
}

bool create_output_file(OutputFile& file, const std::string& final_path, bool text) {
    discard_output_file(file);
    // Renaming onto a directory would fail only once the file is written.
    std::error_code error;
    if (std::filesystem::is_directory(final_path, error)) {
        return false;
    }
    // Everything that may throw comes before the file exists: past its
    // creation there are only moves and plain values.
    std::string final_name = final_path;
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = temporary_name(final_path, random_number());
        if (name.size() >= PATH_ROOM) {
            return false;
        }
        hold_interruptions_here();
        const int entry = claim_entry(name);
        if (entry < 0) {
            allow_interruptions_here();
            return false;
        }
        std::intptr_t handle = -1;
        const Creation creation = create_exclusively(name.c_str(), handle);
        open_temporaries[entry].state.store(creation == Creation::created ? OPEN : FREE);
        allow_interruptions_here();
        if (creation == Creation::created) {
            file.final_path = std::move(final_name);
            file.temporary_path = std::move(name);
            file.text = text;
            file.failed = false;
            file.handle = handle;
            file.entry = entry;
            return true;
        }
        if (creation == Creation::failed) {
            return false;
        }
    }
    return false;
}

bool write_output_pieces(OutputFile& file, std::span<const std::span<const char>> pieces) {
    if (file.entry < 0 || file.failed) {
        return false;
    }
    file.failed = !write_gathered(file.handle, pieces);
    return !file.failed;
}

bool write_output_file(OutputFile& file, const char* bytes, std::size_t size) {
    std::string lines;
    if (CRLF_TEXT && file.text) {
        lines.reserve(size + size / 8);
        for (std::size_t i = 0; i < size; ++i) {
            if (bytes[i] == '\n') {
                lines += '\r';
            }
            lines += bytes[i];
        }
        bytes = lines.data();
        size = lines.size();
    }
    const std::span<const char> piece(bytes, size);
    return write_output_pieces(file, std::span(&piece, 1));
}

bool commit_output_file(OutputFile& file) {
    if (file.entry < 0) {
        return false;
    }
    // Nothing here holds interruptions back: the handler may remove the
    // temporary file at any moment, before the rename (which then fails) or
    // after it (when the name is gone and the output complete). Closing may
    // take long (a network file system writes the file out then), and so may
    // the rename where Windows has to wait for another program to let go of
    // the old file.
    const bool closed = close_output_handle(file.handle);
    const bool renamed = closed && !file.failed &&
                         replace_file(file.temporary_path.c_str(), file.final_path.c_str());
    if (!renamed) {
        remove_file(file.temporary_path.c_str());
    }
    close_entry(file);
    // A rename that failed because an interruption took the file away is no
    // failure to report: the run is ending.
    if (!renamed && interruption_under_way()) {
        wait_for_the_end();
    }
    return renamed;
}

void discard_output_file(OutputFile& file) {
    if (file.entry < 0) {
        return;
    }
    close_output_handle(file.handle);
    remove_file(file.temporary_path.c_str());
    close_entry(file);
}
