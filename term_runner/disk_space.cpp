#include "disk_space.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <limits>

#include "month_record.h"

std::uint64_t saturated_sum(std::uint64_t a, std::uint64_t b) {
    return a > std::numeric_limits<std::uint64_t>::max() - b
               ? std::numeric_limits<std::uint64_t>::max()
               : a + b;
}

std::uint64_t on_disk(std::uint64_t bytes) {
    return saturated_sum(bytes / DISK_BLOCK * DISK_BLOCK, bytes % DISK_BLOCK > 0 ? DISK_BLOCK : 0);
}

std::uint64_t space_added(std::uint64_t bytes, const std::string& path) {
    const std::optional<FileStamp> old = stamp_of(path);
    const std::uint64_t old_bytes = old ? on_disk(old->bytes) : 0;
    const std::uint64_t new_bytes = on_disk(bytes);
    return new_bytes > old_bytes ? new_bytes - old_bytes : 0;
}

std::optional<std::uint64_t> free_space(const std::string& folder) {
    std::error_code failed;
    const std::filesystem::space_info space = std::filesystem::space(folder, failed);
    if (failed || space.available == static_cast<std::uintmax_t>(-1)) {
        return std::nullopt;
    }
    return space.available;
}

std::string bytes_text(std::uint64_t bytes) {
    const char* const units[] = {"bytes", "kB", "MB", "GB", "TB", "PB", "EB"};
    char text[96];
    if (bytes < 1000) {
        std::snprintf(text, sizeof text, "%llu bytes", static_cast<unsigned long long>(bytes));
        return text;
    }
    double value = static_cast<double>(bytes) / 1000.0;
    std::size_t unit = 1;
    // The next unit once the three digits round up to 1000: 999,600 bytes
    // are "1 MB", not "1e+03 kB".
    char digits[32];
    for (;;) {
        std::snprintf(digits, sizeof digits, "%.3g", value);
        if (std::strtod(digits, nullptr) < 1000.0 || unit + 1 == std::size(units)) {
            break;
        }
        value /= 1000.0;
        ++unit;
    }
    std::snprintf(text, sizeof text, "%s %s (%llu bytes)", digits, units[unit],
                  static_cast<unsigned long long>(bytes));
    return text;
}
