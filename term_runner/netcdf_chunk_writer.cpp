#include "netcdf_chunk_writer.h"

#include <hdf5.h>

#include <array>
#include <cerrno>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "netcdf_chunks.h"
#include "output_file.h"
#include "worker_pool.h"

// A time chunk's days, handed over: the workers make its chunks, tile by
// tile, which are written in order as they are made.
struct TimeChunk {
    std::vector<float> grids;
    std::size_t first = 0;
    std::size_t held = 0;
    std::vector<std::vector<unsigned char>> made;  // a tile's chunk, once made
    std::vector<char> done;                        // whether it is
    std::size_t taken = 0;                         // tiles given to workers
    std::size_t written = 0;                       // tiles written
    bool active = false;                           // handed over, not all written
};

struct ChunkWriterState {
    hid_t file = H5I_INVALID_HID;
    hid_t dataset = H5I_INVALID_HID;
    ChunkCoding coding;
    std::size_t rows = 0;
    std::size_t cols = 0;
    std::size_t tiles_across = 0;
    std::size_t tiles = 0;
    // Two time chunks: one read while the other's chunks are made.
    std::array<TimeChunk, 2> chunks;
    std::size_t next = 0;  // the one read next; the other is the newer
    std::mutex lock;
    std::condition_variable work_ready;  // tiles to make, or stopping
    std::condition_variable made;        // a chunk made
    std::deque<std::size_t> queue;       // time chunks with tiles not yet taken
    bool stopping = false;
    bool out_of_memory = false;
    bool broken = false;
    std::jthread crew;  // runs the workers; none where no thread could start
};

