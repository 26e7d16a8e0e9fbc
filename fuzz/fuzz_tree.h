// A small simulation run tree for the fuzz targets, in a temporary directory
// that becomes the working directory, as the programs expect.
#ifndef DISCHARGE_FUZZ_FUZZ_TREE_H
#define DISCHARGE_FUZZ_FUZZ_TREE_H

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "run_texts.h"

// Creates the tree once per process: root/param.dat (written by
// write_parameters), root/output/ (made the working directory) and
// root/output/image/. Returns the root.
const std::filesystem::path& enter_run_tree();

// A parameter file for an ncols x nrows grid, term 2019 to 2020.
void write_parameters(std::int32_t ncols, std::int32_t nrows);

// Writes `bytes` to `name` in the working directory.
void write_file(const std::string& name, const std::string& bytes);

// Removes every series and image file the programs may have written.
void remove_outputs();

// Names of the images in ./image/ and their sizes.
std::vector<std::pair<std::string, std::uintmax_t>> list_images();

// Ends the fuzzer with a crash report when `condition` is false: a broken
// guarantee is a finding like any crash.
void require(bool condition, const char* what);

#endif  // DISCHARGE_FUZZ_FUZZ_TREE_H
