// Test helpers: a temporary simulation run tree and whole-program runs in it.
#ifndef DISCHARGE_TESTS_RUN_TREE_H
#define DISCHARGE_TESTS_RUN_TREE_H

#include <atomic>
#include <filesystem>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <vector>

// A fresh directory tree, removed again on destruction:
//   root/param.dat           (written by write_parameters)
//   root/output/             the simulation's output directory, the working
//                            directory of the programs
struct RunTree {
    RunTree();
    ~RunTree();
    RunTree(const RunTree&) = delete;
    RunTree& operator=(const RunTree&) = delete;

    std::filesystem::path root;
    std::filesystem::path output;
};

// A parameter file for a grid of ncols x nrows, term 2019 to 2020.
std::string parameter_text(int ncols, int nrows);

// The console echo that parameter_text(ncols, nrows) produces, or the part of
// it printed once only the first `values_read` values could be read.
std::string parameter_echo(int ncols, int nrows, std::size_t values_read = 16);

// The whitespace-separated words of `text`, and words joined one a line.
std::vector<std::string> tokens_of(const std::string& text);
std::string joined(const std::vector<std::string>& tokens);

void write_text(const std::filesystem::path& path, const std::string& text);
std::string read_bytes(const std::filesystem::path& path);

// Values as a monthly discharge file stores them: 4 bytes each, little-endian.
std::string encode_values(const std::vector<float>& values);

// The values 1, 2, 3, ... n: every cell of every day different.
std::vector<float> counting_values(std::size_t n);

// A FIFO standing in for a monthly file, served by a writer thread. Each
// opening by a reader gets `bytes` and then the end of the data. As soon as a
// reader has connected, a fresh FIFO replaces the one at the path, so that the
// reader's next opening starts a new stream instead of joining the old one.
class FifoFeeder {
  public:
    FifoFeeder(std::filesystem::path path, std::string bytes, int openings);
    ~FifoFeeder();  // releases a writer still waiting for a reader, and joins it
    FifoFeeder(const FifoFeeder&) = delete;
    FifoFeeder& operator=(const FifoFeeder&) = delete;

    // Waits (up to ten seconds) until a reader has connected to the first
    // opening and the FIFO has been replaced.
    void wait_first_connection();

  private:
    std::filesystem::path path_;
    std::promise<void> connected_;
    std::future<void> connected_future_;
    std::atomic<bool> done_{false};
    std::thread writer_;
};

struct ProcessResult {
    int status = -1;     // exit status, or -1 if the program did not exit normally
    std::string output;  // everything written to standard output
};

// Runs `program` without arguments in `directory`, with `input` as its whole
// standard input; its standard error is the test's own.
ProcessResult run_program(const std::string& program, const std::filesystem::path& directory,
                          const std::string& input);

// As run_program(), but standard input is a pipe: `first` is written at once,
// `rest` only after `before_rest` has returned.
ProcessResult run_program_gated(const std::string& program, const std::filesystem::path& directory,
                                const std::string& first, const std::function<void()>& before_rest,
                                const std::string& rest);

#endif  // DISCHARGE_TESTS_RUN_TREE_H
