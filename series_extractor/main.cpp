// discharge_series: writes one grid cell's daily discharge of a month as a
// text time series. Started in the simulation's output directory.
#include <iostream>

#include "failure.h"
#include "output_file.h"
#include "series_driver.h"

int main() {
    install_interruption_cleanup();
    return run_reporting_memory(std::cout, "Not enough memory.",
                                [] { return run_discharge_series(std::cin, std::cout); });
}
