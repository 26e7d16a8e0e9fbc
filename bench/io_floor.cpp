// io_floor: the least any program must do to turn a month of discharge grids
// into images, with no work between the reading and the writing.
//
//   io_floor DATA_FILE OUTPUT_DIR FILES BYTES_PER_FILE [PIECE_BYTES]
//
// Reads DATA_FILE once, sequentially in large blocks, then creates (or
// truncates) FILES files in OUTPUT_DIR and writes BYTES_PER_FILE bytes to
// each from one cache-resident buffer: in writes of 1 MiB, or with
// PIECE_BYTES in gathered writes of 50 pieces of that size each, as the
// image program hands over its pixel rows. The same I/O as drawing the month,
// minus the drawing.
#include <fcntl.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

namespace {

constexpr std::size_t BLOCK_BYTES = std::size_t{1} << 20;
constexpr std::size_t PIECES_PER_WRITE = 50;

bool write_file(int fd, const std::vector<char>& buffer, std::uint64_t bytes,
                std::size_t piece_bytes) {
    std::vector<iovec> pieces;
    while (bytes > 0) {
        pieces.clear();
        std::uint64_t batch = 0;
        const std::size_t piece = piece_bytes == 0 ? BLOCK_BYTES : piece_bytes;
        const std::size_t count = piece_bytes == 0 ? 1 : PIECES_PER_WRITE;
        while (pieces.size() < count && batch < bytes) {
            const std::size_t size =
                static_cast<std::size_t>(bytes - batch < piece ? bytes - batch : piece);
            pieces.push_back({const_cast<char*>(buffer.data()), size});
            batch += size;
        }
        const ssize_t written = writev(fd, pieces.data(), static_cast<int>(pieces.size()));
        if (written <= 0) {
            return false;
        }
        bytes -= static_cast<std::uint64_t>(written);
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5 && argc != 6) {
        std::cerr << "usage: io_floor DATA_FILE OUTPUT_DIR FILES BYTES_PER_FILE [PIECE_BYTES]\n";
        return 2;
    }
    const std::string data_path = argv[1];
    const std::string output_dir = argv[2];
    const long files = std::strtol(argv[3], nullptr, 10);
    const std::uint64_t bytes_per_file = std::strtoull(argv[4], nullptr, 10);
    const std::size_t piece_bytes = argc == 6 ? std::strtoull(argv[5], nullptr, 10) : 0;
    std::vector<char> buffer(piece_bytes > BLOCK_BYTES ? piece_bytes : BLOCK_BYTES, '\x5a');

    const int data = open(data_path.c_str(), O_RDONLY);
    if (data < 0) {
        std::cerr << "io_floor: cannot open " << data_path << '\n';
        return 1;
    }
    std::uint64_t read_bytes = 0;
    for (ssize_t got; (got = read(data, buffer.data(), BLOCK_BYTES)) > 0;) {
        read_bytes += static_cast<std::uint64_t>(got);
    }
    close(data);

    for (long file = 1; file <= files; ++file) {
        const std::string path = output_dir + "/floor_" + std::to_string(file) + ".bin";
        const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
        if (fd < 0 || !write_file(fd, buffer, bytes_per_file, piece_bytes) || close(fd) != 0) {
            std::cerr << "io_floor: cannot write " << path << '\n';
            return 1;
        }
    }
    std::cout << read_bytes << " bytes read, " << files << " x " << bytes_per_file
              << " bytes written\n";
    return 0;
}
