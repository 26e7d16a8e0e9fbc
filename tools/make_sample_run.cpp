// make_sample_run: writes a synthetic runoff simulation run that the programs
// can be tried on.
//
//   make_sample_run ROOT [--size COLSxROWS] [--months YYYYMM[,YYYYMM...]] [--force]
//
// ROOT/param.dat describes the grid and the simulation term, from the first
// month written to the last; ROOT/output/ holds one daily discharge file per
// month and an empty image/ folder. Start the programs in ROOT/output.
// ROOT/gauges.csv names two gauges, at the outlet and on a tributary, and
// ROOT/observed.csv holds what they "observed" on the days written: the
// simulated series a day late, scaled, with noise and gaps, as a real gauge's
// record differs from a simulation (discharge_term gauges).
//
// The data imitate a real basin: a drainage network grown over a noisy
// terrain, baseflow accumulating downstream, and the weather of a year: in
// July a storm crossing the basin over a few days and its flood wave
// travelling down the rivers, in February a weaker winter front, in the other
// months base flow alone, receding from summer into winter and rising again
// in spring. Cells outside the basin hold -999. A month's file depends only on
// the grid size and the month, not on the other months written.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <numbers>
#include <queue>
#include <sstream>
#include <string>
#include <vector>

#include "output_file.h"
#include "run_input.h"

