// Output files written under a temporary name and renamed when complete.
#include "output_file.h"

#include <cstdio>
#include <filesystem>
#include <random>

#include "output_system.h"

namespace {

#ifdef _WIN32
constexpr bool CRLF_TEXT = true;  // text files end their lines in CR LF
#else
constexpr bool CRLF_TEXT = false;
#endif

// The final file name, hidden, with a random part and ".tmp", in the final
// name's directory: "./image/.201907_   3_discharge.ppm.0123456789abcdef.tmp".
// A file left behind after a crash still tells what it was meant to become.
std::string temporary_name(const std::string& final_path, std::uint64_t number) {
    const std::size_t slash = final_path.find_last_of("/\\");
    const std::size_t name = slash == std::string::npos ? 0 : slash + 1;
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, ".%016llx.tmp", static_cast<unsigned long long>(number));
    return final_path.substr(0, name) + "." + final_path.substr(name) + suffix;
}

std::uint64_t random_number() {
    static std::mt19937_64 generator = [] {
        std::random_device device;
        const std::uint64_t process = process_number();
        std::seed_seq seed{device(), device(), device(), static_cast<unsigned>(process),
                           static_cast<unsigned>(process >> 32)};
        return std::mt19937_64(seed);
    }();
    return generator();
}

}  // namespace

OutputFile::~OutputFile() {
    discard_output_file(*this);
}

bool create_output_file(OutputFile& file, const std::string& final_path, bool text) {
    discard_output_file(file);
    // Renaming onto a directory would fail only once the file is written.
    std::error_code error;
    if (std::filesystem::is_directory(final_path, error)) {
        return false;
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string name = temporary_name(final_path, random_number());
        hold_interruptions();
        std::intptr_t handle = -1;
        const Creation creation = create_exclusively(name.c_str(), handle);
        if (creation == Creation::created) {
            file.final_path = final_path;
            file.temporary_path = name;
            file.text = text;
            file.failed = false;
            file.handle = handle;
            release_interruptions(file.temporary_path.c_str());
            return true;
        }
        release_interruptions(nullptr);
        if (creation == Creation::failed) {
            return false;
        }
    }
    return false;
}

bool write_output_pieces(OutputFile& file, std::span<const std::span<const char>> pieces) {
    if (file.temporary_path.empty() || file.failed) {
        return false;
    }
    file.failed = !write_gathered(file.handle, pieces);
    return !file.failed;
}

bool write_output_file(OutputFile& file, const char* bytes, std::size_t size) {
    std::string lines;
    if (CRLF_TEXT && file.text) {
        lines.reserve(size + size / 8);
        for (std::size_t i = 0; i < size; ++i) {
            if (bytes[i] == '\n') {
                lines += '\r';
            }
            lines += bytes[i];
        }
        bytes = lines.data();
        size = lines.size();
    }
    const std::span<const char> piece(bytes, size);
    return write_output_pieces(file, std::span(&piece, 1));
}

bool commit_output_file(OutputFile& file) {
    if (file.temporary_path.empty()) {
        return false;
    }
    hold_interruptions();
    const bool closed = close_file(file.handle);
    file.handle = -1;
    const bool renamed = closed && !file.failed &&
                         replace_file(file.temporary_path.c_str(), file.final_path.c_str());
    if (!renamed) {
        remove_file(file.temporary_path.c_str());
    }
    file.temporary_path.clear();
    release_interruptions(nullptr);
    return renamed;
}

void discard_output_file(OutputFile& file) {
    if (file.temporary_path.empty()) {
        return;
    }
    hold_interruptions();
    close_file(file.handle);
    file.handle = -1;
    remove_file(file.temporary_path.c_str());
    file.temporary_path.clear();
    release_interruptions(nullptr);
}
