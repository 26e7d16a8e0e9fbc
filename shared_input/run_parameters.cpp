// Reading and echoing the run parameter file of the runoff simulation. The
// echo keeps the texts users have always seen, misspellings included ("Sorth",
// "simuration"): their scripts match on them.
#include "run_input.h"

#include <filesystem>
#include <fstream>
#include <istream>
#include <ostream>

#include "failure.h"

namespace {

// Reads the next values of the file into `fields`, in order. False if any is
// missing or not a number of its type.
template <typename... Fields>
bool read_values(std::istream& file, Fields&... fields) {
    return static_cast<bool>((file >> ... >> fields));
}

// Each step below echoes its values only once all of them were read, so a
// file that stops early shows exactly the steps it completed.

bool read_simulation_grid(std::istream& file, std::ostream& console, RunParameters& p) {
    if (!read_values(file, p.topography_scale)) {
        return false;
    }
    console << "  Topography scale : " << p.topography_scale << std::endl;
    if (!read_values(file, p.ncols, p.nrows)) {
        return false;
    }
    console << "  Number of col : " << p.ncols << "  Number of row : " << p.nrows << std::endl;
    if (!read_values(file, p.southwest_longitude, p.southwest_latitude)) {
        return false;
    }
    console << " Sorth West corner Longitude (degree) : " << p.southwest_longitude
            << " Latitude (deg) : " << p.southwest_latitude << std::endl;
    return true;
}

bool read_input_grid(std::istream& file, std::ostream& console, RunParameters& p) {
    console << "2) Reading parameters for input data." << std::endl;
    if (!read_values(file, p.input_ncols, p.input_nrows)) {
        return false;
    }
    console << "  Number of col : " << p.input_ncols << "  Number of row : " << p.input_nrows
            << std::endl;
    if (!read_values(file, p.origin_column, p.origin_row)) {
        return false;
    }
    console << "  Origin column number : " << p.origin_column << " row number : " << p.origin_row
            << std::endl;
    if (!read_values(file, p.input_southwest_longitude)) {
        return false;
    }
    console << "  The longitude of the center of input grid at the southwest corner : "
            << p.input_southwest_longitude << std::endl;
    if (!read_values(file, p.input_southwest_latitude)) {
        return false;
    }
    console << "  The latitude of the center of input grid at the southwest corner : "
            << p.input_southwest_latitude << std::endl;
    if (!read_values(file, p.input_interval)) {
        return false;
    }
    console << "  time interval of input data [sec] : " << p.input_interval << std::endl;
    return true;
}

// The file gives both years before both months; the echo pairs each year
// with its month.
bool read_simulation_term(std::istream& file, std::ostream& console, RunParameters& p) {
    console << "3) Reading parameters for simuration term." << std::endl;
    if (!read_values(file, p.start_year, p.end_year, p.start_month, p.end_month)) {
        return false;
    }
    console << "  Start year : " << p.start_year << "  Start month : " << p.start_month
            << std::endl;
    console << "  End year : " << p.end_year << "  End month : " << p.end_month << std::endl;
    return true;
}

// The values of `file`, their echo to `console` and a failure's message to
// `failures`.
std::optional<RunParameters> parse_parameters(std::istream& file, std::ostream& console,
                                              std::ostream& failures) {
    RunParameters p;
    const char* failure = nullptr;
    if (!read_simulation_grid(file, console, p) || !read_input_grid(file, console, p) ||
        !read_simulation_term(file, console, p)) {
        failure = "param.dat is incomplete or malformed.";
    } else if (p.end_year < p.start_year) {
        failure = "Simulation year setting is wrong";
    } else if (p.ncols < 1 || p.nrows < 1) {
        failure = "Grid size setting is wrong";
    }
    if (failure != nullptr) {
        print_failure(failures, failure);
        return std::nullopt;
    }
    return p;
}

}  // namespace

std::optional<RunParameters> read_run_parameters(std::ostream& console) {
    return read_run_parameters(console, console);
}

std::optional<RunParameters> read_run_parameters(std::ostream& echo, std::ostream& failures) {
    echo << "Reading parameters for runoff simulation." << std::endl;
    // A directory opens as a stream on some systems but has nothing to read.
    std::error_code error;
    std::ifstream file;
    if (!std::filesystem::is_directory(RUN_PARAMETER_PATH, error)) {
        file.open(RUN_PARAMETER_PATH);
    }
    if (!file.is_open()) {
        print_failure(failures, "param.dat cannot open.");
        return std::nullopt;
    }
    return parse_parameters(file, echo, failures);
}

std::optional<RunParameters> parse_run_parameters(std::istream& file, std::ostream& console) {
    return parse_parameters(file, console, console);
}
