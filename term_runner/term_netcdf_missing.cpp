// The netcdf subcommand of a build without the netCDF C library.
#include <ostream>

#include "term_netcdf.h"

const bool NETCDF_AVAILABLE = false;
const char* const NETCDF_FORMAT = "no NetCDF";

NetcdfEnd run_term_netcdf(const std::string&, const std::string&, const NetcdfRequest&,
                          std::ostream& errors, int) {
    errors << "discharge_term: this build has no NetCDF support: it was built without the "
              "netCDF C library."
           << std::endl;
    return {2, false};
}
