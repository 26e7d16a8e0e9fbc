#include "run_tree.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

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

std::string parameter_echo(int ncols, int nrows) {
    std::ostringstream echo;
    echo << "Reading parameters for runoff simulation.\n"
         << "  Topography scale : 2\n"
         << "  Number of col : " << ncols << "  Number of row : " << nrows << '\n'
         << " Sorth West corner Longitude (degree) : 135.5 Latitude (deg) : 34.25\n"
         << "2) Reading parameters for input data.\n"
         << "  Number of col : 400  Number of row : 300\n"
         << "  Origin column number : 12 row number : 7\n"
         << "  The longitude of the center of input grid at the southwest corner : 135.004\n"
         << "  The latitude of the center of input grid at the southwest corner : 34.0042\n"
         << "  time interval of input data [sec] : 3600\n"
         << "3) Reading parameters for simuration term.\n"
         << "  Start year : 2019  Start month : 4\n"
         << "  End year : 2020  End month : 3\n";
    return echo.str();
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
        std::uint32_t bits = 0;
        std::memcpy(&bits, &value, sizeof bits);
        for (int shift = 0; shift < 32; shift += 8) {
            bytes.push_back(static_cast<char>((bits >> shift) & 0xFFU));
        }
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

std::thread feed_fifo(const std::filesystem::path& path, std::string bytes, int times) {
    if (mkfifo(path.c_str(), 0644) != 0) {
        throw std::runtime_error("cannot create FIFO " + path.string());
    }
    // A reader that leaves early must not kill the test with SIGPIPE.
    signal(SIGPIPE, SIG_IGN);
    return std::thread([path, bytes = std::move(bytes), times] {
        for (int i = 0; i < times; ++i) {
            const int fd = open(path.c_str(), O_WRONLY);
            if (fd < 0) {
                return;
            }
            std::size_t written = 0;
            while (written < bytes.size()) {
                const ssize_t n = write(fd, bytes.data() + written, bytes.size() - written);
                if (n <= 0) {
                    break;
                }
                written += static_cast<std::size_t>(n);
            }
            close(fd);
        }
    });
}

ProcessResult run_program(const std::string& program, const std::filesystem::path& directory,
                          const std::string& input) {
    // Standard input and output go through files, so that neither side can
    // block on a full pipe.
    const std::filesystem::path in_path = directory.parent_path() / ".stdin";
    const std::filesystem::path out_path = directory.parent_path() / ".stdout";
    write_text(in_path, input);

    const pid_t pid = fork();
    if (pid < 0) {
        throw std::runtime_error("fork failed");
    }
    if (pid == 0) {
        const int in_fd = open(in_path.c_str(), O_RDONLY);
        const int out_fd = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int null_fd = open("/dev/null", O_WRONLY);
        if (in_fd < 0 || out_fd < 0 || null_fd < 0 || chdir(directory.c_str()) != 0 ||
            dup2(in_fd, 0) < 0 || dup2(out_fd, 1) < 0 || dup2(null_fd, 2) < 0) {
            _exit(127);
        }
        execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int wait_status = 0;
    if (waitpid(pid, &wait_status, 0) != pid) {
        throw std::runtime_error("waitpid failed");
    }
    ProcessResult result;
    result.status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : -1;
    result.output = read_bytes(out_path);
    std::filesystem::remove(in_path);
    std::filesystem::remove(out_path);
    return result;
}
