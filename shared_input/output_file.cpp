// Output files written under a temporary name and renamed when complete, and
// the table of open temporary files that an interruption removes.
#include "output_file.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <iterator>
#include <random>
#include <system_error>
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
//
// An open file is renamed or removed either by its owner or by the handler,
// never by both: each first takes the entry from `open` by compare-exchange,
// the owner to `committing`, the handler to `removing`, and whoever loses
// leaves the file alone. Else the handler could remove the temporary file by
// name just as the owner renames it, and so remove the complete output under
// its final name (on Windows a removal opens the file by name, and deletes it
// only when it closes it). The owner that loses waits for the end; the
// handler waits for an entry being committed to settle, and then has nothing
// to remove.

enum EntryState : int { FREE, CLAIMED, OPEN, COMMITTING, REMOVING };

// Long enough for any path a system opens (PATH_MAX is 4096 on Linux).
constexpr std::size_t PATH_ROOM = 4096;

// How long the handler waits in all for threads to settle their entries, on
// a clock that Sleep(1) cannot stretch (it sleeps 15.6 ms on Windows): well
// within the five seconds that Windows gives a process once its console is
// closed. A thread needs moments.
constexpr std::uint64_t HANDLER_DEADLINE_MS = 2000;

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

// Takes the output's entry from the interruption handler before its owner
// renames or removes the temporary file, with interruptions held on this
// thread until close_entry(). If the handler has taken it first, the run is
// ending: waits for the end.
void take_entry(const OutputFile& file) {
    hold_interruptions_here();
    int expected = OPEN;
    if (!open_temporaries[file.entry].state.compare_exchange_strong(expected, COMMITTING)) {
        wait_for_the_end();
    }
}

// Takes the output's temporary file out of the table once it is renamed or
// removed: the output is closed.
void close_entry(OutputFile& file) {
    open_temporaries[file.entry].state.store(FREE);
    allow_interruptions_here();
    file.entry = -1;
    file.handle = -1;
    file.temporary_path.clear();
}

// Closes and removes the temporary file of an open output.
void remove_output(OutputFile& file) {
    std::error_code ignored;
    close_output_handle(file.handle, ignored);
    take_entry(file);
    remove_file(file.temporary_path.c_str());
    close_entry(file);
}

// The reason of a step on an output that is not open: the one of the step
// that closed it, if that failed.
void keep_closed_reason(OutputFile& file) {
    if (file.reason.empty()) {
        file.reason = "the output is not open";
    }
}

// ---------------------------------------------------------------------------
// Temporary names

// The final file name, hidden, with a random part and ".tmp", in the final
// name's directory: "./image/.201907_   3_discharge.ppm.0123456789abcdef.tmp".
// A file left behind after a crash still tells what it was meant to become.
constexpr std::size_t RANDOM_DIGITS = 16;
constexpr char TEMPORARY_END[] = ".tmp";

std::string temporary_name(const std::string& final_path, std::uint64_t number) {
    const std::size_t slash = final_path.find_last_of("/\\");
    const std::size_t name = slash == std::string::npos ? 0 : slash + 1;
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, ".%016llx%s", static_cast<unsigned long long>(number),
                  TEMPORARY_END);
    return final_path.substr(0, name) + "." + final_path.substr(name) + suffix;
}

