// The gauges' two CSV files, read by hand: the format is small, and a reader
// of our own says exactly where a file is wrong, the same on every platform.
//
// How the text is read:
// - A UTF-8 byte order mark at the start of the text is skipped (spreadsheet
//   programs write one).
// - Records end in LF, CR LF or a lone CR; the last may have no line end.
//   Lines that hold nothing but spaces and tabs are skipped, wherever they
//   are (so trailing empty lines do no harm).
// - A field that begins with a double quote is quoted: it ends at the next
//   lone quote, "" stands for one quote, and commas and line ends inside are
//   part of the field, so a record may span lines. A record's line number is
//   that of the physical line it starts on. After a closing quote only a
//   comma or a line end may follow. A quote anywhere else in a field is an
//   ordinary character.
// - parse_csv() gives every field exactly as written (quotes removed). The
//   gauges' and observations' readers then ignore the spaces and tabs around
//   a field's text: header names, ids, numbers and dates are matched and read
//   after trimming them ("A1 , 3" is the id "A1" and the number 3), so an id
//   can neither begin nor end with a space. Everything else is strict: names
//   are matched with their case ("Date" is not "date"), column and row are
//   plain decimal digits, values are read by std::from_chars (a point for the
//   decimals, no locale, no '+' sign, no hexadecimal) and "inf" or "infinity"
//   are errors, as no discharge is infinite.
#include "gauge_input.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>
#include <utility>

namespace {

constexpr double MISSING = std::numeric_limits<double>::quiet_NaN();
constexpr char HEX_DIGITS[] = "0123456789ABCDEF";

// Said of a file that must have a header but holds nothing.
constexpr const char* NO_HEADER = "the file is empty: it has no header line";

// At most this many bytes of a field are quoted in a message.
constexpr std::size_t QUOTED_BYTES = 40;

// `text` as a message quotes it: in double quotes, a quote or backslash with
// a backslash before it, control bytes as \xHH, cut after about 40 bytes
// (not inside a UTF-8 character) with "..." where it goes on.
std::string quoted(std::string_view text) {
    std::size_t length = text.size();
    if (length > QUOTED_BYTES) {
        length = QUOTED_BYTES;
        // Bytes 10xxxxxx continue a character: cut before its first byte.
        while (length > 0 && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80) {
            --length;
        }
    }
    std::string out = "\"";
    for (std::size_t i = 0; i < length; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c == 0x7F) {
            out += "\\x";
            out += HEX_DIGITS[c >> 4];
            out += HEX_DIGITS[c & 0x0F];
        } else {
            if (c == '"' || c == '\\') {
                out += '\\';
            }
            out += static_cast<char>(c);
        }
    }
    return out + (length < text.size() ? "...\"" : "\"");
}

