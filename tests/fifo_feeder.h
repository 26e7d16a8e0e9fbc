// A FIFO that stands in for a monthly file, for the tests of reading from
// pipes. POSIX only.
#ifndef DISCHARGE_TESTS_FIFO_FEEDER_H
#define DISCHARGE_TESTS_FIFO_FEEDER_H

#include <atomic>
#include <filesystem>
#include <future>
#include <string>
#include <thread>
#include <vector>

// A FIFO standing in for a monthly file, served by writer threads. Opening i
// by a reader gets openings[i] and then the end of the data; with `held`, the
// last byte of each waits until release(), so that the reader stays in the
// middle of the month. As soon as a reader has connected, a fresh FIFO
// replaces the one at the path, so that the next opening starts a new stream
// instead of joining the old one.
class FifoFeeder {
  public:
    FifoFeeder(std::filesystem::path path, std::vector<std::string> openings, bool held = false);
    // Every opening of `count` gets `bytes`.
    FifoFeeder(std::filesystem::path path, const std::string& bytes, int count)
        : FifoFeeder(std::move(path), std::vector<std::string>(count, bytes)) {}
    ~FifoFeeder();  // releases, frees a writer still waiting for a reader, and joins
    FifoFeeder(const FifoFeeder&) = delete;
    FifoFeeder& operator=(const FifoFeeder&) = delete;

    // Waits (up to ten seconds) until a reader has connected to the first
    // opening and the FIFO has been replaced.
    void wait_first_connection();

    // Lets the held last bytes go.
    void release();

  private:
    std::filesystem::path path_;
    std::promise<void> connected_;
    std::future<void> connected_future_;
    std::promise<void> released_;
    std::shared_future<void> released_future_;
    std::atomic<bool> released_once_{false};
    std::atomic<bool> done_{false};
    std::thread opener_;
    std::vector<std::thread> writers_;
};

// Writes all of `bytes` to the descriptor `fd`, stopping where the reader
// has gone away.
void write_all(int fd, const std::string& bytes);

#endif  // DISCHARGE_TESTS_FIFO_FEEDER_H