// The final name (file name only) of the temporary file named `name` (file
// name only), as temporary_name() makes them; empty if `name` is none.
std::string final_name_of(const std::string& name) {
    const std::size_t suffix_size = 1 + RANDOM_DIGITS + (sizeof TEMPORARY_END - 1);
    if (name.size() < 2 + suffix_size || name[0] != '.' || !name.ends_with(TEMPORARY_END)) {
        return {};
    }
    const std::size_t dot = name.size() - suffix_size;
    if (name[dot] != '.') {
        return {};
    }
    for (std::size_t i = dot + 1; i <= dot + RANDOM_DIGITS; ++i) {
        if (!((name[i] >= '0' && name[i] <= '9') || (name[i] >= 'a' && name[i] <= 'f'))) {
            return {};
        }
    }
    return name.substr(1, dot - 1);
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

// ---------------------------------------------------------------------------
// Reasons

// The common errors among errno values (of this system's C library: MinGW's
// numbers differ from Linux's for some).
struct ErrnoError {
    int number;
    CommonError error;
};

constexpr ErrnoError ERRNO_ERRORS[] = {
    {ENOSPC, CommonError::no_space},
    {ENOENT, CommonError::no_such_file},
    {EACCES, CommonError::permission_denied},
    {EPERM, CommonError::not_permitted},
    {EISDIR, CommonError::is_a_directory},
    {ENOTDIR, CommonError::not_a_directory},
    {EROFS, CommonError::read_only},
#ifdef EDQUOT
    {EDQUOT, CommonError::quota_exceeded},
#endif
    {EEXIST, CommonError::file_exists},
    {ENAMETOOLONG, CommonError::name_too_long},
    {EMFILE, CommonError::too_many_open_files},
    {EIO, CommonError::input_output},
    {ENOTEMPTY, CommonError::not_empty},
    {EXDEV, CommonError::cross_device},
    {ENOMEM, CommonError::out_of_memory},
    {EFBIG, CommonError::file_too_large},
    {ELOOP, CommonError::link_loop},
    {EBUSY, CommonError::busy},
    {EAGAIN, CommonError::try_again},
};

// The words of each common error, in the order of CommonError, as the GNU C
// library words them.
constexpr const char* COMMON_WORDS[] = {
    nullptr,
    "No space left on device",
    "No such file or directory",
    "Permission denied",
    "Operation not permitted",
    "Is a directory",
    "Not a directory",
    "Read-only file system",
    "Disk quota exceeded",
    "File exists",
    "File name too long",
    "Too many open files",
    "Input/output error",
    "Directory not empty",
    "Invalid cross-device link",
    "Cannot allocate memory",
    "File too large",
    "Too many levels of symbolic links",
    "Device or resource busy",
    "Resource temporarily unavailable",
};

static_assert(std::size(COMMON_WORDS) == static_cast<std::size_t>(CommonError::try_again) + 1,
              "words for every common error");

}  // namespace

const char* common_words(CommonError error) {
    return COMMON_WORDS[static_cast<std::size_t>(error)];
}

std::string errno_reason(int number) {
    for (const ErrnoError& known : ERRNO_ERRORS) {
        if (known.number == number) {
            return common_words(known.error);
        }
    }
    return std::generic_category().message(number);
}

std::string reason_text(const std::error_code& error) {
    if (error.category() == std::generic_category()) {
        return errno_reason(error.value());
    }
    if (error.category() == std::system_category()) {
        return system_reason(error.value());
    }
    return error.message();
}

bool system_write_reason(std::string& reason) {
    if (errno == ENOSPC || errno == EIO || errno == EFBIG
#ifdef EDQUOT
        || errno == EDQUOT
#endif
    ) {
        reason = reason_text(std::error_code(errno, std::generic_category()));
        return true;
    }
    return false;
}

bool written_before(std::int64_t seconds, std::int64_t nanoseconds,
                    std::filesystem::file_time_type started) {
    // Compared in whole seconds and the nanoseconds past them, so that no
    // time, however far off, overflows.
    using std::chrono::file_clock;
    using Seconds = std::chrono::seconds;
    const auto since_epoch = started.time_since_epoch();
    const auto whole = std::chrono::floor<Seconds>(since_epoch);
    const std::int64_t epoch =
        std::chrono::floor<Seconds>(file_clock::to_sys(file_clock::time_point{}).time_since_epoch())
            .count();
    const std::int64_t start_seconds = whole.count() + epoch;
    const std::int64_t start_nanoseconds =
        std::chrono::duration_cast<std::chrono::nanoseconds>(since_epoch - whole).count();
    return seconds < start_seconds || (seconds == start_seconds && nanoseconds < start_nanoseconds);
}

// ---------------------------------------------------------------------------
// The interruption handler's part

void remove_open_temporaries() {
    ending.store(1);
    const std::uint64_t deadline = monotonic_milliseconds() + HANDLER_DEADLINE_MS;
    for (TemporaryEntry& entry : open_temporaries) {
        // A thread between claiming an entry and opening its file, or
        // renaming or removing its file, has interruptions held and is not
        // waiting for anything that this handler holds: it settles the entry
        // in a moment. One that has not by the deadline is left alone.
        int state = entry.state.load();
        while ((state == CLAIMED || state == COMMITTING) && monotonic_milliseconds() < deadline) {
            pause_briefly();
            state = entry.state.load();
        }
        int expected = OPEN;
        if (entry.state.compare_exchange_strong(expected, REMOVING)) {
            remove_file(entry.path, deadline);
        }
    }
}

bool interruption_under_way() {
    return ending.load() != 0;
}

// ---------------------------------------------------------------------------
// Outputs

OutputFile::~OutputFile() {
    discard_output_file(*this);
}

