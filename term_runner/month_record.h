// The record beside a month's images, ./image/YYYYMM_range.txt: what the
// images were drawn from and what was written, so that a rerun can tell
// which images are still right without drawing them again.
//
// Its first line is the colour range, "MIN,MAX" (scripts read it); the lines
// after it are "key values...":
//   grid NCOLS NROWS           the grid of param.dat
//   data BYTES MODIFIED        the monthly file drawn from; "data none" for
//                              one that cannot be stamped (a pipe), which
//                              is never the same again
//   images FORMAT SCALE BYTES  the image format, pixels per cell side, bytes
//                              of each image
//   colours STRETCH PALETTE    how the levels are spread over the range, and
//                              the palette; a record without the line is of
//                              "sqrt classic", the only colours of old
//   annotation UNITS           frames annotated, with their units; no line
//                              for plain frames
//   day D BYTES MODIFIED       an image complete under its name, one line a
//                              day drawn
//   legend BYTES MODIFIED      the legend, once written
// MODIFIED is the file's last write time in nanoseconds since 1970-01-01
// UTC. Lines end in LF, or CR LF where the record was written on Windows.
#ifndef DISCHARGE_TERM_RUNNER_MONTH_RECORD_H
#define DISCHARGE_TERM_RUNNER_MONTH_RECORD_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// A file as found on disk.
struct FileStamp {
    std::uint64_t bytes = 0;
    std::int64_t modified = 0;  // last write, nanoseconds since 1970-01-01 UTC
    bool operator==(const FileStamp&) const = default;
};

// The stamp of the regular file `path`, or nullopt if there is none.
std::optional<FileStamp> stamp_of(const std::string& path);

struct MonthRecord {
    std::string range;  // "MIN,MAX", as range_text() writes it
    std::int32_t ncols = 0;
    std::int32_t nrows = 0;
    std::optional<FileStamp> data;  // the monthly file; none for one not stamped
    std::string format = "ppm";     // of the images
    std::int32_t scale = 5;         // pixels per cell side
    std::uint64_t image_bytes = 0;
    std::string colours = "sqrt classic";        // stretch and palette
    std::optional<std::string> annotation;       // the units of annotated frames
    std::vector<std::optional<FileStamp>> days;  // one per day of the month, set once drawn
    std::optional<FileStamp> legend;             // set once written
    bool operator==(const MonthRecord&) const = default;
};

// The record's text, lines ending in LF.
std::string month_record_text(const MonthRecord& record);

// The record of `text`, or nullopt if it is not one (an older record holding
// the range alone, a damaged one). Days beyond `day_count` are not a record.
std::optional<MonthRecord> parse_month_record(const std::string& text, std::int32_t day_count);

// Whether two records describe the same drawing: range, grid, monthly file,
// images, colours and annotation alike, whatever was drawn of it. A drawing from a monthly file
// that was not stamped is like no other.
bool same_drawing(const MonthRecord& a, const MonthRecord& b);

// The record at `path`, or nullopt where there is none that parses.
std::optional<MonthRecord> read_month_record(const std::string& path, std::int32_t day_count);

// Writes the record to `path`, whole or not at all, replacing the one there.
// Returns false with `reason` set if it could not be written.
bool write_month_record(const std::string& path, const MonthRecord& record, std::string& reason);

#endif  // DISCHARGE_TERM_RUNNER_MONTH_RECORD_H