// The text without the ASCII spaces and tabs around it.
std::string_view trimmed(std::string_view text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// A field's position in a message: fields count from 1.
std::int64_t column_of(std::size_t index) {
    return static_cast<std::int64_t>(index) + 1;
}

// "3 fields, where the header has 4".
std::string field_count_text(std::size_t fields, std::size_t header) {
    return std::to_string(fields) + (fields == 1 ? " field" : " fields") +
           ", where the header has " + std::to_string(header);
}

// A record: its fields and the physical line it starts on.
struct Record {
    std::vector<std::string> fields;
    std::int64_t line = 0;
};

// Whether `at` is the end of a field: a comma, a line end or the text's end.
bool field_ends(std::string_view text, std::size_t at) {
    return at >= text.size() || text[at] == ',' || text[at] == '\n' || text[at] == '\r';
}

// Reads the quoted field whose opening quote is at `at`, up to just after its
// closing quote, counting the line ends inside in `line`; false with `error`
// set where the quote does not close or other text follows it.
bool read_quoted_field(std::string_view text, std::size_t& at, std::int64_t& line,
                       std::string& field, std::int64_t column, InputError& error) {
    const std::int64_t start = line;
    for (++at;; ++at) {
        if (at >= text.size()) {
            error = {start, column, "the quote that opens this field is not closed"};
            return false;
        }
        if (text[at] == '"') {
            if (at + 1 < text.size() && text[at + 1] == '"') {
                field += '"';
                ++at;
                continue;
            }
            ++at;
            break;
        }
        // A lone CR ends a line as LF does; CR LF counts once, at its LF.
        const bool cr_alone = text[at] == '\r' && (at + 1 >= text.size() || text[at + 1] != '\n');
        line += (text[at] == '\n' || cr_alone) ? 1 : 0;
        field += text[at];
    }
    if (!field_ends(text, at)) {
        error = {line, column,
                 "text after the closing quote of a field (a quote inside a quoted field is "
                 "written \"\")"};
        return false;
    }
    return true;
}

// Reads one field from `at` (a record's start or just after a comma) to its
// end; false with `error` set for a malformed quoted field.
bool read_field(std::string_view text, std::size_t& at, std::int64_t& line, std::string& field,
                std::int64_t column, InputError& error) {
    field.clear();
    if (at < text.size() && text[at] == '"') {
        return read_quoted_field(text, at, line, field, column, error);
    }
    const std::size_t start = at;
    while (!field_ends(text, at)) {
        ++at;
    }
    field.assign(text.substr(start, at - start));
    return true;
}

// Reads the record that starts at `at`, and its line end; false with `error`.
bool read_record(std::string_view text, std::size_t& at, std::int64_t& line, Record& record,
                 InputError& error) {
    record = Record{{}, line};
    for (;;) {
        std::string field;
        if (!read_field(text, at, line, field, column_of(record.fields.size()), error)) {
            return false;
        }
        record.fields.push_back(std::move(field));
        if (at >= text.size() || text[at] != ',') {
            break;
        }
        ++at;
    }
    if (at < text.size() && text[at] == '\r') {
        ++at;
    }
    if (at < text.size() && text[at] == '\n') {
        ++at;
    }
    ++line;
    return true;
}

// Calls `visit` with each record of a CSV text that has something in it, in
// order, one at a time (a file of many columns and lines is never held as
// fields); false with `error` set where a record is malformed or `visit`
// returned false, having set it.
template <typename Visit>
bool visit_records(std::string_view text, InputError& error, Visit visit) {
    if (text.starts_with("\xEF\xBB\xBF")) {
        text.remove_prefix(3);
    }
    std::size_t at = 0;
    std::int64_t line = 1;
    Record record;
    while (at < text.size()) {
        if (!read_record(text, at, line, record, error)) {
            return false;
        }
        // A blank line is one field of nothing but spaces: no record.
        if ((record.fields.size() > 1 || !trimmed(record.fields.front()).empty()) &&
            !visit(record)) {
            return false;
        }
    }
    return true;
}

// The records of a CSV text with something in them; nullopt with `error`.
std::optional<std::vector<Record>> records_of(std::string_view text, InputError& error) {
    std::vector<Record> records;
    if (!visit_records(text, error, [&records](Record& record) {
            records.push_back(std::move(record));
            return true;
        })) {
        return std::nullopt;
    }
    return records;
}

// The records of a file that must have a header; nullopt with `error`.
std::optional<std::vector<Record>> records_with_header(std::string_view text, InputError& error) {
    std::optional<std::vector<Record>> records = records_of(text, error);
    if (records && records->empty()) {
        error = {0, 0, NO_HEADER};
        return std::nullopt;
    }
    return records;
}

}  // namespace

std::optional<std::vector<std::vector<std::string>>> parse_csv(std::string_view text,
                                                               InputError& error) {
    std::optional<std::vector<Record>> records = records_of(text, error);
    if (!records) {
        return std::nullopt;
    }
    std::vector<std::vector<std::string>> lines;
    lines.reserve(records->size());
    for (Record& record : *records) {
        lines.push_back(std::move(record.fields));
    }
    return lines;
}

