// Test helpers: a temporary simulation run tree and the files in it.
#ifndef DISCHARGE_TESTS_RUN_TREE_H
#define DISCHARGE_TESTS_RUN_TREE_H

#include <filesystem>
#include <string>
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

#endif  // DISCHARGE_TESTS_RUN_TREE_H
