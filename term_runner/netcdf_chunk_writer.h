// Writing a NetCDF-4 file's discharge with every core. netCDF-C compresses
// a variable's chunks one after another on the calling thread; here the
// file is defined and closed by netCDF-C, its discharge left unwritten, and
// then opened with HDF5, whose H5Dwrite_chunk() stores chunks made
// elsewhere: worker threads make them (netcdf_chunks.h) while this thread
// reads the next days and writes the chunks made, in order.
#ifndef DISCHARGE_TERM_RUNNER_NETCDF_CHUNK_WRITER_H
#define DISCHARGE_TERM_RUNNER_NETCDF_CHUNK_WRITER_H

#include <cstddef>
#include <memory>
#include <optional>
#include <span>
#include <string>

struct ChunkWriterState;

// An open writer: its file and worker threads. Destroyed before it is
// closed, it stops its workers and closes the file unwritten, unless a
// write failed: HDF5 may then crash in whatever it is asked, and the file
// is left to the process's end (chunk_writer_broken()).
struct ChunkWriter {
    std::unique_ptr<ChunkWriterState> state;
    ChunkWriter();
    ChunkWriter(ChunkWriter&&) noexcept;
    ChunkWriter& operator=(ChunkWriter&&) noexcept;
    ~ChunkWriter();
};

// What the writer is to write: the variable of `days` whole grids of
// `rows` x `cols` cells, its fill value, and the significant digits its values are
// quantized to (as the variable was defined with them), on `jobs` threads.
struct ChunkTarget {
    std::string path;
    const char* variable = "";
    std::size_t rows = 0;
    std::size_t cols = 0;
    std::size_t days = 0;  // the variable's extent in time, set before its chunks are written
    float fill = 0.0F;
    std::optional<int> digits;
    unsigned jobs = 1;
};

// Opens the file netCDF-C defined and closed, takes the variable's chunks
// and filters from it and starts the workers. False, with `reason`, where
// it cannot.
bool open_chunk_writer(ChunkWriter& writer, const ChunkTarget& target, std::string& reason);

// The days a time chunk holds: the days handed over at once.
std::size_t chunk_writer_days(const ChunkWriter& writer);

// Where the next time chunk's days are to be read: whole grids, day after
// day. Writes out the oldest time chunk handed over, where it holds the
// room, first; false, with `reason`, where that failed.
bool next_chunk_days(ChunkWriter& writer, std::span<float>& days, std::string& reason);

// Hands over the `held` days read where next_chunk_days() said, which begin
// with day `first`: the workers make its chunks, and those made of earlier
// days are written. False, with `reason`, where a write failed.
bool hand_over_days(ChunkWriter& writer, std::size_t first, std::size_t held, std::string& reason);

// Writes every chunk still to be written, stops the workers and closes the
// file. False, with `reason`, where a write or the closing failed.
bool close_chunk_writer(ChunkWriter& writer, std::string& reason);

// Whether a write or the closing failed, after which HDF5 is not to be
// called again: the process is to end at once.
bool chunk_writer_broken(const ChunkWriter& writer);

#endif  // DISCHARGE_TERM_RUNNER_NETCDF_CHUNK_WRITER_H