namespace {

// Where GAUGES.csv's header has the columns that a gauge needs.
struct GaugeColumns {
    std::size_t id = 0;
    std::size_t column = 0;
    std::size_t row = 0;
};

// The position of the field `name` in the header; nullopt with `error` set
// where the header has it not, or twice.
std::optional<std::size_t> header_field(const Record& header, std::string_view name,
                                        InputError& error) {
    std::optional<std::size_t> found;
    for (std::size_t i = 0; i < header.fields.size(); ++i) {
        if (trimmed(header.fields[i]) != name) {
            continue;
        }
        if (found) {
            error = {header.line, column_of(i),
                     "the column " + quoted(name) + " is given twice (first in column " +
                         std::to_string(column_of(*found)) + ")"};
            return std::nullopt;
        }
        found = i;
    }
    if (!found) {
        error = {header.line, 0, "no column " + quoted(name) + " in the header"};
    }
    return found;
}

std::optional<GaugeColumns> gauge_columns(const Record& header, InputError& error) {
    const std::optional<std::size_t> id = header_field(header, "id", error);
    if (!id) {
        return std::nullopt;
    }
    const std::optional<std::size_t> column = header_field(header, "column", error);
    if (!column) {
        return std::nullopt;
    }
    const std::optional<std::size_t> row = header_field(header, "row", error);
    if (!row) {
        return std::nullopt;
    }
    return GaugeColumns{*id, *column, *row};
}

// A column or row number, a whole number from 1 that an int32 holds (the
// grid's sizes are int32); false with `error` set (`what` names it).
bool read_cell_number(const Record& record, std::size_t index, const char* what,
                      std::int32_t& number, InputError& error) {
    const std::string_view text = trimmed(record.fields[index]);
    // Digits only: from_chars would also take a '-'.
    const bool digits = !text.empty() && text.find_first_not_of("0123456789") == text.npos;
    const auto [end, failure] = std::from_chars(text.data(), text.data() + text.size(), number);
    if (digits && failure == std::errc::result_out_of_range) {
        error = {record.line, column_of(index),
                 quoted(record.fields[index]) + " is too large for a " + what +
                     " number (at most " +
                     std::to_string(std::numeric_limits<std::int32_t>::max()) + ")"};
        return false;
    }
    if (!digits || failure != std::errc() || end != text.data() + text.size() || number < 1) {
        error = {
            record.line, column_of(index),
            quoted(record.fields[index]) + " is not a " + what + " number (a whole number from 1)"};
        return false;
    }
    return true;
}

// The gauge of a line of GAUGES.csv; nullopt with `error` set.
std::optional<Gauge> read_gauge(const Record& record, std::size_t header_size,
                                const GaugeColumns& columns, InputError& error) {
    if (record.fields.size() != header_size) {
        error = {record.line, 0, field_count_text(record.fields.size(), header_size)};
        return std::nullopt;
    }
    Gauge gauge;
    gauge.id = std::string(trimmed(record.fields[columns.id]));
    if (gauge.id.empty()) {
        error = {record.line, column_of(columns.id), "the id is empty"};
        return std::nullopt;
    }
    if (!read_cell_number(record, columns.column, "column", gauge.cell.column, error) ||
        !read_cell_number(record, columns.row, "row", gauge.cell.row, error)) {
        return std::nullopt;
    }
    return gauge;
}

}  // namespace

std::optional<std::vector<Gauge>> parse_gauges(std::string_view text, InputError& error) {
    const std::optional<std::vector<Record>> records = records_with_header(text, error);
    if (!records) {
        return std::nullopt;
    }
    const Record& header = records->front();
    const std::optional<GaugeColumns> columns = gauge_columns(header, error);
    if (!columns) {
        return std::nullopt;
    }
    std::vector<Gauge> gauges;
    std::map<std::string, std::int64_t> first_lines;  // of each id
    for (std::size_t r = 1; r < records->size(); ++r) {
        const Record& record = (*records)[r];
        std::optional<Gauge> gauge = read_gauge(record, header.fields.size(), *columns, error);
        if (!gauge) {
            return std::nullopt;
        }
        const auto [first, added] = first_lines.emplace(gauge->id, record.line);
        if (!added) {
            error = {record.line, column_of(columns->id),
                     "the id " + quoted(gauge->id) + " is given twice (first on line " +
                         std::to_string(first->second) + ")"};
            return std::nullopt;
        }
        gauges.push_back(std::move(*gauge));
    }
    return gauges;
}

std::optional<Date> parse_date(std::string_view text) {
    if (text.size() != 10 || text[4] != '-' || text[7] != '-') {
        return std::nullopt;
    }
    // The digits from `from` on as a number, or -1 for any other character.
    const auto number = [text](std::size_t from, std::size_t count) {
        std::int32_t value = 0;
        for (std::size_t i = from; i < from + count; ++i) {
            if (text[i] < '0' || text[i] > '9') {
                return -1;
            }
            value = value * 10 + (text[i] - '0');
        }
        return value;
    };
    const std::int32_t year = number(0, 4);
    const std::int32_t month = number(5, 2);
    const std::int32_t day = number(8, 2);
    // The Gregorian calendar has no year 0.
    if (year < 1 || month < 1 || month > 12 || day < 1) {
        return std::nullopt;
    }
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    const std::int32_t days = month == 2 && leap ? 29 : days_in_month(month);
    if (day > days) {
        return std::nullopt;
    }
    return Date{year, month, day};
}

