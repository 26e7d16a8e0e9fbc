#include "term_netcdf.h"

#include <netcdf.h>
#include <netcdf_meta.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <ostream>
#include <span>
#include <system_error>
#include <vector>

#include "output_file.h"
#include "output_names.h"
#include "progress.h"
#include "term_months.h"
#include "worker_pool.h"
#include "world_file.h"

#if NC_HAS_NC4
#include "netcdf_chunk_writer.h"
#endif

const bool NETCDF_AVAILABLE = true;

#if NC_HAS_NC4
const char* const NETCDF_FORMAT = "NetCDF-4, deflated";
#else
const char* const NETCDF_FORMAT = "the classic format with 64-bit offsets, uncompressed";
#endif

namespace {

// What a simulation writes for a cell without discharge; every negative
// value means that, and is kept as stored.
constexpr float NO_DISCHARGE = -999.0F;

#if NC_HAS_NC4
// NetCDF-4 (HDF5), deflated; quantized values after the shuffle filter,
// which puts the bytes of equal significance of neighbouring values
// together, so that their zeroed low bytes deflate as runs.
constexpr bool COMPRESSED = true;
#else
// A library without NetCDF-4 (the Windows builds): the classic format with
// 64-bit offsets, uncompressed. Time is its record dimension, so the file
// has no size limit but the disk's: a record, one day's grid, may take up to
// 4 GiB.
constexpr bool COMPRESSED = false;
#endif

// Whether values can be quantized to significant digits: netCDF-C (4.9 on)
// does it in NetCDF-4 files only.
#if NC_HAS_NC4 && defined(NC_HAS_QUANTIZE) && NC_HAS_QUANTIZE
constexpr bool QUANTIZES = true;
#else
constexpr bool QUANTIZES = false;
#endif

// Chunks of this many days of the grid, in tiles of about this many cells a
// side: a day's map reads the tiles of one time chunk, a cell's series one
// tile of every time chunk. Measured on a year of 1200 x 1000 cells (bench
// --part netcdf), each read from a cold cache: 4 days of 100 x 100 read a
// map in about 0.1 s and a series in 0.1 s, where the monthly files take
// 0.005 s and 0.7 s; 8 days read maps half as fast, 64-cell tiles series
// twice as fast but maps slower, and one-day chunks take 9 s for a series.
// The writer holds two time chunks of grids, far less than a month of them.
constexpr std::size_t CHUNK_DAYS = 4;
constexpr std::size_t CHUNK_SIDE = 100;
// Level 1: level 3 made the year's file 6% smaller and took 40% longer to
// write; without deflate it is as large as the months. Shuffled, two months
// of 1200 x 1000 took 1.6% more (118.0 MB, against 116.1 MB), but quantized
// to 3 digits 17% less (64.5 MB, against 77.7 MB), to 5 digits 4% less.
constexpr int DEFLATE_LEVEL = 1;

// A netCDF dataset, closed (and so written out) however the run ends, but
// once a write or the closing failed: the HDF5 library may then crash in
// whatever it is asked, and the file is left to the operating system to
// close, the process to end at once.
struct Dataset {
    int id = -1;
    bool broken = false;
    ~Dataset() {
        if (id >= 0 && !broken) {
            nc_close(id);
        }
    }
};

// Takes a netCDF status: false, with `reason` set, for an error.
bool ok(int status, std::string& reason) {
    if (status != NC_NOERR) {
        reason = nc_strerror(status);
        return false;
    }
    return true;
}

bool put_text(int id, int variable, const char* name, const std::string& text,
              std::string& reason) {
    return ok(nc_put_att_text(id, variable, name, text.size(), text.c_str()), reason);
}

// The days a month contributes: its own, and the 29th of a leap February
// where asked for.
std::int32_t days_taken(YearMonth month, bool leap_day) {
    return days_in_month(month.month) + (leap_day && month.month == 2 && is_leap_year(month.year));
}

std::string first_day(YearMonth month) {
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-01 00:00:00", static_cast<int>(month.year),
                  static_cast<int>(month.month));
    return text;
}

