#include "program_run.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>
#include <vector>

#include "run_tree.h"

std::string as_unix_text(const std::string& text) {
    if (!PROGRAMS_RUN_ON_WINDOWS) {
        return text;
    }
    std::string lines;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            continue;
        }
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) {
            return text;
        }
        lines += text[i];
    }
    return lines;
}

std::string read_text(const std::filesystem::path& path) {
    return as_unix_text(read_bytes(path));
}

namespace {

void make_fifo(const std::filesystem::path& path) {
    if (mkfifo(path.c_str(), 0644) != 0) {
        throw std::runtime_error("cannot create FIFO " + path.string());
    }
}

void write_all(int fd, const std::string& bytes) {
    std::size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + written, bytes.size() - written);
        if (n <= 0) {
            return;  // the reader left early
        }
        written += static_cast<std::size_t>(n);
    }
}

}  // namespace

FifoFeeder::FifoFeeder(std::filesystem::path path, std::string bytes, int openings)
    : path_(std::move(path)), connected_future_(connected_.get_future()) {
    make_fifo(path_);
    // A reader that leaves early must not kill the test with SIGPIPE.
    signal(SIGPIPE, SIG_IGN);
    writer_ = std::thread([this, bytes = std::move(bytes), openings] {
        for (int i = 0; i < openings; ++i) {
            const int fd = open(path_.c_str(), O_WRONLY);
            if (fd < 0) {
                break;
            }
            if (i + 1 < openings) {
                const std::filesystem::path fresh = path_.string() + ".next";
                make_fifo(fresh);
                std::filesystem::rename(fresh, path_);
            }
            if (i == 0) {
                connected_.set_value();
            }
            write_all(fd, bytes);
            close(fd);
        }
        done_ = true;
    });
}

FifoFeeder::~FifoFeeder() {
    // A writer still blocked in open() waits for a reader that will not come:
    // be that reader, and leave at once.
    while (!done_) {
        const int fd = open(path_.c_str(), O_RDONLY | O_NONBLOCK);
        if (fd >= 0) {
            close(fd);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    writer_.join();
}

void FifoFeeder::wait_first_connection() {
    connected_future_.wait_for(std::chrono::seconds(10));
}

namespace {

// Starts `program` (through the launcher, if any) in `directory` with
// standard input from `in_fd` and standard output into the file `out_path`.
// Standard error stays the test's: the programs write nothing there, but
// sanitizers and emulators report there.
pid_t spawn(const std::string& program, const std::filesystem::path& directory, int in_fd,
            const std::filesystem::path& out_path) {
    // The argument vector is built before fork(): the child only execs.
    std::vector<char*> argv;
    for (const char* word : LAUNCHER) {
        argv.push_back(const_cast<char*>(word));
    }
    argv.push_back(const_cast<char*>(program.c_str()));
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid < 0) {
        throw std::runtime_error("fork failed");
    }
    if (pid == 0) {
        const int out_fd = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (out_fd < 0 || chdir(directory.c_str()) != 0 || dup2(in_fd, 0) < 0 ||
            dup2(out_fd, 1) < 0) {
            _exit(127);
        }
        execvp(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

ProcessResult finish(pid_t pid, const std::filesystem::path& out_path) {
    int wait_status = 0;
    if (waitpid(pid, &wait_status, 0) != pid) {
        throw std::runtime_error("waitpid failed");
    }
    ProcessResult result;
    result.status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : -1;
    result.output = as_unix_text(read_bytes(out_path));
    std::filesystem::remove(out_path);
    return result;
}

}  // namespace

ProcessResult run_program(const std::string& program, const std::filesystem::path& directory,
                          const std::string& input) {
    // Standard input and output go through files, so that neither side can
    // block on a full pipe.
    const std::filesystem::path in_path = directory.parent_path() / ".stdin";
    const std::filesystem::path out_path = directory.parent_path() / ".stdout";
    write_text(in_path, input);
    const int in_fd = open(in_path.c_str(), O_RDONLY | O_CLOEXEC);
    if (in_fd < 0) {
        throw std::runtime_error("cannot open " + in_path.string());
    }
    const pid_t pid = spawn(program, directory, in_fd, out_path);
    close(in_fd);
    std::filesystem::remove(in_path);
    return finish(pid, out_path);
}

ProcessResult run_program_gated(const std::string& program, const std::filesystem::path& directory,
                                const std::string& first, const std::function<void()>& before_rest,
                                const std::string& rest) {
    const std::filesystem::path out_path = directory.parent_path() / ".stdout";
    int input[2];
    // Close-on-exec: the program must not inherit the write end, or its
    // standard input would never end.
    if (pipe2(input, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    signal(SIGPIPE, SIG_IGN);
    const pid_t pid = spawn(program, directory, input[0], out_path);
    close(input[0]);
    write_all(input[1], first);
    before_rest();
    write_all(input[1], rest);
    close(input[1]);
    return finish(pid, out_path);
}
