// Output files on POSIX systems, and the signal handlers that remove the
// temporary file of an interrupted run.
#include <fcntl.h>
#include <limits.h>
#include <pthread.h>
#include <signal.h>
#include <sys/uio.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
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

// Writes all `size` bytes; false on any error.
bool write_fully(std::intptr_t handle, const char* bytes, std::size_t size) {
    while (size > 0) {
        const ssize_t written = write(static_cast<int>(handle), bytes, size);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return false;
        }
        bytes += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

}  // namespace

Creation create_exclusively(const char* path, std::intptr_t& handle) {
    // O_EXCL: fails on any file of that name, a link planted there included.
    int fd = -1;
    do {
        fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd >= 0) {
        handle = fd;
        return Creation::created;
    }
    return errno == EEXIST ? Creation::name_taken : Creation::failed;
}

bool write_gathered(std::intptr_t handle, std::span<const std::span<const char>> pieces) {
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
            return false;
        }
        // The pieces written whole are done; one that a short write cut is
        // finished on its own.
        std::size_t left = static_cast<std::size_t>(written);
        for (const iovec& piece : vector) {
            if (left < piece.iov_len) {
                if (!write_fully(handle, static_cast<const char*>(piece.iov_base) + left,
                                 piece.iov_len - left)) {
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

bool close_output_handle(std::intptr_t handle) {
    // After EINTR the descriptor is closed on Linux, and nothing was lost.
    return close(static_cast<int>(handle)) == 0 || errno == EINTR;
}

bool replace_file(const char* from, const char* to) {
    // Needs write permission on the folder only: a read-only file under the
    // final name is replaced like any other.
    return rename(from, to) == 0;
}

void remove_file(const char* path) {
    unlink(path);
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
