// The discharge_series program: asks for a grid cell and a month and writes
// that cell's daily discharge as a text time series in the working directory.
#ifndef DISCHARGE_SERIES_EXTRACTOR_SERIES_DRIVER_H
#define DISCHARGE_SERIES_EXTRACTOR_SERIES_DRIVER_H

#include <iosfwd>

// Runs the whole dialogue with answers from `in` and messages to `console`,
// with paths relative to the working directory. Returns the exit status: 0
// after a complete run, 1 after a reported failure.
int run_discharge_series(std::istream& in, std::ostream& console);

#endif  // DISCHARGE_SERIES_EXTRACTOR_SERIES_DRIVER_H
