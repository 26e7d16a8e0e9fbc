// Run input shared by discharge_image and discharge_series: the run parameter
// file of the runoff simulation, the console choice of a month, and access to
// the monthly file of daily discharge grids that the simulation leaves behind.
//
// Nothing here ends the process. A function that can fail reports it to its
// caller, who ends the program with exit status 1. Where the failure has a
// message of its own (a parameter file or an answer that cannot be used) the
// function prints it; where the caller's words depend on the pass (opening or
// reading the monthly file) it prints nothing and the caller does.
#ifndef DISCHARGE_SHARED_INPUT_RUN_INPUT_H
#define DISCHARGE_SHARED_INPUT_RUN_INPUT_H

#include <array>
#include <cstdint>
#include <fstream>
#include <iosfwd>
#include <optional>
#include <span>
#include <string>

// ---------------------------------------------------------------------------
// Run parameter file ("../param.dat")

// The sixteen values of param.dat, in file order. Only the grid size and the
// simulation term are used; the rest is echoed to the console.
struct RunParameters {
    std::int32_t topography_scale = 0;  // scale of the topography grid
    std::int32_t ncols = 0;             // columns of the simulation grid
    std::int32_t nrows = 0;             // rows of the simulation grid
    double southwest_longitude = 0.0;   // south-west corner of the grid, degrees
    double southwest_latitude = 0.0;    // degrees
    std::int32_t input_ncols = 0;       // columns of the simulation's input data grid
    std::int32_t input_nrows = 0;       // rows of that grid
    std::int32_t origin_column = 0;     // origin of the simulation grid within the input grid
    std::int32_t origin_row = 0;
    float input_southwest_longitude = 0.0F;  // centre of the input grid's south-west cell, degrees
    float input_southwest_latitude = 0.0F;   // degrees
    std::int32_t input_interval = 0;         // seconds between input records
    std::int32_t start_year = 0;             // simulation term; note the file order:
    std::int32_t end_year = 0;               //   start year, end year,
    std::int32_t start_month = 0;            //   start month, end month
    std::int32_t end_month = 0;
};

// Location of the run parameter file, relative to the simulation's output
// directory in which the programs are started.
inline constexpr const char* RUN_PARAMETER_PATH = "../param.dat";

// Prints the opening heading, opens RUN_PARAMETER_PATH and reads it with
// parse_run_parameters(). Returns nullopt after printing the failure message.
std::optional<RunParameters> read_run_parameters(std::ostream& console);

// As read_run_parameters(console), but the heading and the echo go to `echo`
// and a failure's message to `failures`.
std::optional<RunParameters> read_run_parameters(std::ostream& echo, std::ostream& failures);

// Reads the sixteen values from `file`, echoing each step to `console` as it
// completes. Returns nullopt after printing why: the file ends early or holds
// a value that is not a number of its type, the end year precedes the start
// year, or the grid has fewer than one column or row.
std::optional<RunParameters> parse_run_parameters(std::istream& file, std::ostream& console);

// ---------------------------------------------------------------------------
// Month selection

// Days per month, January first. February always has 28 days: the simulation
// writes a 29th grid in leap years, but it is never read.
inline constexpr std::array<std::int32_t, 12> MonthLengthTable = {31, 28, 31, 30, 31, 30,
                                                                  31, 31, 30, 31, 30, 31};

struct YearMonth {
    std::int32_t year = 0;
    std::int32_t month = 0;  // 1 to 12
};

// Asks for the year and the month on the console. Returns nullopt after
// printing the message when an answer is not a number of its type (or input
// ended), or when the month is outside 1 to 12.
std::optional<YearMonth> ask_month(std::istream& in, std::ostream& console);

// Reads one integer answer by formatted extraction. On failure prints
// "Wrong values inputted!" and returns nullopt.
std::optional<std::int32_t> ask_integer(std::istream& in, std::ostream& console);

// Reads one real answer by formatted extraction; failure as ask_integer().
std::optional<float> ask_real(std::istream& in, std::ostream& console);

