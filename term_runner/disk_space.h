// What a run will write, against the free space of the disk it writes to.
// Disk space is counted in blocks, as most file systems allocate it: a file
// takes its bytes rounded up to whole blocks.
#ifndef DISCHARGE_TERM_RUNNER_DISK_SPACE_H
#define DISCHARGE_TERM_RUNNER_DISK_SPACE_H

#include <cstdint>
#include <optional>
#include <string>

inline constexpr std::uint64_t DISK_BLOCK = 4096;

// `a` + `b`, or the largest count where that does not fit in 64 bits.
std::uint64_t saturated_sum(std::uint64_t a, std::uint64_t b);

// `bytes` in whole blocks.
std::uint64_t on_disk(std::uint64_t bytes);

// What writing a file of `bytes` under the name `path` adds on disk: its
// blocks less those of the file of that name it replaces, if any.
std::uint64_t space_added(std::uint64_t bytes, const std::string& path);

// The space free for the user on the file system of `folder`, or nullopt
// where the system does not tell.
std::optional<std::uint64_t> free_space(const std::string& folder);

// "2.79 GB (2790001234 bytes)": decimal units, as disk sizes are sold, with
// three significant digits; "812 bytes" below a kilobyte.
std::string bytes_text(std::uint64_t bytes);

#endif  // DISCHARGE_TERM_RUNNER_DISK_SPACE_H
