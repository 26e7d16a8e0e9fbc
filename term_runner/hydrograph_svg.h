// The hydrograph of a gauge as SVG: the simulated and the observed series
// as two lines over the selection's days, a date axis with ticks, a
// discharge axis with its units (linear, or logarithmic), a legend, and the
// gauge's id and scores in the title. SVG is sharp in reports and opens in
// every browser. And the page that shows every gauge's hydrograph.
#ifndef DISCHARGE_TERM_RUNNER_HYDROGRAPH_SVG_H
#define DISCHARGE_TERM_RUNNER_HYDROGRAPH_SVG_H

#include <string>
#include <string_view>
#include <vector>

#include "gauge_input.h"
#include "skill_scores.h"

// A gauge's series over the selection: the days in order, and for each its
// simulated and observed value (NaN where there is none).
struct GaugeSeries {
    std::string id;
    GridCell cell;
    std::vector<Date> dates;
    std::vector<double> simulated;
    std::vector<double> observed;
    SkillScores scores;
};

// `text` with &, <, >, " and ' as XML's entities, for text and attribute
// values of SVG and HTML; bytes that are not UTF-8 as U+FFFD.
std::string xml_escaped(std::string_view text);

// The SVG of the gauge's hydrograph, with `units` on the discharge axis, the
// axis logarithmic where `log` (values at or below 0 left out of the lines).
std::string hydrograph_svg(const GaugeSeries& gauge, const std::string& units, bool log);

// The page of every gauge: its id, cell and scores, and its hydrograph
// `<stem>.svg` beside the page, in the order given; `stems` one per gauge.
std::string gauges_page(const std::vector<GaugeSeries>& gauges,
                        const std::vector<std::string>& stems, const std::string& units);

#endif  // DISCHARGE_TERM_RUNNER_HYDROGRAPH_SVG_H
