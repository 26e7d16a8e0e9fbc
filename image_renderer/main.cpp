// discharge_image: draws every day of a month of simulated discharge as a
// colour image in ./image/. Started in the simulation's output directory.
#include <iostream>

#include "failure.h"
#include "image_driver.h"
#include "output_file.h"

int main() {
    install_interruption_cleanup();
    return run_reporting_memory(std::cout, "Not enough memory to draw the images.",
                                [] { return run_discharge_image(std::cin, std::cout); });
}