namespace {

struct Options {
    std::filesystem::path root;
    int ncols = 120;
    int nrows = 100;
    // YYYYMM, in order, each once; left empty by the options, every month of
    // the sample's own term.
    std::vector<int> months;
    bool force = false;  // write over a run already there
};

// The sample's own term: its summer storm, the months that follow and the
// winter front of a leap February.
constexpr int DEFAULT_FIRST_MONTH = 201907;
constexpr int DEFAULT_LAST_MONTH = 202002;

constexpr float OUTSIDE_BASIN = -999.0F;

// ---------------------------------------------------------------------------
// Terrain

// A hash of integer lattice coordinates to [0, 1): the same everywhere.
double lattice_noise(int x, int y, std::uint32_t seed) {
    std::uint32_t h = static_cast<std::uint32_t>(x) * 374761393U +
                      static_cast<std::uint32_t>(y) * 668265263U + seed * 2246822519U;
    h = (h ^ (h >> 13)) * 1274126177U;
    h ^= h >> 16;
    return (h & 0xFFFFFFU) / static_cast<double>(0x1000000);
}

// Smooth value noise in [0, 1) over unit coordinates, a few octaves.
double terrain_noise(double u, double v, std::uint32_t seed) {
    double sum = 0.0;
    double weight = 0.5;
    double frequency = 4.0;
    double total = 0.0;
    for (int octave = 0; octave < 5; ++octave) {
        const double x = u * frequency;
        const double y = v * frequency;
        const int x0 = static_cast<int>(std::floor(x));
        const int y0 = static_cast<int>(std::floor(y));
        const double fx = x - x0;
        const double fy = y - y0;
        const double sx = fx * fx * (3 - 2 * fx);
        const double sy = fy * fy * (3 - 2 * fy);
        const std::uint32_t s = seed + static_cast<std::uint32_t>(octave);
        const double bottom =
            lattice_noise(x0, y0, s) * (1 - sx) + lattice_noise(x0 + 1, y0, s) * sx;
        const double top =
            lattice_noise(x0, y0 + 1, s) * (1 - sx) + lattice_noise(x0 + 1, y0 + 1, s) * sx;
        sum += weight * (bottom * (1 - sy) + top * sy);
        total += weight;
        weight *= 0.5;
        frequency *= 2.0;
    }
    return sum / total;
}

// The basin and its drainage network. Cells are indexed row * ncols + column,
// row 0 being the southernmost.
struct Basin {
    int ncols = 0;
    int nrows = 0;
    std::vector<bool> inside;
    std::vector<int> downstream;      // next cell towards the outlet; -1 at the outlet
    std::vector<double> step;         // length of the step to it, in cells
    std::vector<int> upstream_first;  // every basin cell, each before its downstream cell
};

// Unit coordinates of a cell's centre, scaled so that the basin is round on a
// non-square grid.
void unit_position(const Basin& b, int cell, double& u, double& v) {
    u = (cell % b.ncols + 0.5) / b.ncols;
    v = (cell / b.ncols + 0.5) / b.nrows;
}

// An irregular oval, open to the south where the outlet lies: marks the
// cells inside and returns the outlet, or -1 if no cell is inside.
int shape_basin(Basin& b) {
    const int cells = b.ncols * b.nrows;
    int outlet = -1;
    for (int cell = 0; cell < cells; ++cell) {
        double u = 0;
        double v = 0;
        unit_position(b, cell, u, v);
        const double du = (u - 0.5) / 0.47;
        const double dv = (v - 0.52) / 0.47;
        const double wobble = 0.35 * (terrain_noise(u, v, 7) - 0.5);
        b.inside[cell] = std::sqrt(du * du + dv * dv) + wobble < 1.0;
        if (b.inside[cell] &&
            (outlet < 0 || cell / b.ncols < outlet / b.ncols ||
             (cell / b.ncols == outlet / b.ncols &&
              std::abs(cell % b.ncols - b.ncols / 2) < std::abs(outlet % b.ncols - b.ncols / 2)))) {
            outlet = cell;
        }
    }
    return outlet;
}

// How hard water flows through a cell: paths avoid rough cells.
double roughness(const Basin& b, int cell) {
    double u = 0;
    double v = 0;
    unit_position(b, cell, u, v);
    return 0.05 + 4.0 * std::pow(terrain_noise(u, v, 11), 3.0) +
           0.3 * lattice_noise(cell % b.ncols, cell / b.ncols, 5);
}

// The drainage tree is the tree of cheapest paths to the outlet over a rough
// terrain: each cell drains into the neighbour through which it was reached.
// Paths of such trees merge like tributaries do. Basin cells the search does
// not reach (cut off by the oval's wobble) end up outside the basin.
void drain_basin(Basin& b, int outlet) {
    const int cells = b.ncols * b.nrows;
    using Entry = std::pair<double, int>;
    std::priority_queue<Entry, std::vector<Entry>, std::greater<>> front;
    std::vector<bool> reached(cells, false);
    std::vector<bool> settled(cells, false);
    std::vector<double> cost(cells, 0.0);
    std::vector<int> outlet_first;
    front.emplace(0.0, outlet);
    reached[outlet] = true;
    while (!front.empty()) {
        const auto [path_cost, cell] = front.top();
        front.pop();
        if (settled[cell]) {
            continue;
        }
        settled[cell] = true;
        outlet_first.push_back(cell);
        for (int dy = -1; dy <= 1; ++dy) {
            for (int dx = -1; dx <= 1; ++dx) {
                const int nx = cell % b.ncols + dx;
                const int ny = cell / b.ncols + dy;
                if ((dx == 0 && dy == 0) || nx < 0 || ny < 0 || nx >= b.ncols || ny >= b.nrows) {
                    continue;
                }
                const int next = ny * b.ncols + nx;
                if (!b.inside[next] || settled[next]) {
                    continue;
                }
                const double length = (dx != 0 && dy != 0) ? std::numbers::sqrt2 : 1.0;
                const double through = path_cost + length * roughness(b, next);
                if (!reached[next] || through < cost[next]) {
                    reached[next] = true;
                    cost[next] = through;
                    b.downstream[next] = cell;
                    b.step[next] = length;
                    front.emplace(through, next);
                }
            }
        }
    }
    for (int cell = 0; cell < cells; ++cell) {
        b.inside[cell] = reached[cell];
    }
    b.upstream_first.assign(outlet_first.rbegin(), outlet_first.rend());
}

Basin grow_basin(int ncols, int nrows) {
    Basin b;
    b.ncols = ncols;
    b.nrows = nrows;
    const int cells = ncols * nrows;
    b.inside.assign(cells, false);
    b.downstream.assign(cells, -1);
    b.step.assign(cells, 1.0);
    const int outlet = shape_basin(b);
    if (outlet >= 0) {
        drain_basin(b, outlet);
    }
    return b;
}

// ---------------------------------------------------------------------------
// Weather and routing

struct Month {
    int year = 0;
    int month = 0;
    int days = 0;
};

bool is_leap_year(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int days_of(int year, int month) {
    static constexpr int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && is_leap_year(year) ? 29 : days[month - 1];
}

// The sample's year has two storms: a summer storm in July and a weaker
// winter front in February. The other months are dry: their rivers carry
// base flow alone.
bool has_storm(int month) {
    return month == 7 || month == 2;
}

// Runoff generated in one cell on one day of a storm month, m3/s: baseflow
// from the soil plus a storm that enters from the west and crosses the basin.
struct Weather {
    double baseflow = 0.02;     // m3/s per cell
    double storm_peak = 1.2;    // m3/s per cell under the storm's centre
    double storm_start = 8.0;   // day on which the centre is at the west edge
    double storm_speed = 0.22;  // basin widths per day
    double storm_radius = 0.16;
};

Weather weather_for(int month) {
    Weather w;
    if (month == 2) {  // winter: low flow, a weaker front later in the month
        w.baseflow = 0.008;
        w.storm_peak = 0.5;
        w.storm_start = 14.0;
        w.storm_speed = 0.3;
        w.storm_radius = 0.22;
    }
    return w;
}

double rain(const Weather& w, double u, double v, int day) {
    const double centre_u = -0.15 + (day + 1 - w.storm_start) * w.storm_speed;
    const double centre_v = 0.6 + 0.12 * std::sin(3.0 * centre_u);
    const double d2 = (u - centre_u) * (u - centre_u) + (v - centre_v) * (v - centre_v);
    return w.storm_peak * std::exp(-d2 / (2 * w.storm_radius * w.storm_radius));
}

// Daily discharge of every cell in a storm month: flow[cell * days + day].
std::vector<double> simulate(const Basin& b, const Month& m) {
    const Weather w = weather_for(m.month);
    const int days = m.days;
    std::vector<double> flow(static_cast<std::size_t>(b.ncols) * b.nrows * days, 0.0);

    // Water needs about a week from the farthest ridge to the outlet. A
    // fraction `lag` of a cell's outflow arrives downstream a day late, which
    // delays and spreads the flood wave as it travels.
    const double lag_per_cell = 5.0 / (1.5 * std::max(b.ncols, b.nrows));
    for (const int cell : b.upstream_first) {
        double u = 0;
        double v = 0;
        unit_position(b, cell, u, v);
        double* q = &flow[static_cast<std::size_t>(cell) * days];
        // Local runoff: rain drains from the soil like a linear reservoir.
        double soil = 0.0;
        for (int day = 0; day < days; ++day) {
            soil = 0.55 * soil + rain(w, u, v, day);
            q[day] += w.baseflow + 0.6 * soil;
        }
        const int down = b.downstream[cell];
        if (down < 0) {
            continue;
        }
        const double lag = std::min(0.9, lag_per_cell * b.step[cell]);
        double* into = &flow[static_cast<std::size_t>(down) * days];
        for (int day = 0; day < days; ++day) {
            const double yesterday = q[day > 0 ? day - 1 : 0];
            into[day] += (1 - lag) * q[day] + lag * yesterday;
        }
    }
    return flow;
}

// Base flow per cell, m3/s, at the start of each month, January first: low
// through the winter, rising in spring to the summer level on which July's
// storm falls, receding through the autumn. Within a month it changes
// linearly towards the next month's. The storm months keep the level of their
// own weather throughout (0.02 in July, 0.008 in February), which the months
// around them meet.
constexpr double BASE_FLOW_AT_MONTH_START[12] = {0.008, 0.008, 0.008, 0.011, 0.016, 0.020,
                                                 0.020, 0.020, 0.017, 0.014, 0.011, 0.009};

double base_flow(const Month& m, int day) {
    const double start = BASE_FLOW_AT_MONTH_START[m.month - 1];
    const double end = BASE_FLOW_AT_MONTH_START[m.month % 12];
    return start + (end - start) * day / m.days;
}

// The basin cells that drain through each cell, itself included. With the
// same base flow from every cell and nothing else, the flood routing of
// simulate() settles to that many times the base flow: a dry month needs no
// routing.
std::vector<std::uint32_t> drained_cells(const Basin& b) {
    std::vector<std::uint32_t> drained(static_cast<std::size_t>(b.ncols) * b.nrows, 0);
    for (const int cell : b.upstream_first) {
        drained[cell] += 1;
        if (b.downstream[cell] >= 0) {
            drained[b.downstream[cell]] += drained[cell];
        }
    }
    return drained;
}

// ---------------------------------------------------------------------------
// Files

// Writes the month's file, whole or not at all: a storm month simulated, a
// dry month as base flow accumulated downstream.
bool write_month(const Basin& b, const std::vector<std::uint32_t>& drained, const Month& m,
                 const std::filesystem::path& directory, const std::vector<std::size_t>& gauges,
                 std::vector<std::vector<float>>& gauge_values) {
    const std::vector<double> storm_flow =
        has_storm(m.month) ? simulate(b, m) : std::vector<double>();
    char name[64];
    std::snprintf(name, sizeof name, "%04d%02d_dailyDischarge.bin", m.year, m.month);
    const std::string path = (directory / name).string();
    const std::size_t cells = static_cast<std::size_t>(b.ncols) * b.nrows;
    OutputFile out;
    bool written = create_output_file(out, path, false);
    std::string day_bytes;
    day_bytes.reserve(cells * DISCHARGE_VALUE_BYTES);
    for (int day = 0; day < m.days && written; ++day) {
        const double level = base_flow(m, day);
        day_bytes.clear();
        for (std::size_t cell = 0; cell < cells; ++cell) {
            float value = OUTSIDE_BASIN;
            if (b.inside[cell]) {
                value = storm_flow.empty() ? static_cast<float>(level * drained[cell])
                                           : static_cast<float>(storm_flow[cell * m.days + day]);
            }
            encode_discharge_value(value, day_bytes);
        }
        for (std::size_t g = 0; g < gauges.size(); ++g) {
            const std::size_t cell = gauges[g];
            gauge_values[g].push_back(storm_flow.empty()
                                          ? static_cast<float>(level * drained[cell])
                                          : static_cast<float>(storm_flow[cell * m.days + day]));
        }
        written = write_output_file(out, day_bytes.data(), day_bytes.size());
    }
    if (!written || !commit_output_file(out)) {
        std::cerr << "make_sample_run: cannot write " << path << '\n';
        return false;
    }
    std::cout << path << ": " << m.days << " days of " << b.ncols << " x " << b.nrows << '\n';
    return true;
}

// The gauges: the outlet, where the most cells drain, and the tributary
// cell where the number draining through it is nearest a quarter of that.
std::vector<std::size_t> gauge_cells(const Basin& b, const std::vector<std::uint32_t>& drained) {
    std::size_t outlet = 0;
    for (std::size_t cell = 0; cell < drained.size(); ++cell) {
        outlet = b.inside[cell] && drained[cell] > drained[outlet] ? cell : outlet;
    }
    const double quarter = drained[outlet] / 4.0;
    std::size_t tributary = outlet;
    for (std::size_t cell = 0; cell < drained.size(); ++cell) {
        if (b.inside[cell] &&
            std::abs(drained[cell] - quarter) < std::abs(drained[tributary] - quarter)) {
            tributary = cell;
        }
    }
    return {outlet, tributary};
}

// Writes ROOT/gauges.csv and ROOT/observed.csv for the days written: each
// gauge's simulated series a day late, scaled (0.85 and 1.15), with noise of
// about 10 %, a gap of a week from the 41st day written,
// and now and then a day missing or recorded as -1, "NA" or empty.
bool write_gauges(const Options& o, const Basin& b, const std::vector<std::size_t>& gauges,
                  const std::vector<std::vector<float>>& values, const std::vector<int>& dates) {
    std::ostringstream list;
    list << "id,name,column,row\n";
    const char* const names[] = {"G01,Outlet", "G02,\"Tributary, upper reach\""};
    for (std::size_t g = 0; g < gauges.size(); ++g) {
        list << names[g] << ',' << gauges[g] % b.ncols + 1 << ',' << gauges[g] / b.ncols + 1
             << '\n';
    }
    std::ostringstream observed;
    observed << "date,G01,G02\n";
    std::uint32_t state = 12345;
    const auto next = [&state] {
        state = state * 1664525U + 1013904223U;
        return static_cast<double>(state >> 8) / 16777216.0;
    };
    for (std::size_t day = 0; day < dates.size(); ++day) {
        char date[16];
        std::snprintf(date, sizeof date, "%04d-%02d-%02d", dates[day] / 10000,
                      dates[day] / 100 % 100, dates[day] % 100);
        observed << date;
        for (std::size_t g = 0; g < gauges.size(); ++g) {
            const double noise = 1.0 + 0.1 * (next() + next() + next() - 1.5);
            const double chance = next();
            observed << ',';
            if ((day >= 40 && day < 47) || chance < 0.02) {
                continue;
            }
            if (chance < 0.03) {
                observed << (g == 0 ? "NA" : "-1");
                continue;
            }
            const double late = values[g][day > 0 ? day - 1 : 0];
            char value[32];
            std::snprintf(value, sizeof value, "%.6g", late * (g == 0 ? 0.85 : 1.15) * noise);
            observed << value;
        }
        observed << '\n';
    }
    std::string reason;
    return write_whole_output((o.root / "gauges.csv").string(), list.str(), true, reason) &&
           write_whole_output((o.root / "observed.csv").string(), observed.str(), true, reason);
}

// The simulation term runs from the first month written to the last.
bool write_parameters(const Options& o) {
    const int first = o.months.front();
    const int last = o.months.back();
    std::ostringstream text;
    text << "1\n"                                        // topography scale
         << o.ncols << ' ' << o.nrows << '\n'            // simulation grid
         << "135.5 34.25\n"                              // its south-west corner, degrees
         << o.ncols + 40 << ' ' << o.nrows + 40 << '\n'  // input data grid
         << "21 21\n"                                    // origin of the simulation grid in it
         << "135.25\n34\n"                               // input grid south-west cell centre
         << "3600\n"                                     // seconds between input records
         << first / 100 << ' ' << last / 100 << ' '      // start and end year,
         << first % 100 << ' ' << last % 100 << '\n';    // start and end month
    std::string reason;
    return write_whole_output((o.root / "param.dat").string(), text.str(), true, reason);
}

constexpr const char* USAGE =
    "usage: make_sample_run ROOT [--size COLSxROWS] [--months YYYYMM[,YYYYMM...]] [--force]\n"
    "\n"
    "Writes a synthetic runoff simulation run into ROOT: ROOT/param.dat, and in ROOT/output/\n"
    "one daily discharge file per month and an empty image/ folder. The simulation term in\n"
    "param.dat runs from the first month written to the last. July brings a storm and its\n"
    "flood wave, February a winter front; the other months carry base flow only.\n"
    "  --size COLSxROWS   the grid, 1 to 4000 cells each way (default 120x100)\n"
    "  --months LIST      the months to write, in any order (default: every month from\n"
    "                     201907 to 202002); the term spans the first to the last of them,\n"
    "                     and months left out between them are missing from the run too\n"
    "  --force            write over a run already in ROOT\n";

// The months of a --months list, "YYYYMM,YYYYMM,...", in order and each once;
// empty if the list is malformed.
std::vector<int> parse_months(const std::string& list) {
    std::vector<int> months;
    std::size_t start = 0;
    while (true) {
        const std::size_t comma = std::min(list.find(',', start), list.size());
        const std::string word = list.substr(start, comma - start);
        if (word.size() != 6 ||
            !std::all_of(word.begin(), word.end(), [](char c) { return c >= '0' && c <= '9'; })) {
            return {};
        }
        const int yyyymm = std::stoi(word);
        if (yyyymm % 100 < 1 || yyyymm % 100 > 12) {
            return {};
        }
        months.push_back(yyyymm);
        if (comma == list.size()) {
            break;
        }
        start = comma + 1;
    }
    std::sort(months.begin(), months.end());
    months.erase(std::unique(months.begin(), months.end()), months.end());
    return months;
}

// Every month from `first` to `last`, YYYYMM.
std::vector<int> months_between(int first, int last) {
    std::vector<int> months;
    for (int yyyymm = first; yyyymm <= last;
         yyyymm = yyyymm % 100 == 12 ? (yyyymm / 100 + 1) * 100 + 1 : yyyymm + 1) {
        months.push_back(yyyymm);
    }
    return months;
}

// Reads the options into `o`. Returns an error to print, or "" when they are
// good.
std::string parse_options(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if (word == "--force") {
            o.force = true;
            continue;
        }
        if (word == "--size" || word == "--months") {
            if (i + 1 == argc) {
                return word + " needs a value";
            }
            const std::string value = argv[++i];
            if (word == "--size") {
                std::istringstream size(value);
                char by = 0;
                if (!(size >> o.ncols >> by >> o.nrows) || by != 'x' || !size.eof() ||
                    o.ncols < 1 || o.nrows < 1 || o.ncols > 4000 || o.nrows > 4000) {
                    return "--size takes COLSxROWS, each 1 to 4000";
                }
                continue;
            }
            o.months = parse_months(value);
            if (o.months.empty()) {
                return "--months takes months as YYYYMM, separated by commas";
            }
            continue;
        }
        if (word.starts_with("-") || !o.root.empty()) {
            return "unknown option or extra argument: " + word;
        }
        o.root = word;
    }
    if (o.months.empty()) {
        o.months = months_between(DEFAULT_FIRST_MONTH, DEFAULT_LAST_MONTH);
    }
    return o.root.empty() ? "no ROOT given" : "";
}

}  // namespace

