// Test helpers: a temporary simulation run tree and whole-program runs in it.
#ifndef DISCHARGE_TESTS_RUN_TREE_H
#define DISCHARGE_TESTS_RUN_TREE_H

#include <filesystem>
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

// The console echo that parameter_text(ncols, nrows) produces.
std::string parameter_echo(int ncols, int nrows);

void write_text(const std::filesystem::path& path, const std::string& text);
std::string read_bytes(const std::filesystem::path& path);

// Values as a monthly discharge file stores them: 4 bytes each, little-endian.
std::string encode_values(const std::vector<float>& values);

// The values 1, 2, 3, ... n: every cell of every day different.
std::vector<float> counting_values(std::size_t n);

// Creates a FIFO at `path` and starts a thread that writes `bytes` into it
// once a reader has opened it, `times` times over (one opening each), then
// returns. Join the thread after the reader is done.
std::thread feed_fifo(const std::filesystem::path& path, std::string bytes, int times = 1);

struct ProcessResult {
    int status = -1;     // exit status, or -1 if the program did not exit normally
    std::string output;  // everything written to standard output
};

// Runs `program` without arguments in `directory`, with `input` as its whole
// standard input; standard error is discarded.
ProcessResult run_program(const std::string& program, const std::filesystem::path& directory,
                          const std::string& input);

#endif  // DISCHARGE_TESTS_RUN_TREE_H
