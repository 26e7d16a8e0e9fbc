// Test helpers: a temporary simulation run tree and the files in it.
#ifndef DISCHARGE_TESTS_RUN_TREE_H
#define DISCHARGE_TESTS_RUN_TREE_H

#include <filesystem>
#include <string>
#include <vector>

#include "run_texts.h"

// A fresh directory tree, removed again on destruction:
//   root/                    where a test writes param.dat
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

// The console echo that parameter_text(ncols, nrows) produces, or the part of
// it printed once only the first `values_read` values could be read.
std::string parameter_echo(int ncols, int nrows, std::size_t values_read = 16);

// The whitespace-separated words of `text`, and words joined one a line.
std::vector<std::string> tokens_of(const std::string& text);
std::string joined(const std::vector<std::string>& tokens);

void write_text(const std::filesystem::path& path, const std::string& text);

// The names of the entries of `folder`, in order.
std::vector<std::string> file_names_in(const std::filesystem::path& folder);
std::string read_bytes(const std::filesystem::path& path);

// The values 1, 2, 3, ... n: every cell of every day different.
std::vector<float> counting_values(std::size_t n);

#endif  // DISCHARGE_TESTS_RUN_TREE_H
