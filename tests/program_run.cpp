#include "program_run.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
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

// In a child about to run a program: every signal at its default action and
// none blocked, as a shell starts a program, whatever this test program set
// for itself (it ignores SIGPIPE); and no core file for SIGQUIT.
// Async-signal-safe only.
void start_as_from_a_shell() {
    struct sigaction default_action {};
    default_action.sa_handler = SIG_DFL;
    sigemptyset(&default_action.sa_mask);
    for (int signal = 1; signal < NSIG; ++signal) {
        sigaction(signal, &default_action, nullptr);  // fails harmlessly for SIGKILL and SIGSTOP
    }
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    const rlimit no_core{0, 0};
    setrlimit(RLIMIT_CORE, &no_core);
}

// Starts `command` in `directory` with standard input from `in_fd` and
// standard output into `out_fd`. Standard error stays the test's: the
// programs write nothing there, but sanitizers and emulators report there.
pid_t spawn_to(const std::vector<std::string>& command, const std::filesystem::path& directory,
               int in_fd, int out_fd, int err_fd = -1) {
    // The argument vector is built before fork(): the child only execs.
    std::vector<char*> argv;
    for (const std::string& word : command) {
        argv.push_back(const_cast<char*>(word.c_str()));
    }
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid < 0) {
        throw std::runtime_error("fork failed");
    }
    if (pid == 0) {
        start_as_from_a_shell();
        if (chdir(directory.c_str()) != 0 || dup2(in_fd, 0) < 0 || dup2(out_fd, 1) < 0 ||
            (err_fd >= 0 && dup2(err_fd, 2) < 0)) {
            _exit(127);
        }
        execvp(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

int create_for_output(const std::filesystem::path& path) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        throw std::runtime_error("cannot create " + path.string());
    }
    return fd;
}

// As spawn_to(), with standard output into the file `out_path`, and standard
// error into `err_path` unless that is empty.
pid_t spawn(const std::vector<std::string>& command, const std::filesystem::path& directory,
            int in_fd, const std::filesystem::path& out_path,
            const std::filesystem::path& err_path = {}) {
    // The output files exist even when the program is killed at once.
    const int out_fd = create_for_output(out_path);
    const int err_fd = err_path.empty() ? -1 : create_for_output(err_path);
    const pid_t pid = spawn_to(command, directory, in_fd, out_fd, err_fd);
    close(out_fd);
    if (err_fd >= 0) {
        close(err_fd);
    }
    return pid;
}

// The program through its launcher, if any, after `prefix`.
std::vector<std::string> command_of(const std::string& program,
                                    const std::vector<std::string>& prefix = {}) {
    std::vector<std::string> command = prefix;
    command.insert(command.end(), LAUNCHER.begin(), LAUNCHER.end());
    command.push_back(program);
    return command;
}

// A file for a run's standard input or output beside the output directory,
// its own even when runs go on at once.
std::filesystem::path run_file(const std::filesystem::path& directory, const char* what) {
    static std::atomic<int> runs{0};
    char name[64];
    std::snprintf(name, sizeof name, ".%s-%d", what, ++runs);
    return directory.parent_path() / name;
}

StartedProgram start_command(const std::vector<std::string>& command,
                             const std::filesystem::path& directory, const std::string& input,
                             bool capture_errors = false) {
    // Standard input and output go through files, so that neither side can
    // block on a full pipe.
    const std::filesystem::path in_path = run_file(directory, "stdin");
    write_text(in_path, input);
    const int in_fd = open(in_path.c_str(), O_RDONLY | O_CLOEXEC);
    if (in_fd < 0) {
        throw std::runtime_error("cannot open " + in_path.string());
    }
    StartedProgram started;
    started.out_path = run_file(directory, "stdout");
    if (capture_errors) {
        started.err_path = run_file(directory, "stderr");
    }
    started.pid = spawn(command, directory, in_fd, started.out_path, started.err_path);
    close(in_fd);
    std::filesystem::remove(in_path);
    return started;
}

}  // namespace

StartedProgram start_program(const std::string& program, const std::filesystem::path& directory,
                             const std::string& input) {
    return start_command(command_of(program), directory, input);
}