std::string utc_now() {
    const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm utc{};
#ifdef _WIN32
    gmtime_s(&utc, &now);
#else
    gmtime_r(&now, &utc);
#endif
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

// The side of the tiles along a grid side of `cells`: at most `most`, and
// all about equal, so that no tile is a sliver.
std::size_t tile_side(std::size_t cells, std::size_t most) {
    const std::size_t tiles = (cells + most - 1) / most;
    return (cells + tiles - 1) / tiles;
}

// The dimensions and variables of the file.
struct Layout {
    int time_dim = -1;
    int y_dim = -1;  // "lat" where the cells are placed, else "y"
    int x_dim = -1;  // "lon" where the cells are placed, else "x"
    int bounds_dim = -1;
    int time = -1;
    int time_bounds = -1;
    int y = -1;  // the row numbers, where the cells are not placed
    int x = -1;  // the column numbers, likewise
    int lat = -1;
    int lon = -1;
    int lat_bounds = -1;
    int lon_bounds = -1;
    int crs = -1;
    int discharge = -1;
};

bool put_double(int id, int variable, const char* name, double value, std::string& reason) {
    return ok(nc_put_att_double(id, variable, name, NC_DOUBLE, 1, &value), reason);
}

// The bounds of the coordinate of `dim`: two values each.
bool define_bounds(int id, int dim, const char* name, const Layout& layout, int& variable,
                   std::string& reason) {
    const int dims[] = {dim, layout.bounds_dim};
    return ok(nc_def_var(id, name, NC_DOUBLE, 2, dims, &variable), reason);
}

// The dimensions, and the variables of time (each day's value its middle,
// its bounds the day's two midnights, as the values are daily means). Time
// is the record (unlimited) dimension in either format, so that the files
// of consecutive terms join into one (ncrcat, cdo mergetime).
bool define_time(int id, const TermSelection& selection, const NetcdfRequest& request,
                 Layout& layout, std::string& reason) {
    const RunParameters& grid = selection.parameters;
    const bool located = request.cell_size.has_value();
    // Every value is written, so nothing is filled first.
    return ok(nc_set_fill(id, NC_NOFILL, nullptr), reason) &&
           ok(nc_def_dim(id, "time", NC_UNLIMITED, &layout.time_dim), reason) &&
           ok(nc_def_dim(id, located ? "lat" : "y", static_cast<std::size_t>(grid.nrows),
                         &layout.y_dim),
              reason) &&
           ok(nc_def_dim(id, located ? "lon" : "x", static_cast<std::size_t>(grid.ncols),
                         &layout.x_dim),
              reason) &&
           ok(nc_def_dim(id, "bnds", 2, &layout.bounds_dim), reason) &&
           ok(nc_def_var(id, "time", NC_DOUBLE, 1, &layout.time_dim, &layout.time), reason) &&
           put_text(id, layout.time, "standard_name", "time", reason) &&
           put_text(id, layout.time, "long_name", "time", reason) &&
           put_text(id, layout.time, "units", "days since " + first_day(selection.months.front()),
                    reason) &&
           put_text(id, layout.time, "calendar", request.leap_day ? "standard" : "365_day",
                    reason) &&
           put_text(id, layout.time, "axis", "T", reason) &&
           put_text(id, layout.time, "bounds", "time_bnds", reason) &&
           define_bounds(id, layout.time_dim, "time_bnds", layout, layout.time_bounds, reason);
}

// The coordinates of a grid whose cells are not placed: the column and row
// numbers. (Placed, the cells' latitudes and longitudes are the
// coordinates; a column's number is its index from 1, as the docs say:
// numbers beside them would be data to CDO, which sums every variable.)
bool define_numbers(int id, Layout& layout, std::string& reason) {
    return ok(nc_def_var(id, "y", NC_INT, 1, &layout.y_dim, &layout.y), reason) &&
           put_text(id, layout.y, "long_name", "row number, 1 in the south", reason) &&
           put_text(id, layout.y, "units", "1", reason) &&
           put_text(id, layout.y, "axis", "Y", reason) &&
           ok(nc_def_var(id, "x", NC_INT, 1, &layout.x_dim, &layout.x), reason) &&
           put_text(id, layout.x, "long_name", "column number, 1 in the west", reason) &&
           put_text(id, layout.x, "units", "1", reason) &&
           put_text(id, layout.x, "axis", "X", reason);
}

// One of the latitude and longitude coordinates of the cell centres, with
// its bounds, the cells' edges.
bool define_degrees(int id, int dim, const char* name, const char* bounds, const char* standard,
                    const char* units, const char* axis, const Layout& layout, int& variable,
                    int& bounds_variable, std::string& reason) {
    return ok(nc_def_var(id, name, NC_DOUBLE, 1, &dim, &variable), reason) &&
           put_text(id, variable, "standard_name", standard, reason) &&
           put_text(id, variable, "long_name", std::string(standard) + " of the cell centre",
                    reason) &&
           put_text(id, variable, "units", units, reason) &&
           put_text(id, variable, "axis", axis, reason) &&
           put_text(id, variable, "bounds", bounds, reason) &&
           define_bounds(id, dim, bounds, layout, bounds_variable, reason);
}

// The cells placed on the globe: latitudes and longitudes with their bounds,
// and the grid mapping of WGS 84, as CF gives it and GDAL reads it.
bool define_location(int id, Layout& layout, std::string& reason) {
    return define_degrees(id, layout.y_dim, "lat", "lat_bnds", "latitude", "degrees_north", "Y",
                          layout, layout.lat, layout.lat_bounds, reason) &&
           define_degrees(id, layout.x_dim, "lon", "lon_bnds", "longitude", "degrees_east", "X",
                          layout, layout.lon, layout.lon_bounds, reason) &&
           ok(nc_def_var(id, "crs", NC_INT, 0, nullptr, &layout.crs), reason) &&
           put_text(id, layout.crs, "grid_mapping_name", "latitude_longitude", reason) &&
           put_double(id, layout.crs, "semi_major_axis", 6378137.0, reason) &&
           put_double(id, layout.crs, "inverse_flattening", 298.257223563, reason) &&
           put_double(id, layout.crs, "longitude_of_prime_meridian", 0.0, reason) &&
           put_text(id, layout.crs, "crs_wkt", WGS84_WKT, reason) &&
           put_text(id, layout.crs, "spatial_ref", WGS84_WKT, reason);
}

// The discharge, its attributes and, in NetCDF-4, its chunks and deflate.
bool define_discharge(int id, const RunParameters& grid, const NetcdfRequest& request,
                      std::size_t days, Layout& layout, std::string& reason) {
    const int dims[] = {layout.time_dim, layout.y_dim, layout.x_dim};
    const float fill = NO_DISCHARGE;
    const float valid_min = 0.0F;
    if (!ok(nc_def_var(id, "discharge", NC_FLOAT, 3, dims, &layout.discharge), reason)) {
        return false;
    }
    const int variable = layout.discharge;
    if (!ok(nc_put_att_float(id, variable, "_FillValue", NC_FLOAT, 1, &fill), reason) ||
        !put_text(id, variable, "standard_name", "water_volume_transport_in_river_channel",
                  reason) ||
        !put_text(id, variable, "long_name", "daily discharge", reason) ||
        !put_text(id, variable, "units", request.units, reason) ||
        !put_text(id, variable, "cell_methods", "time: mean", reason) ||
        !ok(nc_put_att_float(id, variable, "valid_min", NC_FLOAT, 1, &valid_min), reason) ||
        !put_text(id, variable, "comment",
                  "Negative values mean no discharge; they are kept as stored.", reason) ||
        (request.cell_size && !put_text(id, variable, "grid_mapping", "crs", reason))) {
        return false;
    }
    if (!COMPRESSED) {
        return true;
    }
    const std::size_t chunks[] = {std::min(CHUNK_DAYS, days),
                                  tile_side(static_cast<std::size_t>(grid.nrows), CHUNK_SIDE),
                                  tile_side(static_cast<std::size_t>(grid.ncols), CHUNK_SIDE)};
    // Whole chunks are written at once, so no chunk needs to wait in a
    // cache: one chunk's room is left for what reading back may want.
    const std::size_t cache = chunks[0] * chunks[1] * chunks[2] * sizeof(float);
    // Granular BitRound keeps the bits that the digits asked for need, value
    // by value, and zeroes the rest, which deflate then takes away: of the
    // library's methods the one that keeps decimal digits with the fewest
    // bits (BitRound counts bits, BitGroom keeps more than it needs).
    // Values equal to _FillValue are kept as they are.
#if NC_HAS_NC4 && defined(NC_HAS_QUANTIZE) && NC_HAS_QUANTIZE
    if (request.significant_digits &&
        !ok(nc_def_var_quantize(id, variable, NC_QUANTIZE_GRANULARBR, *request.significant_digits),
            reason)) {
        return false;
    }
#endif
    return ok(nc_def_var_chunking(id, variable, NC_CHUNKED, chunks), reason) &&
           ok(nc_def_var_deflate(id, variable, request.significant_digits ? 1 : 0, 1,
                                 DEFLATE_LEVEL),
              reason) &&
           ok(nc_set_var_chunk_cache(id, variable, cache, 1009, 1.0F), reason);
}

// The global attributes.
bool define_globals(int id, const NetcdfRequest& request, std::string& reason) {
    // The title names no months: the files of consecutive parts of a term
    // join (ncrcat) into the whole term's, attributes and all;
    // the months are in the time axis.
    return put_text(id, NC_GLOBAL, "Conventions", "CF-1.8", reason) &&
           put_text(id, NC_GLOBAL, "title", "Daily discharge of a gridded runoff simulation",
                    reason) &&
           put_text(id, NC_GLOBAL, "source",
                    "discharge_term " DISCHARGE_VERSION
                    ", from the simulation's monthly files YYYYMM_dailyDischarge.bin and "
                    "../param.dat",
                    reason) &&
           put_text(id, NC_GLOBAL, "history", utc_now() + ": " + request.command_line, reason);
}

// Writes the days, the middle of each, and their bounds.
bool write_times(int id, std::size_t days, const Layout& layout, std::string& reason) {
    std::vector<double> times(days);
    std::vector<double> bounds(2 * days);
    for (std::size_t day = 0; day < days; ++day) {
        times[day] = static_cast<double>(day) + 0.5;
        bounds[2 * day] = static_cast<double>(day);
        bounds[2 * day + 1] = static_cast<double>(day + 1);
    }
    // By start and count: in the classic format time is the record
    // dimension, which has no records yet, so that writing the whole
    // variable would write none.
    const std::size_t start[] = {0, 0};
    const std::size_t count[] = {days, 2};
    return ok(nc_put_vara_double(id, layout.time, start, count, times.data()), reason) &&
           ok(nc_put_vara_double(id, layout.time_bounds, start, count, bounds.data()), reason);
}

// Writes a side's cell centres from `first_edge`, `size` apart, and their
// edges as bounds.
bool write_degrees(int id, int variable, int bounds_variable, double first_edge, double size,
                   std::size_t cells, std::string& reason) {
    std::vector<double> centres(cells);
    std::vector<double> edges(2 * cells);
    for (std::size_t i = 0; i < cells; ++i) {
        centres[i] = first_edge + (static_cast<double>(i) + 0.5) * size;
        edges[2 * i] = first_edge + static_cast<double>(i) * size;
        edges[2 * i + 1] = first_edge + static_cast<double>(i + 1) * size;
    }
    return ok(nc_put_var_double(id, variable, centres.data()), reason) &&
           ok(nc_put_var_double(id, bounds_variable, edges.data()), reason);
}

// Writes the coordinates: the days, and the cells' latitudes and longitudes
// or, where they are not placed, their row and column numbers.
bool write_coordinates(int id, const TermSelection& selection, const NetcdfRequest& request,
                       std::size_t days, const Layout& layout, std::string& reason) {
    const RunParameters& grid = selection.parameters;
    const std::size_t ncols = static_cast<std::size_t>(grid.ncols);
    const std::size_t nrows = static_cast<std::size_t>(grid.nrows);
    if (!write_times(id, days, layout, reason)) {
        return false;
    }
    if (request.cell_size) {
        // The grid mapping's value means nothing, but is written: nothing
        // is filled, and an unwritten value would be whatever the disk held.
        const int mapping = 0;
        const double size = *request.cell_size;
        return ok(nc_put_var_int(id, layout.crs, &mapping), reason) &&
               write_degrees(id, layout.lat, layout.lat_bounds, grid.southwest_latitude, size,
                             nrows, reason) &&
               write_degrees(id, layout.lon, layout.lon_bounds, grid.southwest_longitude, size,
                             ncols, reason);
    }
    std::vector<int> numbers(std::max(ncols, nrows));
    for (std::size_t i = 0; i < numbers.size(); ++i) {
        numbers[i] = static_cast<int>(i + 1);
    }
    return ok(nc_put_var_int(id, layout.y, numbers.data()), reason) &&
           ok(nc_put_var_int(id, layout.x, numbers.data()), reason);
}

// Defines the dimensions, variables and attributes and writes the
// coordinates.
bool define(int id, const TermSelection& selection, const NetcdfRequest& request, std::size_t days,
            Layout& layout, std::string& reason) {
    return define_time(id, selection, request, layout, reason) &&
           (request.cell_size ? define_location(id, layout, reason)
                              : define_numbers(id, layout, reason)) &&
           define_discharge(id, selection.parameters, request, days, layout, reason) &&
           define_globals(id, request, reason) && ok(nc_enddef(id), reason) &&
           write_coordinates(id, selection, request, days, layout, reason);
}

// Where the days read go. In NetCDF-4 the chunk writer's time chunks,
// whose chunks its workers compress; in the classic format the library's
// writes, a day at a time.
struct DaySink {
    std::span<float> days;   // where the next days are read, whole grids
    std::size_t chunk_days;  // how many are gathered before they are written
#if NC_HAS_NC4
    ChunkWriter chunks;
#else
    std::vector<float> values;
    int id = -1;
    const Layout* layout = nullptr;
    std::size_t rows = 0;
    std::size_t cols = 0;
#endif
};

// Makes `sink.days` the room for the next days.
bool next_days(DaySink& sink, std::string& reason) {
#if NC_HAS_NC4
    return next_chunk_days(sink.chunks, sink.days, reason);
#else
    (void)reason;
    sink.days = sink.values;
    return true;
#endif
}

// Writes the `held` days read into `sink.days`, which begin with day
// `first`.
bool write_days(DaySink& sink, std::size_t first, std::size_t held, std::string& reason) {
#if NC_HAS_NC4
    return hand_over_days(sink.chunks, first, held, reason);
#else
    const std::size_t start[] = {first, 0, 0};
    const std::size_t count[] = {held, sink.rows, sink.cols};
    errno = 0;
    if (!ok(nc_put_vara_float(sink.id, sink.layout->discharge, start, count, sink.values.data()),
            reason)) {
        system_write_reason(reason);
        return false;
    }
    return true;
#endif
}

// Creates the dataset in the output's temporary file.
bool create_dataset(const OutputFile& file, Dataset& dataset, std::string& reason) {
    int mode = NC_CLOBBER;
#if NC_HAS_NC4
    mode |= NC_NETCDF4;
    // The library writes the file by its name, under which this program
    // holds it locked against other runs' cleanup; HDF5's own lock would
    // take that for another writer.
#ifdef _WIN32
    _putenv_s("HDF5_USE_FILE_LOCKING", "FALSE");
#else
    setenv("HDF5_USE_FILE_LOCKING", "FALSE", 1);
#endif
#else
    mode |= NC_64BIT_OFFSET;
#endif
    return ok(nc_create(file.temporary_path.c_str(), mode, &dataset.id), reason);
}

// Whether every month can be read whole, each that cannot named on `errors`.
bool every_month_readable(const TermSelection& selection, bool leap_day, std::ostream& errors) {
    const RunParameters& grid = selection.parameters;
    bool whole = true;
    for (const YearMonth month : selection.months) {
        DischargeFile data;
        std::string reason;
        bool readable = open_term_month(data, selection, month, reason);
        const std::int32_t days = days_taken(month, leap_day);
        const std::uint64_t needed = static_cast<std::uint64_t>(days) *
                                     static_cast<std::uint64_t>(grid.ncols) *
                                     static_cast<std::uint64_t>(grid.nrows) * DISCHARGE_VALUE_BYTES;
        if (readable && data.seekable && days == 29 && data.size_bytes != needed) {
            readable = false;
            reason = std::to_string(data.size_bytes) +
                     " bytes, where --leap-day reads 29 grids of " + std::to_string(grid.ncols) +
                     " x " + std::to_string(grid.nrows) + " cells, " + std::to_string(needed) +
                     " bytes";
        }
        if (!readable) {
            errors << failure_text(month_unreadable(month, reason)) << std::endl;
            whole = false;
        }
    }
    return whole;
}

// How writing the file ended.
struct Writing {
    bool written = false;       // the file is complete and closed
    bool month_failed = false;  // a month could not be read whole
    bool broken = false;        // a write or the closing failed: end at once
    std::string reason;
};

// Whether the libraries are not to be called again after a failure: in
// NetCDF-4 once HDF5 failed to write (not for want of memory), in the
// classic format once the library did.
bool sink_broken(const DaySink& sink) {
#if NC_HAS_NC4
    return chunk_writer_broken(sink.chunks);
#else
    (void)sink;
    return true;
#endif
}

// Reads the days of `month` into the sink's room and writes them as a time
// chunk is full (`held` days gathered of it, `day` days read in all). False
// once the month could not be read or a write failed, with `writing`
// telling.
bool write_month(const TermSelection& selection, YearMonth month, const NetcdfRequest& request,
                 DaySink& sink, std::size_t& held, std::size_t& day, std::size_t days,
                 Progress& progress, Writing& writing) {
    const RunParameters& grid = selection.parameters;
    const std::size_t cells =
        static_cast<std::size_t>(grid.ncols) * static_cast<std::size_t>(grid.nrows);
    DischargeFile data;
    // A month that changed since it was checked fails here.
    if (!open_term_month(data, selection, month, writing.reason)) {
        writing.month_failed = true;
        return false;
    }
    for (std::int32_t d = 0; d < days_taken(month, request.leap_day); ++d) {
        if (held == 0 && !next_days(sink, writing.reason)) {
            writing.broken = sink_broken(sink);
            return false;
        }
        if (read_discharge_values(data, sink.days.subspan(held * cells, cells)) != cells) {
            writing.month_failed = true;
            writing.reason = "it ended before the month did";
            return false;
        }
        ++held;
        ++day;
        if (held == sink.chunk_days || day == days) {
            if (!write_days(sink, day - held, held, writing.reason)) {
                writing.broken = sink_broken(sink);
                return false;
            }
            held = 0;
        }
        note_image(progress);
    }
    return true;
}

// Closes the dataset, which writes it out.
bool close_dataset(Dataset& dataset, Writing& writing) {
    errno = 0;
    const int closed = nc_close(dataset.id);
    dataset.id = -1;
    if (!ok(closed, writing.reason)) {
        system_write_reason(writing.reason);
        writing.broken = true;
        return false;
    }
    return true;
}

// Readies the sink of the defined dataset. NetCDF-4: the dataset closed, its
// discharge unwritten, and opened again by the chunk writer, with a worker
// per job. False, with `writing` telling, where that failed.
bool open_sink(DaySink& sink, Dataset& dataset, const Layout& layout, const OutputFile& file,
               const NetcdfRequest& request, const RunParameters& grid, std::size_t days,
               Writing& writing) {
    const std::size_t rows = static_cast<std::size_t>(grid.nrows);
    const std::size_t cols = static_cast<std::size_t>(grid.ncols);
#if NC_HAS_NC4
    (void)layout;
    if (!close_dataset(dataset, writing)) {
        return false;
    }
    if (!open_chunk_writer(sink.chunks,
                           {.path = file.temporary_path,
                            .variable = "discharge",
                            .rows = rows,
                            .cols = cols,
                            .days = days,
                            .fill = NO_DISCHARGE,
                            .digits = request.significant_digits,
                            .jobs = job_count(request.jobs)},
                           writing.reason)) {
        return false;
    }
    sink.chunk_days = chunk_writer_days(sink.chunks);
#else
    (void)file;
    (void)request;
    (void)days;
    (void)writing;
    sink.values.resize(rows * cols);
    sink.id = dataset.id;
    sink.layout = &layout;
    sink.rows = rows;
    sink.cols = cols;
    sink.chunk_days = 1;
#endif
    return true;
}

// Writes what is left and closes the file.
bool close_sink(DaySink& sink, Dataset& dataset, Writing& writing) {
#if NC_HAS_NC4
    (void)dataset;
    if (!close_chunk_writer(sink.chunks, writing.reason)) {
        writing.broken = sink_broken(sink);
        return false;
    }
    return true;
#else
    (void)sink;
    return close_dataset(dataset, writing);
#endif
}

// Writes the dataset into the output's temporary file, month after month, a
// line each in the progress.
Writing write_dataset(const TermSelection& selection, const NetcdfRequest& request,
                      std::size_t days, const OutputFile& file, const std::string& output,
                      Progress& progress) {
    Writing writing;
    Dataset dataset;
    Layout layout;
    errno = 0;
    if (!create_dataset(file, dataset, writing.reason) ||
        !define(dataset.id, selection, request, days, layout, writing.reason)) {
        // Defining writes the file's header and coordinates: where the
        // system refused a write, the library is as after any failed write.
        dataset.broken = writing.broken = system_write_reason(writing.reason);
        return writing;
    }
    DaySink sink;
    if (!open_sink(sink, dataset, layout, file, request, selection.parameters, days, writing)) {
        dataset.broken = writing.broken;
        return writing;
    }
    std::size_t day = 0;
    std::size_t held = 0;
    for (const YearMonth month : selection.months) {
        const bool month_written =
            write_month(selection, month, request, sink, held, day, days, progress, writing);
        note_month(progress, month_label(month), month_written ? MonthEnd::drawn : MonthEnd::failed,
                   month_written          ? "written"
                   : writing.month_failed ? failure_text(month_unreadable(month, writing.reason))
                                          : output + ": " + writing.reason);
        if (!month_written) {
            dataset.broken = writing.broken;
            return writing;
        }
    }
    writing.written = close_sink(sink, dataset, writing);
    return writing;
}

// The days of the selection in the file.
std::size_t days_of(const TermSelection& selection, bool leap_day) {
    std::size_t days = 0;
    for (const YearMonth month : selection.months) {
        days += static_cast<std::size_t>(days_taken(month, leap_day));
    }
    return days;
}

// Writes the file of the checked selection; the run's end.
NetcdfEnd write_netcdf(const TermSelection& selection, const NetcdfRequest& request,
                       const std::string& output, std::ostream& errors, int terminal_width) {
    const std::size_t days = days_of(selection, request.leap_day);
    remove_output_leftovers(output);
    OutputFile file;
    if (!create_library_output_file(file, output)) {
        errors << failure_text({output, "NetCDF output file cannot open.", file.reason})
               << std::endl;
        return {1, false};
    }
    const RunParameters& grid = selection.parameters;
    Progress progress;
    start_progress(progress, errors, terminal_width, selection.months,
                   {.items = "days",
                    .total = static_cast<std::int64_t>(days),
                    .each = static_cast<std::uint64_t>(grid.ncols) *
                            static_cast<std::uint64_t>(grid.nrows) * sizeof(float)});
    const Writing writing = write_dataset(selection, request, days, file, output, progress);
    const double seconds = end_progress(progress);
    if (writing.month_failed) {
        discard_output_file(file);
        errors << "No NetCDF file written: every month of the selection is needed." << std::endl;
        return {1, writing.broken};
    }
    if (!writing.written || !commit_output_file(file)) {
        errors << failure_text({output, "NetCDF output file cannot write.",
                                writing.written ? file.reason : writing.reason})
               << std::endl;
        return {1, writing.broken};
    }
    const std::size_t months = selection.months.size();
    errors << output << ": " << months << (months == 1 ? " month, " : " months, ") << days
           << " days, written in " << duration_text(seconds) << std::endl;
    return {0, false};
}

}  // namespace

NetcdfEnd run_term_netcdf(const std::string& from, const std::string& to,
                          const NetcdfRequest& request, std::ostream& errors, int terminal_width) {
    int status = 0;
    const std::optional<TermSelection> selection = select_term(from, to, errors, status);
    if (!selection) {
        return {status, false};
    }
    if (request.cell_size &&
        !cells_on_the_globe(selection->parameters, *request.cell_size, errors)) {
        return {2, false};
    }
    if (request.significant_digits && !QUANTIZES) {
        errors << "discharge_term: --significant-digits needs NetCDF-4, which this build does not "
                  "write (it writes "
               << NETCDF_FORMAT << ")." << std::endl;
        return {2, false};
    }
    const std::string output = request.output.empty() ? netcdf_file_name(selection->months.front(),
                                                                         selection->months.back())
                                                      : request.output;
    if (names_an_input(output, *selection, "NetCDF file", errors)) {
        return {2, false};
    }
    if (!every_month_readable(*selection, request.leap_day, errors)) {
        errors << "No NetCDF file written: every month of the selection is needed." << std::endl;
        return {1, false};
    }
    return write_netcdf(*selection, request, output, errors, terminal_width);
}
