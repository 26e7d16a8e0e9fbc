#include "fuzz_tree.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "run_texts.h"

const std::filesystem::path& enter_run_tree() {
    static const std::filesystem::path root = [] {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "discharge-fuzz-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) {
            std::abort();
        }
        const std::filesystem::path made = pattern;
        std::filesystem::create_directories(made / "output" / "image");
        std::filesystem::current_path(made / "output");
        return made;
    }();
    return root;
}

void write_parameters(std::int32_t ncols, std::int32_t nrows) {
    std::ofstream out(enter_run_tree() / "param.dat", std::ios::trunc);
    out << parameter_text(ncols, nrows);
}

void write_file(const std::string& name, const std::string& bytes) {
    std::ofstream out(name, std::ios::binary | std::ios::trunc);
    out << bytes;
}

void remove_outputs() {
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(".", ignored)) {
        if (entry.path().filename().string().ends_with("_discharge.dat")) {
            std::filesystem::remove(entry.path(), ignored);
        }
    }
    for (const auto& entry : std::filesystem::directory_iterator("image", ignored)) {
        std::filesystem::remove(entry.path(), ignored);
    }
}

std::vector<std::pair<std::string, std::uintmax_t>> list_images() {
    std::vector<std::pair<std::string, std::uintmax_t>> images;
    for (const auto& entry : std::filesystem::directory_iterator("image")) {
        images.emplace_back(entry.path().filename().string(), entry.file_size());
    }
    return images;
}

void require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "broken guarantee: %s\n", what);
        std::abort();
    }
}
