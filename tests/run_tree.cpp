#include "run_tree.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

#include "run_input.h"

RunTree::RunTree() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "discharge-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot create a temporary directory");
    }
    root = pattern;
    output = root / "output";
    std::filesystem::create_directory(output);
}

RunTree::~RunTree() {
    std::error_code ignored;
    std::filesystem::remove_all(root, ignored);
}

std::string parameter_text(int ncols, int nrows) {
    std::ostringstream text;
    text << "2\n"
         << ncols << ' ' << nrows << '\n'
         << "135.5 34.25\n"
         << "400 300\n"
         << "12 7\n"
         << "135.004166\n"
         << "34.0041666\n"
         << "3600\n"
         << "2019 2020 4 3\n";
    return text.str();
}

std::string parameter_echo(int ncols, int nrows, std::size_t values_read) {
    // Each line with the number of values read before it is printed: a step
    // echoes once all its values are in, headings before their step reads.
    const std::pair<std::size_t, std::string> lines[] = {
        {0, "Reading parameters for runoff simulation.\n"},
        {1, "  Topography scale : 2\n"},
        {3, "  Number of col : " + std::to_string(ncols) +
                "  Number of row : " + std::to_string(nrows) + "\n"},
        {5, " Sorth West corner Longitude (degree) : 135.5 Latitude (deg) : 34.25\n"},
        {5, "2) Reading parameters for input data.\n"},
        {7, "  Number of col : 400  Number of row : 300\n"},
        {9, "  Origin column number : 12 row number : 7\n"},
        {10, "  The longitude of the center of input grid at the southwest corner : 135.004\n"},
        {11, "  The latitude of the center of input grid at the southwest corner : 34.0042\n"},
        {12, "  time interval of input data [sec] : 3600\n"},
        {12, "3) Reading parameters for simuration term.\n"},
        {16, "  Start year : 2019  Start month : 4\n"},
        {16, "  End year : 2020  End month : 3\n"},
    };
    std::string echo;
    for (const auto& [needed, line] : lines) {
        if (needed <= values_read) {
            echo += line;
        }
    }
    return echo;
}

std::vector<std::string> tokens_of(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> tokens;
    for (std::string token; in >> token;) {
        tokens.push_back(token);
    }
    return tokens;
}

std::string joined(const std::vector<std::string>& tokens) {
    std::string text;
    for (const std::string& token : tokens) {
        text += token + "\n";
    }
    return text;
}

void write_text(const std::filesystem::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out) {
        throw std::runtime_error("cannot write " + path.string());
    }
}

std::string read_bytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + path.string());
    }
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string encode_values(const std::vector<float>& values) {
    std::string bytes;
    for (const float value : values) {
        encode_discharge_value(value, bytes);
    }
    return bytes;
}

std::vector<float> counting_values(std::size_t n) {
    std::vector<float> values(n);
    for (std::size_t i = 0; i < n; ++i) {
        values[i] = static_cast<float>(i + 1);
    }
    return values;
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

// Starts `program` in `directory` with standard input from `in_fd` and
// standard output into the file `out_path`. Standard error stays the test's:
// the programs write nothing there, but sanitizers report there.
pid_t spawn(const std::string& program, const std::filesystem::path& directory, int in_fd,
            const std::filesystem::path& out_path) {
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
        execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
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
    result.output = read_bytes(out_path);
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