namespace {

bool create_temporary(OutputFile& file, const std::string& final_path, bool text, bool shared) {
    discard_output_file(file);
    file.reason.clear();
    // Renaming onto a directory would fail only once the file is written.
    std::error_code error;
    if (std::filesystem::is_directory(final_path, error)) {
        file.reason = common_words(CommonError::is_a_directory);
        return false;
    }
    // Everything that may throw comes before the file exists, or once it has
    // failed to: past its creation there are only moves and plain values.
    std::string final_name = final_path;
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = temporary_name(final_path, random_number());
        if (name.size() >= PATH_ROOM) {
            file.reason = common_words(CommonError::name_too_long);
            return false;
        }
        hold_interruptions_here();
        const int entry = claim_entry(name);
        if (entry < 0) {
            allow_interruptions_here();
            file.reason = "more than ";
            file.reason += std::to_string(OPEN_OUTPUT_LIMIT);
            file.reason += " outputs open at once";
            return false;
        }
        std::intptr_t handle = -1;
        const Creation creation = create_exclusively(name.c_str(), handle, error, shared);
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
            file.reason = reason_text(error);
            return false;
        }
    }
    file.reason = common_words(CommonError::file_exists);
    return false;
}

}  // namespace

bool create_output_file(OutputFile& file, const std::string& final_path, bool text) {
    return create_temporary(file, final_path, text, false);
}

bool create_library_output_file(OutputFile& file, const std::string& final_path) {
    return create_temporary(file, final_path, false, true);
}

bool write_output_pieces(OutputFile& file, std::span<const std::span<const char>> pieces) {
    if (file.entry < 0) {
        keep_closed_reason(file);
        return false;
    }
    std::error_code error;
    if (write_gathered(file.handle, pieces, error)) {
        return true;
    }
    // The output can no longer be whole: its file goes at once, leaving the
    // room it took on a full disk to the others.
    file.failed = true;
    remove_output(file);
    file.reason = reason_text(error);
    return false;
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
        keep_closed_reason(file);
        return false;
    }
    // Interruptions are held back only while the file is renamed or removed:
    // closing may take long (a network file system writes the file out
    // then). Another handle holds the file against other runs' cleanup from
    // the close through the rename.
    std::error_code error;
    const std::intptr_t hold = hold_past_close(file.handle, file.temporary_path.c_str());
    const bool closed = close_output_handle(file.handle, error);
    take_entry(file);
    const bool renamed =
        closed && replace_file(file.temporary_path.c_str(), file.final_path.c_str(), error);
    if (!renamed) {
        remove_file(file.temporary_path.c_str());
    }
    release_hold(hold);
    close_entry(file);
    if (!renamed) {
        // Nothing to report when the run is ending: let it end.
        if (interruption_under_way()) {
            wait_for_the_end();
        }
        file.reason = reason_text(error);
    }
    return renamed;
}

void discard_output_file(OutputFile& file) {
    if (file.entry >= 0) {
        remove_output(file);
    }
}

std::size_t remove_abandoned_temporaries(
    const std::string& folder, const std::function<bool(const std::string& final_name)>& belongs,
    std::filesystem::file_time_type started) {
    std::string prefix = folder;
    if (!prefix.empty() && !prefix.ends_with('/') && !prefix.ends_with('\\')) {
        prefix += '/';
    }
    std::size_t removed = 0;
    list_folder(folder.empty() ? "." : folder.c_str(), [&](const char* name) {
        const std::string final_name = final_name_of(name);
        if (!final_name.empty() && belongs(final_name) &&
            remove_if_abandoned((prefix + name).c_str(), started)) {
            ++removed;
        }
    });
    return removed;
}

bool write_whole_output(const std::string& final_path, std::string_view bytes, bool text,
                        std::string& reason) {
    OutputFile file;
    if (create_output_file(file, final_path, text) &&
        write_output_file(file, bytes.data(), bytes.size()) && commit_output_file(file)) {
        return true;
    }
    reason = file.reason;
    return false;
}

bool folder_writable(const std::string& folder, std::string& reason) {
    OutputFile probe;
    if (!create_output_file(probe, folder + "/write-check", false)) {
        reason = probe.reason;
        return false;
    }
    discard_output_file(probe);
    return true;
}

bool make_output_folder(const std::string& path, std::string& reason) {
    std::error_code created;
    std::filesystem::create_directory(path, created);
    std::error_code checked;
    if (!std::filesystem::is_directory(path, checked)) {
        reason = reason_text(created ? created : std::make_error_code(std::errc::not_a_directory));
        return false;
    }
    return true;
}