namespace {

ChunkPlace place_of(const ChunkWriterState& state, std::size_t tile) {
    return {(tile / state.tiles_across) * state.coding.rows,
            (tile % state.tiles_across) * state.coding.cols};
}

// A worker: makes the next tile's chunk until told to stop.
void make_chunks(ChunkWriterState& state) {
    std::vector<unsigned char> chunk;
    ChunkScratch scratch;
    std::unique_lock<std::mutex> held(state.lock);
    for (;;) {
        state.work_ready.wait(held, [&state] { return state.stopping || !state.queue.empty(); });
        if (state.stopping) {
            return;
        }
        // The time chunk is not changed while it is active: read unlocked.
        TimeChunk& time_chunk = state.chunks[state.queue.front()];
        const std::size_t tile = time_chunk.taken++;
        if (time_chunk.taken == state.tiles) {
            state.queue.pop_front();
        }
        held.unlock();
        bool made = true;
        try {
            encode_chunk(state.coding, time_chunk.grids, time_chunk.held, state.rows, state.cols,
                         place_of(state, tile), chunk, scratch);
        } catch (const std::bad_alloc&) {
            made = false;
        }
        held.lock();
        state.out_of_memory = state.out_of_memory || !made;
        time_chunk.made[tile].swap(chunk);
        time_chunk.done[tile] = 1;
        state.made.notify_all();
    }
}

// Writes one made chunk where it lies.
bool write_chunk(ChunkWriterState& state, const TimeChunk& time_chunk, std::size_t tile,
                 const std::vector<unsigned char>& bytes, std::string& reason) {
    const ChunkPlace place = place_of(state, tile);
    const hsize_t offset[] = {time_chunk.first, place.row, place.col};
    errno = 0;
    // Filter mask 0: every filter of the dataset ran on the chunk.
    if (H5Dwrite_chunk(state.dataset, H5P_DEFAULT, 0, offset, bytes.size(), bytes.data()) < 0) {
        if (!system_write_reason(reason)) {
            reason = "HDF5 could not write a chunk";
        }
        state.broken = true;
        return false;
    }
    return true;
}

// Writes the chunks of `time_chunk` made so far in order, or, with `wait`,
// all of them as they are made.
bool write_made(ChunkWriterState& state, TimeChunk& time_chunk, bool wait, std::string& reason) {
    std::vector<unsigned char> bytes;
    while (time_chunk.active) {
        {
            std::unique_lock<std::mutex> held(state.lock);
            if (wait) {
                state.made.wait(held, [&state, &time_chunk] {
                    return time_chunk.done[time_chunk.written] != 0 || state.out_of_memory;
                });
            }
            if (state.out_of_memory) {
                reason = "Not enough memory.";
                return false;
            }
            if (time_chunk.done[time_chunk.written] == 0) {
                return true;
            }
            bytes.swap(time_chunk.made[time_chunk.written]);
        }
        if (!write_chunk(state, time_chunk, time_chunk.written, bytes, reason)) {
            return false;
        }
        time_chunk.active = ++time_chunk.written < state.tiles;
    }
    return true;
}

// Where no worker could start: the chunks made and written on this thread.
bool make_and_write(ChunkWriterState& state, TimeChunk& time_chunk, std::string& reason) {
    std::vector<unsigned char> chunk;
    ChunkScratch scratch;
    for (std::size_t tile = 0; tile < state.tiles; ++tile) {
        try {
            encode_chunk(state.coding, time_chunk.grids, time_chunk.held, state.rows, state.cols,
                         place_of(state, tile), chunk, scratch);
        } catch (const std::bad_alloc&) {
            reason = "Not enough memory.";
            return false;
        }
        if (!write_chunk(state, time_chunk, tile, chunk, reason)) {
            return false;
        }
    }
    time_chunk.active = false;
    return true;
}

void stop_workers(ChunkWriterState& state) {
    {
        const std::lock_guard<std::mutex> held(state.lock);
        state.stopping = true;
    }
    state.work_ready.notify_all();
    if (state.crew.joinable()) {
        state.crew.join();
    }
}

// The chunks' extent and filters, as netCDF-C defined the variable: a
// native float, chunked in three dimensions, shuffled and deflated at most.
bool read_coding(hid_t dataset, ChunkCoding& coding, std::string& reason) {
    const hid_t type = H5Dget_type(dataset);
    const bool floats = type >= 0 && H5Tequal(type, H5T_NATIVE_FLOAT) > 0;
    if (type >= 0) {
        H5Tclose(type);
    }
    const hid_t properties = H5Dget_create_plist(dataset);
    hsize_t extent[3] = {0, 0, 0};
    const bool chunked = properties >= 0 && H5Pget_layout(properties) == H5D_CHUNKED &&
                         H5Pget_chunk(properties, 3, extent) == 3;
    bool known = floats && chunked;
    const int filters = known ? H5Pget_nfilters(properties) : -1;
    for (int i = 0; i < filters && known; ++i) {
        unsigned flags = 0;
        std::size_t count = 1;
        unsigned values[1] = {0};
        const H5Z_filter_t filter = H5Pget_filter2(properties, static_cast<unsigned>(i), &flags,
                                                   &count, values, 0, nullptr, nullptr);
        if (filter == H5Z_FILTER_SHUFFLE && i == 0) {
            coding.shuffle = true;
        } else if (filter == H5Z_FILTER_DEFLATE && count >= 1 && values[0] <= 9) {
            coding.deflate = static_cast<int>(values[0]);
        } else {
            known = false;
        }
    }
    if (properties >= 0) {
        H5Pclose(properties);
    }
    if (!known || filters < 0) {
        reason = "its discharge is not stored as this program defined it";
        return false;
    }
    coding.days = extent[0];
    coding.rows = extent[1];
    coding.cols = extent[2];
    return true;
}

// Starts the workers, on a thread of their own that waits for them; where
// it cannot start, the chunks are made on the reading thread.
void start_workers(ChunkWriterState& state, unsigned jobs) {
    try {
        state.crew = std::jthread([&state, jobs] {
            // Fewer workers than asked for make the file as well, slower.
            run_workers(
                jobs, [&state](unsigned) { make_chunks(state); },
                [](unsigned, const std::string&) {});
        });
    } catch (const std::system_error&) {
        state.crew = std::jthread();
    }
}

}  // namespace

ChunkWriter::ChunkWriter() = default;
ChunkWriter::ChunkWriter(ChunkWriter&&) noexcept = default;
ChunkWriter& ChunkWriter::operator=(ChunkWriter&&) noexcept = default;

