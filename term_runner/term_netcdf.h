// The term as one NetCDF file, in the field's own conventions (CF 1.8):
// discharge(time, y, x) holding every stored value exactly, with the time
// axis (each day's middle, bounded by its midnights) and the grid's column
// and row numbers or, given the cell size, discharge(time, lat, lon) on the
// latitudes and longitudes of the cell centres with their bounds and the
// grid mapping of WGS 84, so that xarray, CDO, NCO, ncview, Panoply, QGIS
// and GDAL read and place it as it is.
#ifndef DISCHARGE_TERM_RUNNER_TERM_NETCDF_H
#define DISCHARGE_TERM_RUNNER_TERM_NETCDF_H

#include <iosfwd>
#include <optional>
#include <string>

// Whether this build writes NetCDF: the netCDF C library is not available
// for every target.
extern const bool NETCDF_AVAILABLE;

// The kind of file this build writes, in words for --help.
extern const char* const NETCDF_FORMAT;

// What `netcdf` was asked to do.
struct NetcdfRequest {
    bool leap_day = false;            // the standard calendar, 29 February read from the files
    std::string units = "m3 s-1";     // of the discharge
    std::optional<double> cell_size;  // degrees: the cells placed on WGS 84 latitudes, longitudes
    // Significant decimal digits kept of each value (granular BitRound), for
    // a file that deflates far better; all the float's bits where none.
    std::optional<int> significant_digits;
    unsigned jobs = 0;  // threads that compress the chunks; 0 for one per processor
    std::string output;        // the file; empty for ./YYYYMM-YYYYMM_discharge.nc
    std::string command_line;  // for the file's history
};

// How a netcdf run ended: its exit status, and whether the process must end
// at once, without exit handlers (std::_Exit). After a failed write the
// HDF5 library may hold a file it cannot close, and crashes in whatever it
// is asked next, its own cleanup at exit too.
struct NetcdfEnd {
    int status = 0;
    bool end_at_once = false;
};

// Writes the selection into one NetCDF file, whole or not at all, with
// progress on `errors` as `images` gives it. The status: 0, 1 once a month
// or the file failed (each named; then no file is written), 2 for options
// that do not fit param.dat or a build without NetCDF.
NetcdfEnd run_term_netcdf(const std::string& from, const std::string& to,
                          const NetcdfRequest& request, std::ostream& errors, int terminal_width);

#endif  // DISCHARGE_TERM_RUNNER_TERM_NETCDF_H