// Days of `month` (1 to 12) by the MonthLengthTable.
std::int32_t days_in_month(std::int32_t month);

// ---------------------------------------------------------------------------
// Monthly daily discharge file
//
// One file per month, "./YYYYMM_dailyDischarge.bin", holding days x nrows x
// ncols discharge values and nothing else: day 1 first, within a day row 1
// (the southernmost) first, within a row column 1 first. Each value is a
// 32-bit IEEE-754 float, least significant byte first. A negative value marks
// a cell without discharge on that day.

// Bytes of one stored discharge value.
inline constexpr std::uint64_t DISCHARGE_VALUE_BYTES = 4;

// An open monthly file with its read position.
struct DischargeFile {
    std::ifstream stream;
    // Set once a read runs out of data. Like a stream's failed state it stays
    // set when the file is closed and opened again, so that a second pass over
    // a month found short fails at its opening.
    bool failed = false;
    // A regular file: its size is known and reads may be positioned.
    bool seekable = false;
    std::uint64_t size_bytes = 0;  // meaningful only when seekable
};

// "./%04d%02d_dailyDischarge.bin" filled with year and month.
std::string discharge_file_name(std::int32_t year, std::int32_t month);

// Prints "Read " and the file name, then opens the month's file for reading.
// Fails, printing nothing more, when the file cannot be opened, is a
// directory, or `file` has already run out of data in an earlier pass.
bool open_discharge_file(DischargeFile& file, std::int32_t year, std::int32_t month,
                         std::ostream& console);

// a * b, or nullopt when the product of the two counts does not fit in 64 bits.
std::optional<std::uint64_t> checked_product(std::uint64_t a, std::uint64_t b);

// Values in a month of `day_count` grids of nrows x ncols, or nullopt when
// that count or its size in bytes does not fit in 64 bits.
std::optional<std::uint64_t> month_value_count(std::int32_t day_count, std::int32_t nrows,
                                               std::int32_t ncols);

// Whether an open file can hold a whole month: true for a regular file at
// least as long as the month's values, and for a stream whose length cannot be
// known in advance (a pipe), which is checked while it is read instead. A
// month too large to count never fits.
bool holds_month(const DischargeFile& file, std::int32_t day_count, std::int32_t nrows,
                 std::int32_t ncols);

// Reads the next values of the file into `values` and returns how many whole
// values were read. Fewer than values.size() means the data ran out: the file
// is then marked failed and reads nothing more.
std::size_t read_discharge_values(DischargeFile& file, std::span<float> values);

// Reads the next value into `value`. On running out of data returns false,
// marks the file failed and leaves `value` unchanged.
bool read_discharge_value(DischargeFile& file, float& value);

// Reads the value at position `index` (counted in values from the start of the
// file) of a seekable file. Returns false, marking the file failed, when the
// file does not reach that far.
bool read_discharge_value_at(DischargeFile& file, std::uint64_t index, float& value);

// As read_discharge_value_at() for the values.size() values from `index` on,
// in one read.
bool read_discharge_values_at(DischargeFile& file, std::uint64_t index, std::span<float> values);

// Reads and discards the next `count` values; false when the data runs out.
bool skip_discharge_values(DischargeFile& file, std::uint64_t count);

// Closes the stream, keeping the failed mark.
void close_discharge_file(DischargeFile& file);

// Decodes a stored value from its four bytes, least significant byte first.
float decode_discharge_value(const unsigned char* bytes);

// Appends the four stored bytes of `value`, least significant byte first, as
// the runoff simulation writes them.
void encode_discharge_value(float value, std::string& bytes);

// A discharge value as the console and the series file show it: general
// notation with six significant digits, the stream default. Values that are
// not finite read "nan", "-nan", "inf" and "-inf" on every platform, although
// C libraries differ in how they spell them.
std::string discharge_text(float value);

#endif  // DISCHARGE_SHARED_INPUT_RUN_INPUT_H
