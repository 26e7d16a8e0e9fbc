#include "term_gauges.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <limits>
#include <map>
#include <ostream>
#include <sstream>

#include "failure.h"
#include "output_file.h"
#include "term_range.h"

namespace {

constexpr double MISSING = std::numeric_limits<double>::quiet_NaN();

// The whole of a file, or nullopt.
std::optional<std::string> file_text(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    if (!(text << in.rdbuf())) {
        return in ? std::optional<std::string>(std::string()) : std::nullopt;
    }
    return text.str();
}

// "discharge_term: FILE: line L, column C: WHAT" (the place left out where
// the fault is the file's as a whole).
void say_input_error(const std::string& path, const InputError& error, std::ostream& errors) {
    errors << "discharge_term: " << path << ": ";
    if (error.line > 0) {
        errors << "line " << error.line;
        if (error.column > 0) {
            errors << ", column " << error.column;
        }
        errors << ": ";
    }
    errors << error.what << std::endl;
}

// A file's text, read as `parse` reads it; nullopt after saying why not.
template <typename Parsed, typename Parse>
std::optional<Parsed> parsed_file(const std::string& path, Parse parse, std::ostream& errors) {
    const std::optional<std::string> text = file_text(path);
    if (!text) {
        errors << "discharge_term: " << path << ": the file cannot be read." << std::endl;
        return std::nullopt;
    }
    InputError error;
    std::optional<Parsed> parsed = parse(*text, error);
    if (!parsed) {
        say_input_error(path, error, errors);
    }
    return parsed;
}

// Whether every gauge lies in the grid; names the first that does not.
bool gauges_in_grid(const std::vector<Gauge>& gauges, const RunParameters& grid,
                    const std::string& path, std::ostream& errors) {
    for (const Gauge& gauge : gauges) {
        const bool column_out = gauge.cell.column > grid.ncols;
        if (column_out || gauge.cell.row > grid.nrows) {
            errors << "discharge_term: " << path << ": gauge \"" << gauge.id << "\" at "
                   << gauge.cell.column << ',' << gauge.cell.row << ": "
                   << (column_out ? "Column number is out of range! (the grid has " +
                                        std::to_string(grid.ncols) + " columns)"
                                  : "Row number is out of range! (the grid has " +
                                        std::to_string(grid.nrows) + " rows)")
                   << std::endl;
            return false;
        }
    }
    return true;
}

// The longest file stem taken: with ".csv" and the temporary name's dot and
// random suffix (26 bytes in all) it stays well within the 255 bytes of a
// file name that file systems allow.
constexpr std::size_t MAX_STEM_BYTES = 200;

// The file stems of the gauges; nullopt after naming an id whose file name
// would be too long, or two ids that give one file name (on a file system
// that ignores case, as Windows' do).
std::optional<std::vector<std::string>> distinct_stems(const std::vector<Gauge>& gauges,
                                                       std::ostream& errors) {
    std::vector<std::string> stems;
    std::map<std::string, std::size_t> seen;
    for (std::size_t i = 0; i < gauges.size(); ++i) {
        stems.push_back(gauge_file_stem(gauges[i].id));
        if (stems.back().size() > MAX_STEM_BYTES) {
            errors << "discharge_term: the gauge \"" << gauges[i].id << "\" would be written as a "
                   << "file name of " << stems.back().size() << " bytes, more than "
                   << MAX_STEM_BYTES << " (a byte other than A-Z, a-z, 0-9, - and _ takes 3): "
                   << "give it a shorter id." << std::endl;
            return std::nullopt;
        }
        std::string folded = stems.back();
        std::transform(folded.begin(), folded.end(), folded.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        const auto [at, added] = seen.emplace(folded, i);
        if (!added) {
            const bool same = stems[at->second] == stems.back();
            errors << "discharge_term: the gauges \"" << gauges[at->second].id << "\" and \""
                   << gauges[i].id << "\" would both be written as " << stems.back() << ".csv"
                   << (same ? "" : " (file names ignore case on some systems)")
                   << ": give them other ids." << std::endl;
            return std::nullopt;
        }
    }
    return stems;
}

// Notes the observed columns of no gauge, which are left out, and the
// gauges without a column, whose observations are all missing.
void note_unmatched(const std::vector<Gauge>& gauges, const Observations& observations,
                    const GaugesRequest& request, std::ostream& errors) {
    for (const std::string& id : observations.ids) {
        if (std::none_of(gauges.begin(), gauges.end(),
                         [&id](const Gauge& gauge) { return gauge.id == id; })) {
            errors << "discharge_term: " << request.observed_file << ": the column \"" << id
                   << "\" is of no gauge of " << request.gauges_file << ": it is left out."
                   << std::endl;
        }
    }
    for (const Gauge& gauge : gauges) {
        if (std::find(observations.ids.begin(), observations.ids.end(), gauge.id) ==
            observations.ids.end()) {
            errors << "discharge_term: " << request.observed_file << ": no column for the gauge \""
                   << gauge.id << "\": its observations are all missing." << std::endl;
        }
    }
}

bool leap_year(std::int32_t year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

// The grids of `month` read: the month's days, and a leap February's 29th
// where its file holds one.
std::int32_t grids_read(const TermSelection& selection, YearMonth month,
                        const DischargeFile& data) {
    const RunParameters& grid = selection.parameters;
    const std::uint64_t grid_bytes = static_cast<std::uint64_t>(grid.ncols) *
                                     static_cast<std::uint64_t>(grid.nrows) * DISCHARGE_VALUE_BYTES;
    const bool holds_29th = month.month == 2 && leap_year(month.year) && data.seekable &&
                            data.size_bytes == 29 * grid_bytes;
    return holds_29th ? 29 : days_in_month(month.month);
}

// The cells' values of `month`, one vector a cell, or nullopt with `reason`.
std::optional<std::vector<std::vector<float>>> month_values(const TermSelection& selection,
                                                            YearMonth month,
                                                            const std::vector<GridCell>& cells,
                                                            std::string& reason) {
    DischargeFile data;
    if (!open_term_month(data, selection, month, reason)) {
        return std::nullopt;
    }
    std::vector<std::vector<float>> series;
    const RunParameters& grid = selection.parameters;
    if (!read_cells_series(data, grids_read(selection, month, data), grid.nrows, grid.ncols, cells,
                           series)) {
        reason = "it ended before the month did";
        return std::nullopt;
    }
    return series;
}

// Appends `values` of the days of `month` to each gauge's series, with its
// observations; nullopt values stand for a month not read.
void append_month(std::vector<GaugeSeries>& series, const GaugeInputs& inputs, YearMonth month,
                  const std::optional<std::vector<std::vector<float>>>& values,
                  const std::vector<std::ptrdiff_t>& observed_column) {
    const std::size_t days =
        values ? (*values)[0].size() : static_cast<std::size_t>(days_in_month(month.month));
    for (std::size_t day = 0; day < days; ++day) {
        const Date date{month.year, month.month, static_cast<std::int32_t>(day + 1)};
        const auto observed = inputs.observations.values.find(date);
        for (std::size_t i = 0; i < series.size(); ++i) {
            series[i].dates.push_back(date);
            const float simulated = values ? (*values)[i][day] : -1.0F;
            series[i].simulated.push_back(simulated >= 0.0F ? simulated : MISSING);
            const bool has =
                observed != inputs.observations.values.end() && observed_column[i] >= 0;
            series[i].observed.push_back(
                has ? observed->second[static_cast<std::size_t>(observed_column[i])] : MISSING);
        }
    }
}

}  // namespace

std::optional<GaugeInputs> read_gauge_inputs(const GaugesRequest& request,
                                             const RunParameters& grid, std::ostream& errors) {
    GaugeInputs inputs;
    std::optional<std::vector<Gauge>> gauges =
        parsed_file<std::vector<Gauge>>(request.gauges_file, parse_gauges, errors);
    if (!gauges || !gauges_in_grid(*gauges, grid, request.gauges_file, errors)) {
        return std::nullopt;
    }
    std::optional<std::vector<std::string>> stems = distinct_stems(*gauges, errors);
    std::optional<Observations> observations =
        stems ? parsed_file<Observations>(request.observed_file, parse_observations, errors)
              : std::nullopt;
    if (!observations) {
        return std::nullopt;
    }
    note_unmatched(*gauges, *observations, request, errors);
    return GaugeInputs{std::move(*gauges), std::move(*stems), std::move(*observations)};
}

std::vector<GaugeSeries> gauge_series(const TermSelection& selection, const GaugeInputs& inputs,
                                      std::ostream& errors, std::size_t& unreadable) {
    std::vector<GaugeSeries> series(inputs.gauges.size());
    std::vector<GridCell> cells;
    std::vector<std::ptrdiff_t> observed_column;
    const std::vector<std::string>& ids = inputs.observations.ids;
    for (std::size_t i = 0; i < inputs.gauges.size(); ++i) {
        series[i].id = inputs.gauges[i].id;
        series[i].cell = inputs.gauges[i].cell;
        cells.push_back(inputs.gauges[i].cell);
        const auto found = std::find(ids.begin(), ids.end(), inputs.gauges[i].id);
        observed_column.push_back(found == ids.end() ? -1 : found - ids.begin());
    }
    // The days of the selection, and a 29th for each leap February, held
    // from the start: a series grown by doubling would take up to twice it.
    std::size_t days = 0;
    for (const YearMonth month : selection.months) {
        days += static_cast<std::size_t>(days_in_month(month.month)) +
                (month.month == 2 && leap_year(month.year) ? 1U : 0U);
    }
    for (GaugeSeries& gauge : series) {
        gauge.dates.reserve(days);
        gauge.simulated.reserve(days);
        gauge.observed.reserve(days);
    }
    unreadable = 0;
    for (const YearMonth month : selection.months) {
        std::string reason;
        const std::optional<std::vector<std::vector<float>>> values =
            cells.empty() ? std::nullopt : month_values(selection, month, cells, reason);
        if (!values && !cells.empty()) {
            errors << failure_text(month_unreadable(month, reason)) << std::endl;
            ++unreadable;
        }
        if (!cells.empty()) {
            append_month(series, inputs, month, values, observed_column);
        }
    }
    for (GaugeSeries& gauge : series) {
        gauge.scores = skill_scores(gauge.simulated, gauge.observed);
    }
    return series;
}

namespace {

// `text` as a CSV field: in double quotes, its quotes doubled, where it holds
// a comma, a quote or a line end.
std::string csv_field(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) {
        return text;
    }
    std::string field = "\"";
    for (const char c : text) {
        field += c == '"' ? std::string("\"\"") : std::string(1, c);
    }
    return field + "\"";
}

// A score with nine significant digits, empty where undefined; never "-0".
std::string score_text(const std::optional<double>& value) {
    if (!value) {
        return "";
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", *value == 0.0 ? 0.0 : *value);
    return text;
}

// An observed value as the shortest text that reads back as it.
std::string observed_text(double value) {
    char text[32];
    const std::to_chars_result written = std::to_chars(text, text + sizeof text, value);
    return std::string(text, written.ptr);
}

std::string date_field(const Date& date) {
    // A line a day of every gauge: the digits by hand, as snprintf is slow
    // at this; a year of more than four digits (or below 0) by snprintf.
    if (date.year < 0 || date.year > 9999) {
        char text[32];
        std::snprintf(text, sizeof text, "%04d-%02d-%02d", static_cast<int>(date.year),
                      static_cast<int>(date.month), static_cast<int>(date.day));
        return text;
    }
    std::string text = "0000-00-00";
    const auto digit = [](std::int32_t value) { return static_cast<char>('0' + value % 10); };
    text[0] = digit(date.year / 1000);
    text[1] = digit(date.year / 100);
    text[2] = digit(date.year / 10);
    text[3] = digit(date.year);
    text[5] = digit(date.month / 10);
    text[6] = digit(date.month);
    text[8] = digit(date.day / 10);
    text[9] = digit(date.day);
    return text;
}

}  // namespace

std::string metrics_csv(const std::vector<GaugeSeries>& gauges) {
    std::string csv =
        "id,column,row,days,nse,log_nse,kge,r,alpha,beta,kge_prime,gamma,pbias,rmse,mean_sim,"
        "mean_obs\n";
    for (const GaugeSeries& gauge : gauges) {
        const SkillScores& s = gauge.scores;
        csv.append(csv_field(gauge.id)).append(",");
        csv.append(std::to_string(gauge.cell.column)).append(",");
        csv.append(std::to_string(gauge.cell.row)).append(",");
        csv.append(std::to_string(s.days));
        for (const std::optional<double>& value :
             {s.nse, s.log_nse, s.kge, s.r, s.alpha, s.beta, s.kge_prime, s.gamma, s.pbias, s.rmse,
              s.mean_sim, s.mean_obs}) {
            csv.append(",").append(score_text(value));
        }
        csv.append("\n");
    }
    return csv;
}

// The values as the shortest texts that read back as the very values the
// scores were computed from.
std::string gauge_csv(const GaugeSeries& gauge) {
    std::string csv = "date,simulated,observed\n";
    for (std::size_t day = 0; day < gauge.dates.size(); ++day) {
        csv.append(date_field(gauge.dates[day])).append(",");
        if (!std::isnan(gauge.simulated[day])) {
            csv.append(shortest_text(static_cast<float>(gauge.simulated[day])));
        }
        csv.append(",");
        if (!std::isnan(gauge.observed[day])) {
            csv.append(observed_text(gauge.observed[day]));
        }
        csv.append("\n");
    }
    return csv;
}

namespace {

// Writes one output of the folder; false after naming it if it fails.
bool write_gauge_output(const std::string& path, const std::string& bytes, bool text,
                        std::ostream& errors) {
    std::string reason;
    if (!write_whole_output(path, bytes, text, reason)) {
        errors << failure_text({path, "Gauge output file cannot write.", reason}) << std::endl;
        return false;
    }
    return true;
}

// The line said of a gauge written.
std::string gauge_line(const GaugeSeries& gauge) {
    const auto short_text = [](const std::optional<double>& value) {
        if (!value) {
            return std::string("n/a");
        }
        char text[32];
        std::snprintf(text, sizeof text, "%.3g", *value == 0.0 ? 0.0 : *value);
        return std::string(text);
    };
    return gauge.id + " (" + std::to_string(gauge.cell.column) + "," +
           std::to_string(gauge.cell.row) + "): " + std::to_string(gauge.scores.days) +
           (gauge.scores.days == 1 ? " day" : " days") + " paired, NSE " +
           short_text(gauge.scores.nse) + ", KGE " + short_text(gauge.scores.kge) + ", PBIAS " +
           short_text(gauge.scores.pbias) + " %";
}

// Writes every output; false once one failed (the others are still written).
bool write_gauge_outputs(const std::vector<GaugeSeries>& series, const GaugeInputs& inputs,
                         const GaugesRequest& request, std::ostream& errors) {
    const std::string folder = request.output;
    bool written = write_gauge_output(folder + "/metrics.csv", metrics_csv(series), true, errors);
    for (std::size_t i = 0; i < series.size(); ++i) {
        const std::string stem = folder + "/" + inputs.stems[i];
        const bool gauge_written =
            write_gauge_output(stem + ".csv", gauge_csv(series[i]), true, errors) &&
            write_gauge_output(stem + ".svg", hydrograph_svg(series[i], request.units, request.log),
                               false, errors);
        if (gauge_written) {
            errors << gauge_line(series[i]) << std::endl;
        }
        written = written && gauge_written;
    }
    return write_gauge_output(folder + "/index.html",
                              gauges_page(series, inputs.stems, request.units), false, errors) &&
           written;
}

}  // namespace

int run_term_gauges(const std::string& from, const std::string& to, const GaugesRequest& request,
                    std::ostream& errors) {
    int status = 0;
    const std::optional<TermSelection> selection = select_term(from, to, errors, status);
    if (!selection) {
        return status;
    }
    std::optional<GaugeInputs> inputs = read_gauge_inputs(request, selection->parameters, errors);
    if (!inputs) {
        return 2;
    }
    std::size_t unreadable = 0;
    const std::vector<GaugeSeries> series = gauge_series(*selection, *inputs, errors, unreadable);
    // The observations are in the series now: the table of them all, as
    // large as the observed series, is let go before the outputs are made.
    inputs->observations.values.clear();
    if (unreadable > 0 && !request.allow_gaps) {
        errors << "No gauge outputs written: " << unreadable
               << (unreadable == 1 ? " month" : " months")
               << " of the selection cannot be read (--allow-gaps counts their days as missing)."
               << std::endl;
        return 1;
    }
    std::string reason;
    if (!make_output_folder(request.output, reason)) {
        errors << failure_text({request.output, "Gauge output folder cannot be made.", reason})
               << std::endl;
        return 1;
    }
    const bool written = write_gauge_outputs(series, *inputs, request, errors);
    return unreadable > 0 || !written ? 1 : 0;
}
