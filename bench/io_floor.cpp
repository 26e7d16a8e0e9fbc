// io_floor: the least any program must do to turn a month of discharge grids
// into images, with no work between the reading and the writing.
//
//   io_floor DATA_FILE OUTPUT_DIR FILES BYTES_PER_FILE
//
// Reads DATA_FILE once, sequentially in large blocks, then creates (or
// truncates) FILES files in OUTPUT_DIR and writes BYTES_PER_FILE bytes to each
// in large writes: the same I/O as drawing the month, minus the drawing.
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 5) {
        std::cerr << "usage: io_floor DATA_FILE OUTPUT_DIR FILES BYTES_PER_FILE\n";
        return 2;
    }
    const std::string data_path = argv[1];
    const std::string output_dir = argv[2];
    const long files = std::strtol(argv[3], nullptr, 10);
    const std::uint64_t bytes_per_file = std::strtoull(argv[4], nullptr, 10);
    constexpr std::size_t block_bytes = std::size_t{1} << 20;
    std::vector<char> block(block_bytes, '\x5a');

    std::ifstream data(data_path, std::ios::binary);
    if (!data) {
        std::cerr << "io_floor: cannot open " << data_path << '\n';
        return 1;
    }
    std::uint64_t read_bytes = 0;
    while (data.read(block.data(), static_cast<std::streamsize>(block.size())) ||
           data.gcount() > 0) {
        read_bytes += static_cast<std::uint64_t>(data.gcount());
    }

    for (long file = 1; file <= files; ++file) {
        const std::string path = output_dir + "/floor_" + std::to_string(file) + ".bin";
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        for (std::uint64_t left = bytes_per_file; left > 0 && out;) {
            const std::uint64_t n = left < block.size() ? left : block.size();
            out.write(block.data(), static_cast<std::streamsize>(n));
            left -= n;
        }
        out.close();
        if (!out) {
            std::cerr << "io_floor: cannot write " << path << '\n';
            return 1;
        }
    }
    std::cout << read_bytes << " bytes read, " << files << " x " << bytes_per_file
              << " bytes written\n";
    return 0;
}
