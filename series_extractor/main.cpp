// discharge_series: writes one grid cell's daily discharge of a month as a
// text time series. Started in the simulation's output directory.
#include <iostream>

#include "output_file.h"
#include "series_driver.h"

int main() {
    install_interruption_cleanup();
    return run_discharge_series(std::cin, std::cout);
}