namespace {

// A day's value of OBSERVED.csv: NaN for a missing one (no value, nan, NaN,
// NA, or below 0, as some agencies write -999 for a day without one); false
// with `error` set where the text is no finite number.
bool read_observed_value(const Record& record, std::size_t index, double& value,
                         InputError& error) {
    const std::string_view text = trimmed(record.fields[index]);
    if (text.empty() || text == "nan" || text == "NaN" || text == "NA") {
        value = MISSING;
        return true;
    }
    const auto [end, failure] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (failure == std::errc::result_out_of_range) {
        error = {record.line, column_of(index),
                 quoted(record.fields[index]) + " is a number out of range"};
        return false;
    }
    if (failure != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) {
        error = {record.line, column_of(index), quoted(record.fields[index]) + " is not a number"};
        return false;
    }
    if (value < 0.0) {
        value = MISSING;
    } else if (value == 0.0) {
        value = 0.0;  // -0 as 0
    }
    return true;
}

// The ids of OBSERVED.csv's header; false with `error` set.
bool read_observed_header(const Record& header, Observations& observations, InputError& error) {
    const std::string_view first = trimmed(header.fields.front());
    if (first != "date") {
        error = {header.line, 1,
                 "the first column is " + quoted(first) + ", where \"date\" is expected"};
        return false;
    }
    std::map<std::string_view, std::size_t> columns;  // of each id
    for (std::size_t i = 1; i < header.fields.size(); ++i) {
        const std::string_view id = trimmed(header.fields[i]);
        if (id.empty()) {
            error = {header.line, column_of(i), "a column without a name (the id of a gauge)"};
            return false;
        }
        const auto [seen, added] = columns.emplace(id, i);
        if (!added) {
            error = {header.line, column_of(i),
                     "the column " + quoted(id) + " is given twice (first in column " +
                         std::to_string(column_of(seen->second)) + ")"};
            return false;
        }
        observations.ids.emplace_back(id);
    }
    return true;
}

// The date of a line of OBSERVED.csv, which no line before has had (their
// lines in `first_lines`); nullopt with `error` set.
std::optional<Date> read_observed_date(const Record& record,
                                       std::map<Date, std::int64_t>& first_lines,
                                       InputError& error) {
    const std::string_view text = trimmed(record.fields.front());
    const std::optional<Date> date = parse_date(text);
    if (!date) {
        error = {record.line, 1, quoted(record.fields.front()) + " is not a date (YYYY-MM-DD)"};
        return std::nullopt;
    }
    const auto [first, added] = first_lines.emplace(*date, record.line);
    if (!added) {
        error = {record.line, 1,
                 "the date " + std::string(text) + " is given twice (first on line " +
                     std::to_string(first->second) + ")"};
        return std::nullopt;
    }
    return date;
}

// A line of OBSERVED.csv after its header, of `width` fields, added to
// `observations`; false with `error` set.
bool read_observation_line(const Record& record, std::size_t width,
                           std::map<Date, std::int64_t>& first_lines, Observations& observations,
                           InputError& error) {
    if (record.fields.size() != width) {
        error = {record.line, 0, field_count_text(record.fields.size(), width)};
        return false;
    }
    const std::optional<Date> date = read_observed_date(record, first_lines, error);
    if (!date) {
        return false;
    }
    std::vector<double> values(width - 1);
    for (std::size_t i = 1; i < width; ++i) {
        if (!read_observed_value(record, i, values[i - 1], error)) {
            return false;
        }
    }
    observations.values.emplace(*date, std::move(values));
    return true;
}

}  // namespace

std::optional<Observations> parse_observations(std::string_view text, InputError& error) {
    Observations observations;
    std::size_t width = 0;                     // the header's fields, once read
    std::map<Date, std::int64_t> first_lines;  // of each date
    const bool parsed = visit_records(text, error, [&](const Record& record) {
        if (width == 0) {
            width = record.fields.size();
            return read_observed_header(record, observations, error);
        }
        return read_observation_line(record, width, first_lines, observations, error);
    });
    if (!parsed) {
        return std::nullopt;
    }
    if (width == 0) {
        error = {0, 0, NO_HEADER};
        return std::nullopt;
    }
    return observations;
}

namespace {

// Whether `c` is an ASCII letter or digit, '-' or '_': kept in a file stem.
bool stem_byte(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '_';
}

// Whether Windows reserves `stem` for a device: CON, PRN, AUX, NUL, COM1 to
// COM9 or LPT1 to LPT9 in any case, alone or before an extension (a '.',
// which a stem holds as "%2E"). COM0 and LPT0 are ordinary names.
bool device_name(std::string_view stem) {
    std::string base(stem.substr(0, stem.find("%2E")));
    for (char& c : base) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    if (base == "CON" || base == "PRN" || base == "AUX" || base == "NUL") {
        return true;
    }
    return base.size() == 4 && (base.starts_with("COM") || base.starts_with("LPT")) &&
           base[3] >= '1' && base[3] <= '9';
}

}  // namespace

std::string gauge_file_stem(std::string_view id) {
    if (id.empty()) {
        return "_";
    }
    std::string stem;
    for (const char c : id) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (stem_byte(byte)) {
            stem += c;
        } else {
            stem += '%';
            stem += HEX_DIGITS[byte >> 4];
            stem += HEX_DIGITS[byte & 0x0F];
        }
    }
    return device_name(stem) ? "_" + stem : stem;
}
