#include "month_record.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "output_file.h"

std::optional<FileStamp> stamp_of(const std::string& path) {
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(path, error);
    if (error || !std::filesystem::is_regular_file(status)) {
        return std::nullopt;
    }
    const std::uintmax_t bytes = std::filesystem::file_size(path, error);
    const std::filesystem::file_time_type written = std::filesystem::last_write_time(path, error);
    if (error) {
        return std::nullopt;
    }
    // In the Unix epoch, so that a record reads the same on every system.
    const auto since_epoch = std::chrono::file_clock::to_sys(written).time_since_epoch();
    return FileStamp{bytes,
                     std::chrono::duration_cast<std::chrono::nanoseconds>(since_epoch).count()};
}

std::string month_record_text(const MonthRecord& record) {
    std::ostringstream text;
    text << record.range << "\ngrid " << record.ncols << ' ' << record.nrows << "\ndata ";
    if (record.data) {
        text << record.data->bytes << ' ' << record.data->modified;
    } else {
        text << "none";
    }
    text << "\nimages " << record.format << ' ' << record.scale << ' ' << record.image_bytes
         << "\ncolours " << record.colours << '\n';
    if (record.annotation) {
        text << "annotation " << *record.annotation << '\n';
    }
    for (std::size_t day = 0; day < record.days.size(); ++day) {
        if (record.days[day]) {
            text << "day " << day + 1 << ' ' << record.days[day]->bytes << ' '
                 << record.days[day]->modified << '\n';
        }
    }
    if (record.legend) {
        text << "legend " << record.legend->bytes << ' ' << record.legend->modified << '\n';
    }
    return text.str();
}

namespace {

// A stamp at the end of a line, and nothing after it.
std::optional<FileStamp> read_stamp(std::istringstream& line) {
    FileStamp stamp;
    std::string rest;
    if (!(line >> stamp.bytes >> stamp.modified) || line >> rest) {
        return std::nullopt;
    }
    return stamp;
}

// Applies one "key values..." line; false if it is not a line of a record.
bool read_line(const std::string& text, MonthRecord& record, std::int32_t day_count,
               int& required) {
    std::istringstream line(text);
    std::string key;
    line >> key;
    std::string rest;
    if (key == "grid") {
        ++required;
        return line >> record.ncols >> record.nrows && !(line >> rest);
    }
    if (key == "data") {
        ++required;
        if (text == "data none") {
            record.data.reset();
            return true;
        }
        record.data = read_stamp(line);
        return record.data.has_value();
    }
    if (key == "images") {
        ++required;
        return line >> record.format >> record.scale >> record.image_bytes && !(line >> rest);
    }
    if (key == "colours") {
        std::string stretch;
        std::string palette;
        if (!(line >> stretch >> palette) || line >> rest) {
            return false;
        }
        record.colours = stretch + ' ' + palette;
        return true;
    }
    if (key == "annotation" && text.size() > key.size() + 1) {
        record.annotation = text.substr(key.size() + 1);
        return true;
    }
    if (key == "day") {
        std::int32_t day = 0;
        if (!(line >> day) || day < 1 || day > day_count) {
            return false;
        }
        record.days[static_cast<std::size_t>(day - 1)] = read_stamp(line);
        return record.days[static_cast<std::size_t>(day - 1)].has_value();
    }
    if (key == "legend") {
        record.legend = read_stamp(line);
        return record.legend.has_value();
    }
    return false;
}

}  // namespace

std::optional<MonthRecord> parse_month_record(const std::string& text, std::int32_t day_count) {
    std::istringstream lines(text);
    MonthRecord record;
    record.days.resize(static_cast<std::size_t>(day_count));
    int required = 0;
    bool first = true;
    for (std::string line; std::getline(lines, line);) {
        while (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (first) {
            record.range = line;
            first = false;
        } else if (!read_line(line, record, day_count, required)) {
            return std::nullopt;
        }
    }
    if (record.range.empty() || required != 3) {
        return std::nullopt;
    }
    return record;
}

bool same_drawing(const MonthRecord& a, const MonthRecord& b) {
    return a.range == b.range && a.ncols == b.ncols && a.nrows == b.nrows && a.data && b.data &&
           *a.data == *b.data && a.format == b.format && a.scale == b.scale &&
           a.image_bytes == b.image_bytes && a.colours == b.colours &&
           a.annotation == b.annotation && a.days.size() == b.days.size();
}

std::optional<MonthRecord> read_month_record(const std::string& path, std::int32_t day_count) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return std::nullopt;
    }
    std::ostringstream text;
    text << file.rdbuf();
    return parse_month_record(text.str(), day_count);
}

bool write_month_record(const std::string& path, const MonthRecord& record, std::string& reason) {
    return write_whole_output(path, month_record_text(record), true, reason);
}
