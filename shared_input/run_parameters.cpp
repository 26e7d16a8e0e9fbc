// Reading and echoing the run parameter file of the runoff simulation.
#include "run_input.h"

#include <filesystem>
#include <fstream>
#include <istream>
#include <ostream>

namespace {

std::optional<RunParameters> report(std::ostream& console, const char* message) {
    console << message << std::endl;
    return std::nullopt;
}

std::optional<RunParameters> malformed(std::ostream& console) {
    return report(console, "param.dat is incomplete or malformed.");
}

}  // namespace

std::optional<RunParameters> read_run_parameters(std::ostream& console) {
    console << "Reading parameters for runoff simulation." << std::endl;
    // A directory opens as a stream on some systems but has nothing to read.
    std::error_code error;
    std::ifstream file;
    if (!std::filesystem::is_directory(RUN_PARAMETER_PATH, error)) {
        file.open(RUN_PARAMETER_PATH);
    }
    if (!file.is_open()) {
        return report(console, "param.dat cannot open.");
    }
    return parse_run_parameters(file, console);
}

// Each step echoes its values only once all of them were read, so a file that
// stops early shows exactly the steps it completed.
std::optional<RunParameters> parse_run_parameters(std::istream& file, std::ostream& console) {
    RunParameters p;

    // Simulation grid.
    if (!(file >> p.topography_scale)) {
        return malformed(console);
    }
    console << "  Topography scale : " << p.topography_scale << std::endl;
    if (!(file >> p.ncols >> p.nrows)) {
        return malformed(console);
    }
    console << "  Number of col : " << p.ncols << "  Number of row : " << p.nrows << std::endl;
    if (!(file >> p.southwest_longitude >> p.southwest_latitude)) {
        return malformed(console);
    }
    console << " Sorth West corner Longitude (degree) : " << p.southwest_longitude
            << " Latitude (deg) : " << p.southwest_latitude << std::endl;

    // Input data grid.
    console << "2) Reading parameters for input data." << std::endl;
    if (!(file >> p.input_ncols >> p.input_nrows)) {
        return malformed(console);
    }
    console << "  Number of col : " << p.input_ncols << "  Number of row : " << p.input_nrows
            << std::endl;
    if (!(file >> p.origin_column >> p.origin_row)) {
        return malformed(console);
    }
    console << "  Origin column number : " << p.origin_column << " row number : " << p.origin_row
            << std::endl;
    if (!(file >> p.input_southwest_longitude)) {
        return malformed(console);
    }
    console << "  The longitude of the center of input grid at the southwest corner : "
            << p.input_southwest_longitude << std::endl;
    if (!(file >> p.input_southwest_latitude)) {
        return malformed(console);
    }
    console << "  The latitude of the center of input grid at the southwest corner : "
            << p.input_southwest_latitude << std::endl;
    if (!(file >> p.input_interval)) {
        return malformed(console);
    }
    console << "  time interval of input data [sec] : " << p.input_interval << std::endl;

    // Simulation term: the file gives both years before both months, the echo
    // pairs each year with its month.
    console << "3) Reading parameters for simuration term." << std::endl;
    if (!(file >> p.start_year >> p.end_year >> p.start_month >> p.end_month)) {
        return malformed(console);
    }
    console << "  Start year : " << p.start_year << "  Start month : " << p.start_month
            << std::endl;
    console << "  End year : " << p.end_year << "  End month : " << p.end_month << std::endl;

    if (p.end_year < p.start_year) {
        return report(console, "Simulation year setting is wrong");
    }
    if (p.ncols < 1 || p.nrows < 1) {
        return report(console, "Grid size setting is wrong");
    }
    return p;
}