int main(int argc, char** argv) {
    install_interruption_cleanup();
    Options options;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--help") {
            std::cout << USAGE;
            return 0;
        }
    }
    if (const std::string error = parse_options(argc, argv, options); !error.empty()) {
        std::cerr << "make_sample_run: " << error << "\n\n" << USAGE;
        return 2;
    }
    const std::filesystem::path output = options.root / "output";
    std::error_code error;
    if (!options.force && (std::filesystem::exists(options.root / "param.dat", error) ||
                           std::filesystem::exists(output, error))) {
        std::cerr << "make_sample_run: " << options.root.string()
                  << " already holds a run; --force writes over it\n";
        return 1;
    }
    std::filesystem::create_directories(output / "image", error);
    if (error || !write_parameters(options)) {
        std::cerr << "make_sample_run: cannot create the run in " << options.root.string() << '\n';
        return 1;
    }
    const Basin basin = grow_basin(options.ncols, options.nrows);
    const std::vector<std::uint32_t> drained = drained_cells(basin);
    const std::vector<std::size_t> gauges = gauge_cells(basin, drained);
    std::vector<std::vector<float>> gauge_values(gauges.size());
    std::vector<int> dates;
    for (const int yyyymm : options.months) {
        const Month month{yyyymm / 100, yyyymm % 100, days_of(yyyymm / 100, yyyymm % 100)};
        if (!write_month(basin, drained, month, output, gauges, gauge_values)) {
            return 1;
        }
        for (int day = 1; day <= month.days; ++day) {
            dates.push_back(yyyymm * 100 + day);
        }
    }
    if (!write_gauges(options, basin, gauges, gauge_values, dates)) {
        std::cerr << "make_sample_run: cannot write the gauges in " << options.root.string()
                  << '\n';
        return 1;
    }
    return 0;
}
