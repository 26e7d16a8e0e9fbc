// The simulation held against observed discharge at gauges: for each gauge
// of a gauges file its cell's simulated series over the selection, paired day
// by day with the observed series of an observations file, the skill scores
// (skill_scores.h), and the files that show them: metrics.csv, a CSV and an
// SVG hydrograph a gauge, and a page of them all.
#ifndef DISCHARGE_TERM_RUNNER_TERM_GAUGES_H
#define DISCHARGE_TERM_RUNNER_TERM_GAUGES_H

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "gauge_input.h"
#include "hydrograph_svg.h"
#include "term_months.h"

// What `gauges` was asked to do.
struct GaugesRequest {
    std::string gauges_file;
    std::string observed_file;
    std::string output = "./gauges";  // the folder written
    std::string units = "m3 s-1";     // of the discharge, on the hydrographs' axis
    bool log = false;                 // the hydrographs' discharge axis logarithmic
    bool allow_gaps = false;          // months that cannot be read count as missing days
};

// The gauges and their observations, read and checked against the grid:
// nullopt after naming the first fault on `errors` (a usage error).
struct GaugeInputs {
    std::vector<Gauge> gauges;
    std::vector<std::string> stems;  // gauge_file_stem() of each
    Observations observations;
};
std::optional<GaugeInputs> read_gauge_inputs(const GaugesRequest& request,
                                             const RunParameters& grid, std::ostream& errors);

// The series of every gauge over the selection, read in one pass over the
// months: the days of each month (a leap February's 29th where its file
// holds it), the simulated value of each (NaN for a month that cannot be
// read) and the observed one (NaN where there is none). `unreadable` counts
// the months that could not be read, each named on `errors`.
std::vector<GaugeSeries> gauge_series(const TermSelection& selection, const GaugeInputs& inputs,
                                      std::ostream& errors, std::size_t& unreadable);

// metrics.csv: its header, then a line a gauge, values with nine significant
// digits, empty where undefined.
std::string metrics_csv(const std::vector<GaugeSeries>& gauges);

// A gauge's CSV: "date,simulated,observed", a line a day, missing values
// empty.
std::string gauge_csv(const GaugeSeries& gauge);

// Writes the outputs of the gauges of the selection into request.output
// (created if missing), with a line a gauge on `errors`. Returns the exit
// status: 0; 1 when a month cannot be read (nothing written, unless
// allow_gaps) or a file cannot be written; 2 for a usage error (the files'
// faults, a gauge outside the grid, a selection outside the term).
int run_term_gauges(const std::string& from, const std::string& to, const GaugesRequest& request,
                    std::ostream& errors);

#endif  // DISCHARGE_TERM_RUNNER_TERM_GAUGES_H
