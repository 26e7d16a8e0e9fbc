// Output files on POSIX systems, and the signal handlers that remove the
// temporary file of an interrupted run.
#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <pthread.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <vector>

#include "output_file.h"
#include "output_system.h"

namespace {

// The signals that end a run from outside and can be caught: Ctrl-C, kill's
// default, a closed terminal or ssh session, Ctrl-\ and a console pipe whose
// reader has gone.
constexpr int INTERRUPTIONS[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE};

sigset_t interruption_set() {
    sigset_t set;
    sigemptyset(&set);
    for (const int signal : INTERRUPTIONS) {
        sigaddset(&set, signal);
    }
    return set;
}

// The calling thread's signal mask before hold_interruptions_here().
thread_local sigset_t mask_before_hold;

// Removes every open temporary file, then ends the process by the same
// signal with its default action, as if there were no handler, so that a
// parent sees what ended it. Async-signal-safe only.
//
// The kernel ignores a signal whose action is the default for the first
// process of a PID namespace (a container started without an init): there
// the signal is not raised again, nor under an emulator standing in for the
// program, which would wait for it forever. Either way the process then ends
// with the status a shell gives to an end by that signal, 128 + its number.
void on_interruption(int number) {
    remove_open_temporaries();
    struct sigaction default_action {};
    default_action.sa_handler = SIG_DFL;
    sigemptyset(&default_action.sa_mask);
    sigaction(number, &default_action, nullptr);
    sigset_t this_signal;
    sigemptyset(&this_signal);
    sigaddset(&this_signal, number);
    pthread_sigmask(SIG_UNBLOCK, &this_signal, nullptr);
    if (getpid() != 1) {
        raise(number);
    }
    _exit(128 + number);
}

// The error of the last failed call, from errno.
std::error_code last_error() {
    return {errno, std::generic_category()};
}

// Writes all `size` bytes; false on any error, with `error` set.
bool write_fully(std::intptr_t handle, const char* bytes, std::size_t size,
                 std::error_code& error) {
    while (size > 0) {
        const ssize_t written = write(static_cast<int>(handle), bytes, size);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written < 0) {
            error = last_error();
            return false;
        }
        if (written == 0) {
            error = std::make_error_code(std::errc::io_error);
            return false;
        }
        bytes += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

// Takes an exclusive flock on `fd`, waiting for it or not; false if the
// file is locked elsewhere or cannot be locked, with errno set.
bool lock_exclusively(int fd, bool wait) {
    int result = 0;
    do {
        result = flock(fd, LOCK_EX | (wait ? 0 : LOCK_NB));
    } while (result != 0 && errno == EINTR);
    return result == 0;
}

}  // namespace

Creation create_exclusively(const char* path, std::intptr_t& handle, std::error_code& error,
                            bool /*shared: any file may be opened again here*/) {
    // O_EXCL: fails on any file of that name, a link planted there included.
    int fd = -1;
    do {
        fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        error = last_error();
        return errno == EEXIST ? Creation::name_taken : Creation::failed;
    }
    // Locked at once, so that another run's cleanup, which takes the lock
    // before it removes a file, leaves it alone (it may hold the lock a
    // moment: this waits for it). Where the file system has no locks, the
    // cleanup cannot take one either.
    lock_exclusively(fd, true);
    handle = fd;
    return Creation::created;
}

bool write_gathered(std::intptr_t handle, std::span<const std::span<const char>> pieces,
                    std::error_code& error) {
    std::vector<iovec> vector;
    std::size_t next = 0;  // the first piece not yet written whole
    while (next < pieces.size()) {
        vector.clear();
        for (std::size_t i = next; i < pieces.size() && vector.size() < IOV_MAX; ++i) {
            vector.push_back({const_cast<char*>(pieces[i].data()), pieces[i].size()});
        }
        const ssize_t written =
            writev(static_cast<int>(handle), vector.data(), static_cast<int>(vector.size()));
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            error = last_error();
            return false;
        }
        // The pieces written whole are done; one that a short write cut is
        // finished on its own.
        std::size_t left = static_cast<std::size_t>(written);
        for (const iovec& piece : vector) {
            if (left < piece.iov_len) {
                if (!write_fully(handle, static_cast<const char*>(piece.iov_base) + left,
                                 piece.iov_len - left, error)) {
                    return false;
                }
                ++next;
                break;
            }
            left -= piece.iov_len;
            ++next;
        }
    }
    return true;
}

