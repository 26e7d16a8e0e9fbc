// The discharge_image program: asks for a month and an optional value range
// and draws every day of the month as a colour image in ./image/.
#ifndef DISCHARGE_IMAGE_RENDERER_IMAGE_DRIVER_H
#define DISCHARGE_IMAGE_RENDERER_IMAGE_DRIVER_H

#include <iosfwd>

// Runs the whole dialogue with answers from `in` and messages to `console`,
// with paths relative to the working directory. Returns the exit status: 0
// after a complete run, 1 after a reported failure.
int run_discharge_image(std::istream& in, std::ostream& console);

#endif  // DISCHARGE_IMAGE_RENDERER_IMAGE_DRIVER_H
