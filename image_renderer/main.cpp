// discharge_image: draws every day of a month of simulated discharge as a
// colour image in ./image/. Started in the simulation's output directory.
#include <iostream>

#include "image_driver.h"
#include "output_file.h"

int main() {
    install_interruption_cleanup();
    return run_discharge_image(std::cin, std::cout);
}
