#include "fifo_feeder.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>

namespace {

void make_fifo(const std::filesystem::path& path) {
    if (mkfifo(path.c_str(), 0644) != 0) {
        throw std::runtime_error("cannot create FIFO " + path.string());
    }
}

}  // namespace

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

FifoFeeder::FifoFeeder(std::filesystem::path path, std::vector<std::string> openings, bool held)
    : path_(std::move(path)),
      connected_future_(connected_.get_future()),
      released_future_(released_.get_future().share()) {
    make_fifo(path_);
    if (!held) {
        release();
    }
    // A reader that leaves early must not kill the test with SIGPIPE.
    signal(SIGPIPE, SIG_IGN);
    opener_ = std::thread([this, openings = std::move(openings)] {
        for (std::size_t i = 0; i < openings.size(); ++i) {
            const int fd = open(path_.c_str(), O_WRONLY);
            if (fd < 0) {
                break;
            }
            if (i + 1 < openings.size()) {
                const std::filesystem::path fresh = path_.string() + ".next";
                make_fifo(fresh);
                std::filesystem::rename(fresh, path_);
            }
            if (i == 0) {
                connected_.set_value();
            }
            writers_.emplace_back([this, fd, bytes = openings[i]] {
                const std::size_t head = bytes.empty() ? 0 : bytes.size() - 1;
                write_all(fd, bytes.substr(0, head));
                released_future_.wait();
                write_all(fd, bytes.substr(head));
                close(fd);
            });
        }
        done_ = true;
    });
}

FifoFeeder::~FifoFeeder() {
    release();
    // The opener still blocked in open() waits for a reader that will not
    // come: be that reader, and leave at once.
    while (!done_) {
        const int fd = open(path_.c_str(), O_RDONLY | O_NONBLOCK);
        if (fd >= 0) {
            close(fd);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    opener_.join();
    for (std::thread& writer : writers_) {
        writer.join();
    }
}

void FifoFeeder::release() {
    if (!released_once_.exchange(true)) {
        released_.set_value();
    }
}

void FifoFeeder::wait_first_connection() {
    connected_future_.wait_for(std::chrono::seconds(10));
}