std::intptr_t hold_past_close(std::intptr_t handle, const char* /*path*/) {
    // A second descriptor of the same open file shares its flock, which
    // lasts until the last of them is closed.
    return fcntl(static_cast<int>(handle), F_DUPFD_CLOEXEC, 0);
}

void release_hold(std::intptr_t hold) {
    if (hold >= 0) {
        close(static_cast<int>(hold));
    }
}

bool close_output_handle(std::intptr_t handle, std::error_code& error) {
    // After EINTR the descriptor is closed on Linux, and nothing was lost.
    if (close(static_cast<int>(handle)) == 0 || errno == EINTR) {
        return true;
    }
    error = last_error();
    return false;
}

bool replace_file(const char* from, const char* to, std::error_code& error) {
    // Needs write permission on the folder only: a read-only file under the
    // final name is replaced like any other.
    if (rename(from, to) == 0) {
        return true;
    }
    error = last_error();
    return false;
}

void remove_file(const char* path, std::uint64_t /*deadline*/) {
    unlink(path);
}

void list_folder(const char* folder, const std::function<void(const char* name)>& visit) {
    const std::unique_ptr<DIR, int (*)(DIR*)> listing(opendir(folder), closedir);
    if (!listing) {
        return;
    }
    while (const dirent* entry = readdir(listing.get())) {
        visit(entry->d_name);
    }
}

bool remove_if_abandoned(const char* path, std::filesystem::file_time_type started) {
    // O_NONBLOCK: a FIFO planted under a temporary name does not hold this
    // up. Opened for reading only: where flock is made of POSIX record locks
    // (NFS), which never exclude their own process, taking it fails instead.
    int fd = -1;
    do {
        fd = open(path, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        return false;
    }
    // The name must still be the file locked: compared by device and inode.
    struct stat opened {};
    struct stat named {};
    bool removed = false;
    if (lock_exclusively(fd, false) && fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode)) {
        removed = written_before(opened.st_mtim.tv_sec, opened.st_mtim.tv_nsec, started) &&
                  lstat(path, &named) == 0 && named.st_dev == opened.st_dev &&
                  named.st_ino == opened.st_ino && unlink(path) == 0;
    }
    close(fd);
    return removed;
}

std::string system_reason(int code) {
    return errno_reason(code);
}

std::uint64_t monotonic_milliseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1000 +
           static_cast<std::uint64_t>(now.tv_nsec) / 1000000;
}

std::uint64_t process_number() {
    return static_cast<std::uint64_t>(getpid());
}

void hold_interruptions_here() {
    const sigset_t set = interruption_set();
    pthread_sigmask(SIG_BLOCK, &set, &mask_before_hold);
}

void allow_interruptions_here() {
    pthread_sigmask(SIG_SETMASK, &mask_before_hold, nullptr);
}

void wait_for_the_end() {
    for (;;) {
        pause();
    }
}

void pause_briefly() {
    const timespec millisecond{0, 1000000};
    nanosleep(&millisecond, nullptr);
}

void settle_ended_input() {}

FileLock::~FileLock() {
    if (handle >= 0) {
        close(static_cast<int>(handle));  // releases the flock
    }
}

Locking lock_file(FileLock& lock, const std::string& path, std::string& reason) {
    if (lock.handle >= 0) {
        close(static_cast<int>(lock.handle));
    }
    lock.handle = -1;
    int fd = -1;
    do {
        fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        reason = reason_text(last_error());
        return Locking::failed;
    }
    // flock belongs to the open file description: another FileLock of this
    // process, with a description of its own, is excluded too.
    if (!lock_exclusively(fd, false)) {
        const std::error_code error = last_error();
        close(fd);
        if (error == std::errc::operation_would_block) {
            return Locking::busy;
        }
        reason = reason_text(error);
        return Locking::failed;
    }
    lock.handle = fd;
    return Locking::locked;
}

void install_interruption_cleanup() {
    struct sigaction action {};
    action.sa_handler = on_interruption;
    action.sa_mask = interruption_set();
    for (const int signal : INTERRUPTIONS) {
        // A signal ignored when the program starts (nohup, a background job)
        // stays ignored.
        struct sigaction before {};
        if (sigaction(signal, nullptr, &before) == 0 && before.sa_handler != SIG_IGN) {
            sigaction(signal, &action, nullptr);
        }
    }
}
