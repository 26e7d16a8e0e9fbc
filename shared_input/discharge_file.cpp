// Access to the monthly file of daily discharge grids.
#include "run_input.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <ostream>
#include <sstream>
#include <vector>

std::optional<std::uint64_t> checked_product(std::uint64_t a, std::uint64_t b) {
    if (a != 0 && b > std::numeric_limits<std::uint64_t>::max() / a) {
        return std::nullopt;
    }
    return a * b;
}

float decode_discharge_value(const unsigned char* bytes) {
    const std::uint32_t bits =
        static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
        static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
    return std::bit_cast<float>(bits);
}

void encode_discharge_value(float value, std::string& bytes) {
    const std::uint32_t bits = std::bit_cast<std::uint32_t>(value);
    for (int shift = 0; shift < 32; shift += 8) {
        bytes.push_back(static_cast<char>((bits >> shift) & 0xFFU));
    }
}

std::string discharge_text(float value) {
    if (std::isnan(value)) {
        return std::signbit(value) ? "-nan" : "nan";
    }
    if (std::isinf(value)) {
        return value < 0.0F ? "-inf" : "inf";
    }
    std::ostringstream text;
    text << value;
    return text.str();
}

std::string discharge_file_name(std::int32_t year, std::int32_t month) {
    char name[64];
    std::snprintf(name, sizeof name, "./%04d%02d_dailyDischarge.bin", static_cast<int>(year),
                  static_cast<int>(month));
    return name;
}

bool open_discharge_file(DischargeFile& file, std::int32_t year, std::int32_t month,
                         std::ostream& console) {
    const std::string name = discharge_file_name(year, month);
    console << "Read " << name << std::endl;
    if (file.failed) {
        return false;
    }
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(name, error);
    if (std::filesystem::is_directory(status)) {
        return false;
    }
    file.stream.open(name, std::ios::in | std::ios::binary);
    if (!file.stream.is_open()) {
        return false;
    }
    file.seekable = std::filesystem::is_regular_file(status);
    file.size_bytes = 0;
    if (file.seekable) {
        file.stream.seekg(0, std::ios::end);
        const std::streamoff end = file.stream.tellg();
        file.stream.seekg(0, std::ios::beg);
        if (end < 0 || !file.stream) {
            file.stream.close();
            return false;
        }
        file.size_bytes = static_cast<std::uint64_t>(end);
    }
    return true;
}

std::optional<std::uint64_t> month_value_count(std::int32_t day_count, std::int32_t nrows,
                                               std::int32_t ncols) {
    if (day_count < 0 || nrows < 0 || ncols < 0) {
        return std::nullopt;
    }
    const auto cells =
        checked_product(static_cast<std::uint64_t>(nrows), static_cast<std::uint64_t>(ncols));
    const auto value_count =
        cells ? checked_product(*cells, static_cast<std::uint64_t>(day_count)) : std::nullopt;
    if (!value_count || !checked_product(*value_count, DISCHARGE_VALUE_BYTES)) {
        return std::nullopt;
    }
    return value_count;
}

bool holds_month(const DischargeFile& file, std::int32_t day_count, std::int32_t nrows,
                 std::int32_t ncols) {
    const std::optional<std::uint64_t> value_count = month_value_count(day_count, nrows, ncols);
    if (!value_count) {
        return false;
    }
    return !file.seekable || file.size_bytes / DISCHARGE_VALUE_BYTES >= *value_count;
}

std::size_t read_discharge_values(DischargeFile& file, std::span<float> values) {
    if (file.failed) {
        return 0;
    }
    // Read the stored bytes straight into the floats' memory, then decode
    // each in place where the host's byte order is not the file's: on a
    // little-endian host the bytes read are the floats already.
    char* bytes = reinterpret_cast<char*>(values.data());
    file.stream.read(bytes, static_cast<std::streamsize>(values.size_bytes()));
    const std::size_t count =
        static_cast<std::size_t>(file.stream.gcount()) / DISCHARGE_VALUE_BYTES;
    const bool stored_order = std::endian::native == std::endian::little;
    for (std::size_t i = 0; i < count && !stored_order; ++i) {
        unsigned char stored[DISCHARGE_VALUE_BYTES];
        std::memcpy(stored, &values[i], sizeof stored);
        values[i] = decode_discharge_value(stored);
    }
    if (count < values.size()) {
        file.failed = true;
    }
    return count;
}

bool read_discharge_value(DischargeFile& file, float& value) {
    float next = 0.0F;
    if (read_discharge_values(file, std::span<float>(&next, 1)) != 1) {
        return false;
    }
    value = next;
    return true;
}

bool read_discharge_values_at(DischargeFile& file, std::uint64_t index, std::span<float> values) {
    if (file.failed) {
        return false;
    }
    const std::uint64_t stored = file.size_bytes / DISCHARGE_VALUE_BYTES;
    if (!file.seekable || values.size() > stored || index > stored - values.size()) {
        file.failed = true;
        return false;
    }
    // Below size_bytes, which tellg() gave as a streamoff: the offset fits.
    file.stream.seekg(static_cast<std::streamoff>(index * DISCHARGE_VALUE_BYTES), std::ios::beg);
    return read_discharge_values(file, values) == values.size();
}

bool read_discharge_value_at(DischargeFile& file, std::uint64_t index, float& value) {
    float next = 0.0F;
    if (!read_discharge_values_at(file, index, std::span<float>(&next, 1))) {
        return false;
    }
    value = next;
    return true;
}

bool skip_discharge_values(DischargeFile& file, std::uint64_t count) {
    constexpr std::uint64_t chunk = 16384;
    std::vector<float> scratch(static_cast<std::size_t>(std::min(count, chunk)));
    while (count > 0) {
        const std::size_t wanted = static_cast<std::size_t>(std::min(count, chunk));
        if (read_discharge_values(file, std::span<float>(scratch.data(), wanted)) != wanted) {
            return false;
        }
        count -= wanted;
    }
    return true;
}

void close_discharge_file(DischargeFile& file) {
    file.stream.close();
    file.stream.clear();
}
