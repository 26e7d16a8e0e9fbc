// discharge_image: draws every day of a month of simulated discharge as a
// colour image in ./image/. Started in the simulation's output directory.
#include <iostream>

#include "image_driver.h"

int main() {
    return run_discharge_image(std::cin, std::cout);
}