namespace {

// Waits for the program to end; one that hangs is killed after a limit far
// above any run's time, so that the test fails instead of hanging too.
ProcessResult wait_for_end(pid_t pid) {
    constexpr int LIMIT_MILLISECONDS = 120'000;
    int wait_status = 0;
    bool hung = false;
    for (int waited = 0;; ++waited) {
        const pid_t ended = waitpid(pid, &wait_status, WNOHANG);
        if (ended == pid) {
            break;
        }
        if (ended < 0) {
            throw std::runtime_error("waitpid failed");
        }
        if (waited == LIMIT_MILLISECONDS) {
            kill(pid, SIGKILL);
            hung = true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ProcessResult result;
    result.hung = hung;
    result.status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : -1;
    result.signal = WIFSIGNALED(wait_status) ? WTERMSIG(wait_status) : 0;
    return result;
}

// Whether `unshare` with these options can run a command here.
bool unshare_works(std::vector<const char*> options) {
    options.insert(options.begin(), "unshare");
    options.push_back("true");
    options.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        dup2(null, 2);
        execvp("unshare", const_cast<char* const*>(options.data()));
        _exit(127);
    }
    int wait_status = 0;
    return pid > 0 && waitpid(pid, &wait_status, 0) == pid && WIFEXITED(wait_status) &&
           WEXITSTATUS(wait_status) == 0;
}

}  // namespace

ProcessResult finish_program(const StartedProgram& started) {
    ProcessResult result = wait_for_end(started.pid);
    result.output = as_unix_text(read_bytes(started.out_path));
    std::filesystem::remove(started.out_path);
    if (!started.err_path.empty()) {
        result.errors = as_unix_text(read_bytes(started.err_path));
        std::filesystem::remove(started.err_path);
    }
    return result;
}

StartedProgram start_program_with(const std::string& program,
                                  const std::vector<std::string>& arguments,
                                  const std::filesystem::path& directory) {
    std::vector<std::string> command = command_of(program);
    command.insert(command.end(), arguments.begin(), arguments.end());
    return start_command(command, directory, "", true);
}

ProcessResult run_program_with(const std::string& program,
                               const std::vector<std::string>& arguments,
                               const std::filesystem::path& directory) {
    return finish_program(start_program_with(program, arguments, directory));
}

std::string why_no_process_limit() {
    if (PROGRAMS_RUN_ON_WINDOWS) {
        return "wine's own threads and server count against a process limit too";
    }
    if (!LAUNCHER.empty()) {
        return "the emulator's own threads count against a process limit too";
    }
    if (geteuid() != 0) {
        return "only root can run the program as another user";
    }
    if (std::system("setpriv --version >/dev/null 2>&1 && prlimit --version >/dev/null 2>&1") !=
        0) {
        return "util-linux's setpriv and prlimit are not installed";
    }
    return "";
}

ProcessResult run_program_with_one_process(const std::string& program,
                                           const std::vector<std::string>& arguments,
                                           const std::filesystem::path& directory) {
    // LeakSanitizer, in the sanitizer build, needs a thread of its own at
    // the end: it is left out there, where no thread can be had.
    const char* asan = std::getenv("ASAN_OPTIONS");
    const std::string options =
        std::string("ASAN_OPTIONS=") + (asan ? std::string(asan) + ":" : "") + "detect_leaks=0";
    std::vector<std::string> command =
        command_of(program, {"env", options, "setpriv", "--reuid=65534", "--regid=65534",
                             "--clear-groups", "prlimit", "--nproc=1"});
    command.insert(command.end(), arguments.begin(), arguments.end());
    return finish_program(start_command(command, directory, "", true));
}

ProcessResult run_program_until_output(const std::string& program,
                                       const std::filesystem::path& directory,
                                       const std::string& input, const std::string& until) {
    const std::filesystem::path in_path = run_file(directory, "stdin");
    write_text(in_path, input);
    const int in_fd = open(in_path.c_str(), O_RDONLY | O_CLOEXEC);
    int output[2];
    if (in_fd < 0 || pipe2(output, O_CLOEXEC) != 0) {
        throw std::runtime_error("cannot give the program its input and output");
    }
    const pid_t pid = spawn_to(command_of(program), directory, in_fd, output[1]);
    close(in_fd);
    close(output[1]);
    std::filesystem::remove(in_path);
    std::string seen;
    char buffer[4096];
    while (as_unix_text(seen).find(until) == std::string::npos) {
        const ssize_t got = read(output[0], buffer, sizeof buffer);
        if (got <= 0) {
            break;
        }
        seen.append(buffer, static_cast<std::size_t>(got));
    }
    close(output[0]);
    ProcessResult result = wait_for_end(pid);
    result.output = as_unix_text(seen);
    return result;
}

std::string why_no_pid_namespace() {
    if (PROGRAMS_RUN_ON_WINDOWS) {
        return "a Windows program runs in wine's server's processes, which are not in the "
               "namespace";
    }
    static const bool namespaces = unshare_works({"--user", "--map-root-user", "--pid", "--fork"});
    return namespaces ? "" : "user and PID namespaces are not allowed here";
}

StartedProgram start_program_as_first_process(const std::string& program,
                                              const std::filesystem::path& directory,
                                              const std::string& input) {
    return start_command(
        command_of(program, {"unshare", "--user", "--map-root-user", "--pid", "--fork"}), directory,
        input);
}

pid_t child_of(pid_t parent) {
    // The process whose parent is `parent`, from each process's stat line:
    // "pid (name) state ppid ...", the name in parentheses possibly holding
    // blanks.
    DIR* processes = opendir("/proc");
    pid_t child = -1;
    while (dirent* entry = processes != nullptr ? readdir(processes) : nullptr) {
        std::ifstream stat(std::string("/proc/") + entry->d_name + "/stat");
        std::string line;
        if (!std::getline(stat, line) || line.rfind(')') == std::string::npos) {
            continue;
        }
        std::istringstream rest(line.substr(line.rfind(')') + 1));
        char state = 0;
        pid_t ppid = 0;
        if (rest >> state >> ppid && ppid == parent) {
            child = static_cast<pid_t>(std::stol(entry->d_name));
            break;
        }
    }
    if (processes != nullptr) {
        closedir(processes);
    }
    return child;
}

ProcessResult run_program(const std::string& program, const std::filesystem::path& directory,
                          const std::string& input) {
    return finish_program(start_program(program, directory, input));
}

ProcessResult run_program_gated(const std::string& program, const std::filesystem::path& directory,
                                const std::string& first, const std::function<void()>& before_rest,
                                const std::string& rest) {
    int input[2];
    // Close-on-exec: the program must not inherit the write end, or its
    // standard input would never end.
    if (pipe2(input, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    signal(SIGPIPE, SIG_IGN);
    StartedProgram started;
    started.out_path = run_file(directory, "stdout");
    started.pid = spawn(command_of(program), directory, input[0], started.out_path);
    close(input[0]);
    write_all(input[1], first);
    before_rest();
    write_all(input[1], rest);
    close(input[1]);
    return finish_program(started);
}

std::string why_no_full_disk() {
    if (PROGRAMS_RUN_ON_WINDOWS) {
        return "wine's server, which renames files for Windows programs, does not see a disk "
               "staged in a mount namespace";
    }
    static const bool namespaces = unshare_works({"--user", "--map-root-user", "--mount"});
    return namespaces ? ""
                      : "user and mount namespaces, which stage a full disk, are not allowed here";
}

namespace {

ProcessResult run_on_small_disk(const std::string& program, const std::filesystem::path& directory,
                                const std::string& input, const std::string& disk,
                                std::size_t free_pages, bool read_only,
                                const std::filesystem::path& copy_to,
                                const std::vector<std::string>& arguments) {
    // In a user and mount namespace of its own, a small tmpfs takes the place
    // of `disk` (a folder below the working directory, or the working
    // directory itself), with what it held. A filler leaves `free_pages` free.
    // Once the program has ended, what it left there (the filler aside) is
    // copied out: the tmpfs goes with the namespace.
    const char* const script = R"sh(
        set -e
        disk=$1 free_pages=$2 copy_to=$3 read_only=$4
        shift 4
        here=$(pwd)
        saved=$(mktemp -d)
        cp -a "$disk"/. "$saved"
        mount -t tmpfs -o size=1m tmpfs "$disk"
        cd "$here"
        cp -a "$saved"/. "$disk"
        rm -rf "$saved"
        cat /dev/zero >"$disk/.filler" 2>/dev/null || true
        truncate -s "-$((free_pages * 4096))" "$disk/.filler"
        if [ "$read_only" = yes ]; then
            rm -f "$disk/.filler"
            mount -o remount,ro "$disk"
        fi
        set +e
        "$@"
        status=$?
        rm -f "$disk/.filler"
        mkdir -p "$copy_to"
        cp -a "$disk"/. "$copy_to"
        exit $status
    )sh";
    const std::vector<std::string> prefix = {"unshare",
                                             "--user",
                                             "--map-root-user",
                                             "--mount",
                                             "sh",
                                             "-c",
                                             script,
                                             "sh",
                                             disk,
                                             std::to_string(free_pages),
                                             copy_to.string(),
                                             read_only ? "yes" : "no"};
    std::vector<std::string> command = command_of(program, prefix);
    command.insert(command.end(), arguments.begin(), arguments.end());
    return finish_program(start_command(command, directory, input, !arguments.empty()));
}

}  // namespace

ProcessResult run_program_on_full_disk(const std::string& program,
                                       const std::filesystem::path& directory,
                                       const std::string& input, const std::string& disk,
                                       std::size_t free_pages, const std::filesystem::path& copy_to,
                                       const std::vector<std::string>& arguments) {
    return run_on_small_disk(program, directory, input, disk, free_pages, false, copy_to,
                             arguments);
}

ProcessResult run_program_on_read_only_disk(const std::string& program,
                                            const std::filesystem::path& directory,
                                            const std::string& disk,
                                            const std::filesystem::path& copy_to,
                                            const std::vector<std::string>& arguments) {
    return run_on_small_disk(program, directory, "", disk, 256, true, copy_to, arguments);
}