ChunkWriter::~ChunkWriter() {
    if (!state) {
        return;
    }
    stop_workers(*state);
    if (!state->broken) {
        if (state->dataset >= 0) {
            H5Dclose(state->dataset);
        }
        if (state->file >= 0) {
            H5Fclose(state->file);
        }
    }
}

bool open_chunk_writer(ChunkWriter& writer, const ChunkTarget& target, std::string& reason) {
    writer.state = std::make_unique<ChunkWriterState>();
    ChunkWriterState& state = *writer.state;
    // Failures are told here, in the user's words, not on the error stream.
    H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
    state.file = H5Fopen(target.path.c_str(), H5F_ACC_RDWR, H5P_DEFAULT);
    if (state.file < 0) {
        reason = "HDF5 could not open it again";
        return false;
    }
    state.dataset = H5Dopen2(state.file, target.variable, H5P_DEFAULT);
    if (state.dataset < 0) {
        reason = "HDF5 could not open its discharge";
        return false;
    }
    // Time is unlimited: the dataset holds no day until it is extended.
    const hsize_t extent[] = {target.days, target.rows, target.cols};
    if (H5Dset_extent(state.dataset, extent) < 0) {
        reason = "HDF5 could not extend its discharge";
        return false;
    }
    state.coding.fill = target.fill;
    state.coding.digits = target.digits;
    if (!read_coding(state.dataset, state.coding, reason)) {
        return false;
    }
    state.rows = target.rows;
    state.cols = target.cols;
    state.tiles_across = (target.cols + state.coding.cols - 1) / state.coding.cols;
    state.tiles = state.tiles_across * ((target.rows + state.coding.rows - 1) / state.coding.rows);
    start_workers(state, target.jobs);
    return true;
}

std::size_t chunk_writer_days(const ChunkWriter& writer) {
    return writer.state->coding.days;
}

bool next_chunk_days(ChunkWriter& writer, std::span<float>& days, std::string& reason) {
    ChunkWriterState& state = *writer.state;
    TimeChunk& time_chunk = state.chunks[state.next];
    // The older of the two: its chunks are written before the newer's.
    if (!write_made(state, time_chunk, true, reason)) {
        return false;
    }
    time_chunk.grids.resize(state.coding.days * state.rows * state.cols);
    days = time_chunk.grids;
    return true;
}

bool hand_over_days(ChunkWriter& writer, std::size_t first, std::size_t held, std::string& reason) {
    ChunkWriterState& state = *writer.state;
    TimeChunk& time_chunk = state.chunks[state.next];
    time_chunk.first = first;
    time_chunk.held = held;
    time_chunk.made.resize(state.tiles);
    time_chunk.done.assign(state.tiles, 0);
    time_chunk.taken = 0;
    time_chunk.written = 0;
    time_chunk.active = true;
    state.next ^= 1U;
    if (!state.crew.joinable()) {
        return make_and_write(state, time_chunk, reason);
    }
    {
        const std::lock_guard<std::mutex> lock(state.lock);
        state.queue.push_back(state.next ^ 1U);
    }
    state.work_ready.notify_all();
    // What the workers made of the older days meanwhile.
    return write_made(state, state.chunks[state.next], false, reason);
}

bool close_chunk_writer(ChunkWriter& writer, std::string& reason) {
    ChunkWriterState& state = *writer.state;
    if (!write_made(state, state.chunks[state.next], true, reason) ||
        !write_made(state, state.chunks[state.next ^ 1U], true, reason)) {
        return false;
    }
    stop_workers(state);
    errno = 0;
    const herr_t closed = H5Dclose(state.dataset);
    state.dataset = H5I_INVALID_HID;
    const herr_t flushed = H5Fclose(state.file);
    state.file = H5I_INVALID_HID;
    if (closed < 0 || flushed < 0) {
        if (!system_write_reason(reason)) {
            reason = "HDF5 could not close it";
        }
        state.broken = true;
        return false;
    }
    return true;
}

bool chunk_writer_broken(const ChunkWriter& writer) {
    return writer.state && writer.state->broken;
}
