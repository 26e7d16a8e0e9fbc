#include "hydrograph_svg.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <limits>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

// Every number of the SVG and the page is text of values computed alike on
// every platform: the arithmetic is IEEE's (+, -, *, / and floor, exactly
// rounded, no fused operations), powers of ten are read from decimal text
// by std::from_chars (exactly rounded), logarithms come from a short series
// here rather than from the C library (whose last bits differ between
// systems), and text comes from std::to_chars or integers. Coordinates are
// rounded to a tenth of a pixel.

namespace {

// ---------------------------------------------------------------- escaping

// Appends the UTF-8 of `code`.
void append_utf8(std::string& out, std::uint32_t code) {
    if (code < 0x80) {
        out.push_back(static_cast<char>(code));
    } else if (code < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (code >> 6)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (code >> 12)));
        out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (code >> 18)));
        out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
}

constexpr std::uint32_t REPLACEMENT = 0xFFFD;

// Decodes the UTF-8 character at `at` of `text` and moves `at` past it. A
// byte that cannot begin a character, or a sequence cut short, gives
// U+FFFD for its longest valid beginning (one U+FFFD a "maximal subpart",
// as Unicode recommends and browsers do), leaving the byte that broke it
// to be read again.
std::uint32_t next_code(std::string_view text, std::size_t& at) {
    const auto byte = [&text](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned lead = byte(at++);
    if (lead < 0x80) {
        return lead;
    }
    // The length of the sequence and the range of its second byte, which
    // rules out overlong forms, UTF-16's surrogates and codes past U+10FFFF.
    std::size_t length = 0;
    unsigned low = 0x80;
    unsigned high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return REPLACEMENT;
    }
    std::uint32_t code = lead & (0x7F >> length);
    for (std::size_t i = 1; i < length; ++i, low = 0x80, high = 0xBF) {
        if (at >= text.size() || byte(at) < low || byte(at) > high) {
            return REPLACEMENT;
        }
        code = (code << 6) | (byte(at++) & 0x3F);
    }
    return code;
}

// Whether XML 1.0 (or HTML, for the C1 controls and DEL) refuses `code` in
// a document: the control characters other than tab and line feed, and
// U+FFFE and U+FFFF.
bool refused_in_documents(std::uint32_t code) {
    const bool control = code < 0x20 || (code >= 0x7F && code <= 0x9F);
    return (control && code != '\t' && code != '\n') || code == 0xFFFE || code == 0xFFFF;
}

// ----------------------------------------------------------------- numbers

// `value` by std::to_chars (exactly rounded, in no locale) in `format` with
// `precision`; a negative value that rounds to zero ("-0.0") as "0.0".
std::string number_text(double value, std::chars_format format, int precision) {
    char text[400];  // the longest fixed text of a double with 12 decimals fits
    const std::to_chars_result result =
        std::to_chars(text, text + sizeof text, value, format, precision);
    std::string out(text, result.ec == std::errc() ? result.ptr : text);
    if (out.size() > 1 && out[0] == '-' && out.find_first_not_of("-0.e+") == std::string::npos) {
        out.erase(0, 1);
    }
    return out;
}

// A score of the title: fixed with `decimals`, or 4 significant digits for
// magnitudes beyond a million (a poor simulation's NSE can be huge).
std::string title_score(const std::optional<double>& value, int decimals) {
    if (!value || !std::isfinite(*value)) {
        return "n/a";
    }
    if (std::fabs(*value) >= 1e6) {
        return number_text(*value, std::chars_format::general, 4);
    }
    return number_text(*value, std::chars_format::fixed, decimals);
}

// A value of the page's table: 4 significant digits, whole numbers from
// 1000 on (discharge of 12345 m3 s-1 reads better so than as 1.234e+04).
std::string table_number(const std::optional<double>& value) {
    if (!value || !std::isfinite(*value)) {
        return "n/a";
    }
    const double magnitude = std::fabs(*value);
    if (magnitude >= 1000 && magnitude < 1e15) {
        return number_text(*value, std::chars_format::fixed, 0);
    }
    return number_text(*value, std::chars_format::general, 4);
}

// 10^k as the double nearest to it (0 below the smallest, infinity above
// the largest double), read from its decimal text so that no platform's
// pow() is involved.
double power_of_ten(int k) {
    char text[16] = "1e";
    const std::to_chars_result end = std::to_chars(text + 2, text + sizeof text, k);
    double value = 0;
    const std::from_chars_result read = std::from_chars(text, end.ptr, value);
    if (read.ec == std::errc::result_out_of_range) {
        return k > 0 ? std::numeric_limits<double>::infinity() : 0.0;
    }
    return value;
}

// The decimal logarithm of a finite `value` above 0, to about 15 digits,
// from IEEE arithmetic alone: value = f 2^e with f in [1/sqrt(2), sqrt(2)),
// ln f = 2 atanh(z), z = (f - 1) / (f + 1), |z| < 0.172, by its series.
double portable_log10(double value) {
    int exponent = 0;
    double fraction = std::frexp(value, &exponent);  // exact: fraction in [0.5, 1)
    if (fraction < 0.70710678118654752) {
        fraction *= 2;
        --exponent;
    }
    const double z = (fraction - 1) / (fraction + 1);
    const double z2 = z * z;
    double term = z;
    double sum = 0;
    for (int n = 1; n <= 27; n += 2) {
        sum += term / n;
        term *= z2;
    }
    const double ln2 = 0.69314718055994530942;
    const double ln10 = 2.30258509299404568402;
    return (exponent * ln2 + 2 * sum) / ln10;
}

// The largest k with 10^k <= value (finite, above 0), by comparisons with
// exactly read powers, so that 1000 is in decade 3 on every platform.
int decade_of(double value) {
    int k = static_cast<int>(std::floor(portable_log10(value)));  // within -324..308
    k = std::clamp(k, -324, 308);
    while (k > -324 && power_of_ten(k) > value) {
        --k;
    }
    while (k < 308 && power_of_ten(k + 1) <= value) {
        ++k;
    }
    return k;
}

// A pixel coordinate in tenths, rounded; anything not finite or beyond
// +-10^6 pixels (which the axes never give) held to a representable number.
std::int64_t tenths(double pixel) {
    if (!std::isfinite(pixel)) {
        return 0;
    }
    return static_cast<std::int64_t>(std::floor(std::clamp(pixel, -1e6, 1e6) * 10 + 0.5));
}

// Tenths of a pixel as SVG text: "12.3", "-0.5", "40".
std::string tenths_text(std::int64_t value) {
    std::string text = value < 0 ? "-" : "";
    const std::int64_t magnitude = value < 0 ? -value : value;
    text += std::to_string(magnitude / 10);
    if (magnitude % 10 != 0) {
        text += '.';
        text += static_cast<char>('0' + magnitude % 10);
    }
    return text;
}

std::string px(double pixel) {
    return tenths_text(tenths(pixel));
}

// ------------------------------------------------------------------ layout

constexpr int WIDTH = 960;
constexpr int HEIGHT = 480;
constexpr double PLOT_LEFT = 80;
constexpr double PLOT_RIGHT = 924;
constexpr double PLOT_TOP = 44;
constexpr double PLOT_BOTTOM = 424;
constexpr const char* SIMULATED_COLOUR = "#1f77b4";
constexpr const char* OBSERVED_COLOUR = "#222";

// ------------------------------------------------------------- value axis

struct Tick {
    double at = 0;      // on the axis's scale: the value, or its decimal logarithm
    std::string label;  // empty for a minor tick
};

// The discharge axis: from `low` to `high` on its scale (values, or decades
// of a logarithmic axis), with its ticks.
struct ValueAxis {
    bool log = false;
    double low = 0;
    double high = 1;
    std::vector<Tick> ticks;
};

// The text of the tick `count` times 10^k: digits for the sizes discharge
// has, scientific beyond them.
std::string tick_label(std::int64_t count, int k) {
    const double value = static_cast<double>(count) * power_of_ten(k);
    if (k < 0 && k >= -12) {
        return number_text(value, std::chars_format::fixed, -k);
    }
    if (k >= 0 && std::fabs(value) < 1e15) {
        return number_text(value, std::chars_format::fixed, 0);
    }
    return number_text(value, std::chars_format::general, 3);
}

// The linear axis over [low, high] (low < high, both finite): the smallest
// step of 1, 2 or 5 times a power of ten that needs at most 7 intervals,
// the axis widened to whole steps. As each step is at most 2.5 times the
// one before, which needed 8 intervals or more, 4 to 8 ticks result.
std::optional<ValueAxis> nice_linear_axis(double low, double high) {
    const double magnitude = std::max(std::fabs(low), std::fabs(high));
    const int start = decade_of(magnitude) - 3;
    const int mantissas[] = {1, 2, 5};
    for (int k = start; k <= start + 5; ++k) {
        for (const int mantissa : mantissas) {
            const double step = mantissa * power_of_ten(k);
            const double first = std::floor(low / step);
            const double last = std::ceil(high / step);
            if (!(step > 0) || last - first > 7) {
                continue;
            }
            ValueAxis axis;
            axis.low = first * step;
            axis.high = last * step;
            if (!std::isfinite(axis.low) || !std::isfinite(axis.high)) {
                return std::nullopt;
            }
            for (double n = first; n <= last; ++n) {
                const auto count =
                    static_cast<std::int64_t>(n) * mantissa;  // |n| <= 7, as 0 lies within
                axis.ticks.push_back({n * step, tick_label(count, k)});
            }
            return axis;
        }
    }
    return std::nullopt;
}

// The linear axis of values from `low` to `high` (finite, or NaN for no
// values), from 0 on as discharge is shown; the extremes of doubles, which
// no whole step fits, get an axis of their own ends.
ValueAxis linear_axis(double low, double high) {
    if (std::isnan(low)) {
        low = high = 0;
    }
    low = std::min(low, 0.0);
    high = std::max(high, 0.0);
    if (low == high) {
        high = 1;
    }
    if (std::optional<ValueAxis> axis = nice_linear_axis(low, high)) {
        return *axis;
    }
    ValueAxis axis;
    axis.low = low;
    axis.high = high;
    axis.ticks = {{low, number_text(low, std::chars_format::general, 3)},
                  {high, number_text(high, std::chars_format::general, 3)}};
    return axis;
}

// A decade's label: "0.01", "1", "1000" within 10^-4..10^5, "1e-7", "1e12"
// beyond.
std::string decade_label(int k) {
    if (k >= -4 && k <= 5) {
        return tick_label(1, k);
    }
    return "1e" + std::to_string(k);
}

// The logarithmic axis over whole decades holding `low` to `high` (above 0,
// or NaN for none): a labelled tick every decade (every few decades where
// more than 7 would be spanned: 8 ticks at most), and ticks at 2..9 times
// a decade where 4 decades or fewer are spanned (labelled at 2 and 5 times
// where 2 or fewer are).
ValueAxis log_axis(double low, double high) {
    int first = std::isnan(low) ? 0 : decade_of(low);
    int last = std::isnan(high) ? 1 : decade_of(high);
    if (!std::isnan(high) && power_of_ten(last) < high) {
        ++last;  // to the decade at or above the largest value
    }
    last = std::max(last, first + 1);
    // Decades every 1, 2, 3, 5, 10, ... (the span is at most 633 of them),
    // the axis widened to whole steps, at most 7 of them.
    int every = 1;
    for (const int step : {1, 2, 3, 5, 10, 20, 50, 100, 200, 500, 1000}) {
        every = step;
        const int from = static_cast<int>(std::floor(static_cast<double>(first) / step)) * step;
        const int to = static_cast<int>(std::ceil(static_cast<double>(last) / step)) * step;
        if ((to - from) / step <= 7) {
            first = from;
            last = to;
            break;
        }
    }
    ValueAxis axis;
    axis.log = true;
    axis.low = first;
    axis.high = last;
    for (int k = first; k <= last; k += every) {
        axis.ticks.push_back({static_cast<double>(k), decade_label(k)});
        for (int m = 2; every == 1 && last - first <= 4 && k < last && m <= 9; ++m) {
            const bool labelled = last - first <= 2 && (m == 2 || m == 5);
            axis.ticks.push_back({k + portable_log10(m), labelled ? tick_label(m, k) : ""});
        }
    }
    return axis;
}

// The height of `at` (on the axis's scale) above the plot's bottom, as a
// fraction of the plot's; halves keep the difference of the extremes of
// doubles finite.
double axis_fraction(const ValueAxis& axis, double at) {
    return (0.5 * at - 0.5 * axis.low) / (0.5 * axis.high - 0.5 * axis.low);
}

double value_y(const ValueAxis& axis, double value) {
    const double at = axis.log ? portable_log10(value) : value;
    return PLOT_BOTTOM - axis_fraction(axis, at) * (PLOT_BOTTOM - PLOT_TOP);
}

// Whether `value` is drawn on `axis`: finite, and above 0 on a log axis.
bool drawn(const ValueAxis& axis, double value) {
    return std::isfinite(value) && (!axis.log || value > 0);
}

// --------------------------------------------------------------- date axis

// Floor division, for days and months before the epoch.
std::int64_t floor_div(std::int64_t a, std::int64_t b) {
    return a / b - ((a % b != 0 && (a < 0) != (b < 0)) ? 1 : 0);
}

// The days from 1970-01-01 of a day of the proleptic Gregorian calendar
// (H. Hinnant's algorithm, in whole numbers).
std::int64_t day_number(std::int64_t year, std::int64_t month, std::int64_t day) {
    year -= month <= 2 ? 1 : 0;
    const std::int64_t era = floor_div(year, 400);
    const std::int64_t year_of_era = year - era * 400;
    const std::int64_t day_of_year = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const std::int64_t day_of_era =
        year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
    return era * 146097 + day_of_era - 719468;
}

std::int64_t day_number(const Date& date) {
    return day_number(date.year, date.month, date.day);
}

// The calendar's day of a day number (the inverse of day_number).
struct CivilDay {
    std::int64_t year = 0;
    std::int64_t month = 0;
    std::int64_t day = 0;
};

CivilDay civil_day(std::int64_t days) {
    const std::int64_t z = days + 719468;
    const std::int64_t era = floor_div(z, 146097);
    const std::int64_t day_of_era = z - era * 146097;
    const std::int64_t year_of_era =
        (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
    const std::int64_t day_of_year =
        day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
    const std::int64_t shifted_month = (5 * day_of_year + 2) / 153;  // from March
    const std::int64_t month = shifted_month < 10 ? shifted_month + 3 : shifted_month - 9;
    return {year_of_era + era * 400 + (month <= 2 ? 1 : 0), month,
            day_of_year - (153 * shifted_month + 2) / 5 + 1};
}

// A year as written in dates: at least 4 digits.
std::string year_text(std::int64_t year) {
    std::string digits = std::to_string(year < 0 ? -year : year);
    digits.insert(0, digits.size() < 4 ? 4 - digits.size() : 0, '0');
    return (year < 0 ? "-" : "") + digits;
}

std::string two_digits(std::int64_t value) {
    return std::string(1, static_cast<char>('0' + value / 10)) +
           static_cast<char>('0' + value % 10);
}

struct DateTick {
    std::int64_t day = 0;  // its day number: the tick is at the day's start
    std::string label;
};

// The days shown, `first` to `last` (day numbers).
struct DaySpan {
    std::int64_t first = 0;
    std::int64_t last = -1;  // before `first` where there are no days
};

// The ticks of a short span (up to 100 days): the 1st, 8th, 15th and 22nd
// of each month, "2019-07-08".
std::vector<DateTick> day_ticks(DaySpan span) {
    std::vector<DateTick> ticks;
    for (std::int64_t day = span.first; day <= span.last; ++day) {
        const CivilDay civil = civil_day(day);
        if (civil.day % 7 == 1 && civil.day < 29) {
            ticks.push_back({day, year_text(civil.year) + "-" + two_digits(civil.month) + "-" +
                                      two_digits(civil.day)});
        }
    }
    return ticks;
}

// The ticks at the starts of every `step`-th month (counted from year 0's
// January) or, with `years`, of every `step`-th year, within the span;
// nullopt where more than `most` would be.
std::optional<std::vector<DateTick>> period_ticks(DaySpan span, bool years, std::int64_t step,
                                                  std::size_t most) {
    // Periods numbered in months (or years) since year 0; the first that
    // starts within the span is the one after the start's, unless the span
    // begins on the first day of its period.
    const std::int64_t unit = years ? 12 : 1;
    const CivilDay start = civil_day(span.first);
    std::int64_t period = floor_div(start.year * 12 + start.month - 1, unit);
    const auto period_start = [unit](std::int64_t p) {
        const std::int64_t month = p * unit;
        return day_number(floor_div(month, 12), month - floor_div(month, 12) * 12 + 1, 1);
    };
    if (period_start(period) < span.first) {
        ++period;
    }
    period = floor_div(period + step - 1, step) * step;  // the first multiple of step
    std::vector<DateTick> ticks;
    for (; period_start(period) <= span.last; period += step) {
        if (ticks.size() == most) {
            return std::nullopt;
        }
        const std::int64_t month = period * unit;
        const std::int64_t year = floor_div(month, 12);
        ticks.push_back(
            {period_start(period),
             years ? year_text(year) : year_text(year) + "-" + two_digits(month - year * 12 + 1)});
    }
    return ticks;
}

// The date axis's ticks: days for spans up to 100 days, months every 1, 2,
// 3 or 6, or years every 1, 2, 5, 10, 20, 50, ..., the finest that gives
// at most 12 labels.
std::vector<DateTick> date_ticks(DaySpan span) {
    if (span.last < span.first) {
        return {};
    }
    if (span.last - span.first < 100) {
        return day_ticks(span);
    }
    for (const std::int64_t months : {1, 2, 3, 6}) {
        if (auto ticks = period_ticks(span, false, months, 12)) {
            return *ticks;
        }
    }
    for (std::int64_t years = 1;; years *= 10) {
        for (const std::int64_t factor : {1, 2, 5}) {
            if (auto ticks = period_ticks(span, true, years * factor, 12)) {
                return *ticks;
            }
        }
    }
}

// The x of the start of day `day`; each day has an equal slot of the
// plot's width, its values drawn at the slot's middle.
double day_x(DaySpan span, double day) {
    const double days = static_cast<double>(span.last - span.first + 1);
    return PLOT_LEFT + (day - static_cast<double>(span.first)) / days * (PLOT_RIGHT - PLOT_LEFT);
}

}  // namespace

std::string xml_escaped(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        const std::uint32_t code = next_code(text, at);
        switch (code) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&#39;";
                break;  // HTML 4 lacks &apos;
            default:
                append_utf8(out, refused_in_documents(code) ? REPLACEMENT : code);
        }
    }
    return out;
}

namespace {

// ------------------------------------------------------------------- lines

// Appends the parts to `out` (rather than adding strings up, which also
// spares GCC 12 a false -Wrestrict alarm).
void put(std::string& out, std::initializer_list<std::string_view> parts) {
    for (const std::string_view part : parts) {
        out += part;
    }
}

// The plot's scales: the days across, the discharge up.
struct Plot {
    DaySpan span;
    ValueAxis axis;
};

double value_at(const std::vector<double>& values, std::size_t day) {
    return day < values.size() ? values[day] : std::numeric_limits<double>::quiet_NaN();
}

// Appends a number of a path's data, after a space where the one before
// would otherwise run into it (a minus sign separates by itself).
void append_path_number(std::string& path, std::int64_t value, bool after_number) {
    const std::string text = tenths_text(value);
    if (after_number && text[0] != '-') {
        path += ' ';
    }
    path += text;
}

// The path data of a series: the lines of its runs of two days or more,
// and the dots of days alone.
struct SeriesPaths {
    std::string lines;
    std::string dots;
};

// The paths of a series: each run of days with a value drawn starts with an
// absolute move ("M"), then relative lines ("l") between the days' points
// in tenths of pixels, which keeps 10^4 days small. A missing value (or one
// at or below 0 on a log axis) breaks the line. A run whose points coincide
// (a single day between missing ones, as sparse observations are) goes to
// the dots, a zero-length line ("h0") that a round cap draws as a dot.
SeriesPaths series_paths(const GaugeSeries& gauge, const std::vector<double>& values,
                         const Plot& plot) {
    SeriesPaths paths;
    std::string& path = paths.lines;
    std::size_t run_start = std::string::npos;  // where the run's "M" is, while in one
    bool run_has_line = false;
    std::int64_t x = 0;
    std::int64_t y = 0;
    const auto end_run = [&] {
        if (run_start != std::string::npos && !run_has_line) {
            paths.dots.append(path, run_start).append("h0");
            path.erase(run_start);
        }
        run_start = std::string::npos;
    };
    for (std::size_t day = 0; day < gauge.dates.size(); ++day) {
        const double value = value_at(values, day);
        if (!drawn(plot.axis, value)) {
            end_run();
            continue;
        }
        const double day_middle = static_cast<double>(day_number(gauge.dates[day])) + 0.5;
        const std::int64_t next_x = tenths(day_x(plot.span, day_middle));
        const std::int64_t next_y = tenths(value_y(plot.axis, value));
        if (run_start == std::string::npos) {
            run_start = path.size();
            path += 'M';
            append_path_number(path, next_x, false);
            append_path_number(path, next_y, true);
            run_has_line = false;
        } else if (next_x != x || next_y != y) {
            path += run_has_line ? "" : "l";
            append_path_number(path, next_x - x, run_has_line);
            append_path_number(path, next_y - y, true);
            run_has_line = true;
        }
        x = next_x;
        y = next_y;
    }
    end_run();
    return paths;
}

// Appends the lines and the dots of a series, where it has any.
void append_series(std::string& svg, const SeriesPaths& paths, const char* colour,
                   const char* width) {
    if (!paths.lines.empty()) {
        put(svg,
            {"<path fill=\"none\" stroke=\"", colour, "\" stroke-width=\"", width,
             "\" stroke-linejoin=\"round\" stroke-linecap=\"round\" d=\"", paths.lines, "\"/>\n"});
    }
    if (!paths.dots.empty()) {
        put(svg, {"<path fill=\"none\" stroke=\"", colour,
                  "\" stroke-width=\"3\" stroke-linecap=\"round\" d=\"", paths.dots, "\"/>\n"});
    }
}

// --------------------------------------------------------- axes and labels

// Appends the discharge axis: grid lines, ticks and their values, and the
// axis's name with its units, turned to read upwards.
void append_value_axis(std::string& svg, const ValueAxis& axis, const std::string& units) {
    std::string grid = "<path stroke=\"#ddd\" stroke-width=\"1\" d=\"";
    std::string marks = "<path stroke=\"#444\" stroke-width=\"1\" d=\"";
    std::string labels = "<g text-anchor=\"end\">\n";
    for (const Tick& tick : axis.ticks) {
        const double y = PLOT_BOTTOM - axis_fraction(axis, tick.at) * (PLOT_BOTTOM - PLOT_TOP);
        if (tick.label.empty()) {
            put(marks, {"M", px(PLOT_LEFT - 3), " ", px(y), "h3"});
            continue;
        }
        put(grid, {"M", px(PLOT_LEFT), " ", px(y), "H", px(PLOT_RIGHT)});
        put(marks, {"M", px(PLOT_LEFT - 6), " ", px(y), "h6"});
        put(labels, {"<text x=\"", px(PLOT_LEFT - 9), "\" y=\"", px(y + 4), "\">",
                     xml_escaped(tick.label), "</text>\n"});
    }
    put(svg, {grid, "\"/>\n", marks, "\"/>\n", labels, "</g>\n"});
    const std::string name = units.empty() ? "discharge" : "discharge (" + units + ")";
    put(svg, {"<text transform=\"rotate(-90)\" x=\"", px(-(PLOT_TOP + PLOT_BOTTOM) / 2),
              "\" y=\"20\" text-anchor=\"middle\">", xml_escaped(name), "</text>\n"});
}

// Appends the date axis: grid lines and ticks at the starts of the days,
// months or years of date_ticks, with their dates below.
void append_date_axis(std::string& svg, DaySpan span) {
    std::string grid = "<path stroke=\"#ddd\" stroke-width=\"1\" d=\"";
    std::string marks = "<path stroke=\"#444\" stroke-width=\"1\" d=\"";
    std::string labels = "<g text-anchor=\"middle\">\n";
    for (const DateTick& tick : date_ticks(span)) {
        const std::string x = px(day_x(span, static_cast<double>(tick.day)));
        put(grid, {"M", x, " ", px(PLOT_TOP), "V", px(PLOT_BOTTOM)});
        put(marks, {"M", x, " ", px(PLOT_BOTTOM), "v6"});
        put(labels, {"<text x=\"", x, "\" y=\"", px(PLOT_BOTTOM + 20), "\">",
                     xml_escaped(tick.label), "</text>\n"});
    }
    put(svg, {grid, "\"/>\n", marks, "\"/>\n", labels, "</g>\n"});
}

// Appends the legend below the date axis, where it hides no part of the
// lines: a sample of each line and its name.
void append_legend(std::string& svg) {
    const double y = HEIGHT - 14;
    const char* names[] = {"simulated", "observed"};
    const char* colours[] = {SIMULATED_COLOUR, OBSERVED_COLOUR};
    const char* widths[] = {"1.5", "1.2"};
    svg += "<g>\n";
    for (int i = 0; i < 2; ++i) {
        const double left = PLOT_LEFT + 110 * i;
        put(svg, {"<path fill=\"none\" stroke=\"", colours[i], "\" stroke-width=\"", widths[i],
                  "\" d=\"M", px(left), " ", px(y - 4), "h28\"/>\n<text x=\"", px(left + 34),
                  "\" y=\"", px(y), "\">", names[i], "</text>\n"});
    }
    svg += "</g>\n";
}

// "ID (column C, row R): NSE 0.812, KGE 0.794, PBIAS -3.1 %", unescaped.
std::string title_line(const GaugeSeries& gauge) {
    return gauge.id + " (column " + std::to_string(gauge.cell.column) + ", row " +
           std::to_string(gauge.cell.row) + "): NSE " + title_score(gauge.scores.nse, 3) +
           ", KGE " + title_score(gauge.scores.kge, 3) + ", PBIAS " +
           title_score(gauge.scores.pbias, 1) + " %";
}

// The plot of a gauge: its days, and the discharge axis holding every value
// drawn of both series (finite, and above 0 on a log axis); `left_out`
// says whether a log axis leaves out values at or below 0.
Plot gauge_plot(const GaugeSeries& gauge, bool log, bool& left_out) {
    Plot plot;
    plot.axis.log = log;
    double low = std::numeric_limits<double>::quiet_NaN();
    double high = low;
    left_out = false;
    for (std::size_t day = 0; day < gauge.dates.size(); ++day) {
        const std::int64_t number = day_number(gauge.dates[day]);
        plot.span.first = day == 0 ? number : std::min(plot.span.first, number);
        plot.span.last = day == 0 ? number : std::max(plot.span.last, number);
        for (const double value : {value_at(gauge.simulated, day), value_at(gauge.observed, day)}) {
            if (!drawn(plot.axis, value)) {
                left_out = left_out || (log && std::isfinite(value));
                continue;
            }
            low = std::isnan(low) ? value : std::min(low, value);
            high = std::isnan(high) ? value : std::max(high, value);
        }
    }
    plot.axis = log ? log_axis(low, high) : linear_axis(low, high);
    return plot;
}

// Appends a note: in the middle of the plot, or beside the legend.
void append_note(std::string& svg, const std::string& note, bool in_plot) {
    const double x = in_plot ? (PLOT_LEFT + PLOT_RIGHT) / 2 : PLOT_RIGHT;
    const double y = in_plot ? (PLOT_TOP + PLOT_BOTTOM) / 2 : HEIGHT - 14;
    put(svg, {"<text x=\"", px(x), "\" y=\"", px(y), "\" text-anchor=\"",
              in_plot ? "middle" : "end", "\" fill=\"#666\">", note, "</text>\n"});
}

}  // namespace

std::string hydrograph_svg(const GaugeSeries& gauge, const std::string& units, bool log) {
    bool left_out = false;
    const Plot plot = gauge_plot(gauge, log, left_out);
    const std::string title = xml_escaped(title_line(gauge));
    std::string svg = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    svg += "<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" width=\"" +
           std::to_string(WIDTH) + "\" height=\"" + std::to_string(HEIGHT) + "\" viewBox=\"0 0 " +
           std::to_string(WIDTH) + " " + std::to_string(HEIGHT) +
           "\" font-family=\"sans-serif\" font-size=\"12\" fill=\"#222\">\n";
    svg += "<title>" + title + "</title>\n";
    svg += "<rect width=\"100%\" height=\"100%\" fill=\"#fff\"/>\n";
    svg += "<text x=\"" + px(WIDTH / 2.0) + "\" y=\"26\" text-anchor=\"middle\" font-size=\"15\">" +
           title + "</text>\n";
    append_value_axis(svg, plot.axis, units);
    append_date_axis(svg, plot.span);
    svg += "<rect x=\"" + px(PLOT_LEFT) + "\" y=\"" + px(PLOT_TOP) + "\" width=\"" +
           px(PLOT_RIGHT - PLOT_LEFT) + "\" height=\"" + px(PLOT_BOTTOM - PLOT_TOP) +
           "\" fill=\"none\" stroke=\"#444\"/>\n";
    const SeriesPaths simulated = series_paths(gauge, gauge.simulated, plot);
    const SeriesPaths observed = series_paths(gauge, gauge.observed, plot);
    append_series(svg, simulated, SIMULATED_COLOUR, "1.5");
    append_series(svg, observed, OBSERVED_COLOUR, "1.2");
    append_legend(svg);
    const bool none = simulated.lines.empty() && simulated.dots.empty() && observed.lines.empty() &&
                      observed.dots.empty();
    if (none) {
        append_note(svg, log ? "no values above 0" : "no values", true);
    } else if (left_out) {
        append_note(svg, "values at or below 0 left out (log axis)", false);
    }
    return svg + "</svg>\n";
}

namespace {

// A file `name` as a relative URL: every byte but ASCII letters, digits,
// '-', '_', '.' and '~' as "%XX". A stem's "%XX" (which stands for a byte
// of the id in the file's name) so becomes "%25XX", which the browser
// decodes back to the file's name, "%XX" literally.
std::string url_of_file(const std::string& name) {
    const char* hex = "0123456789ABCDEF";
    std::string url;
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        const bool plain = (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
                           (byte >= '0' && byte <= '9') || c == '-' || c == '_' || c == '.' ||
                           c == '~';
        if (plain) {
            url += c;
        } else {
            url += '%';
            url += hex[byte >> 4];
            url += hex[byte & 0x0F];
        }
    }
    return url;
}

// The table row of a gauge, its id linked to its hydrograph below.
std::string gauge_row(const GaugeSeries& gauge, std::size_t index) {
    const SkillScores& s = gauge.scores;
    std::string row = "<tr><td><a href=\"#gauge-" + std::to_string(index + 1) + "\">" +
                      xml_escaped(gauge.id) + "</a></td><td>" + std::to_string(gauge.cell.column) +
                      "</td><td>" + std::to_string(gauge.cell.row) + "</td><td>" +
                      std::to_string(s.days) + "</td>";
    for (const std::optional<double>* value :
         {&s.nse, &s.log_nse, &s.kge, &s.kge_prime, &s.r, &s.alpha, &s.beta, &s.gamma, &s.pbias,
          &s.rmse, &s.mean_sim, &s.mean_obs}) {
        row += "<td>" + table_number(*value) + "</td>";
    }
    return row + "</tr>\n";
}

constexpr const char* PAGE_STYLE =
    "body{font-family:sans-serif;margin:1.5em;color:#222;background:#fff}\n"
    "table{border-collapse:collapse;font-size:0.9em;margin-bottom:1.5em}\n"
    "th,td{border:1px solid #ccc;padding:0.2em 0.5em;text-align:right}\n"
    "th{background:#f2f2f2}\n"
    "th:first-child,td:first-child{text-align:left}\n"
    "img{max-width:100%;height:auto;border:1px solid #ddd}\n"
    "div.gauge{margin-bottom:2em}\n";

// The page's head and the table's header.
std::string page_head(std::size_t count, const std::string& units) {
    const std::string in_units = xml_escaped(units.empty() ? "" : " (" + units + ")");
    return "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
           "<title>Gauges: simulated and observed discharge</title>\n<style>\n" +
           std::string(PAGE_STYLE) +
           "</style>\n</head>\n<body>\n<h1>Gauges: simulated and observed discharge</h1>\n"
           "<p>" +
           std::to_string(count) + (count == 1 ? " gauge" : " gauges") +
           ". The scores are over the days paired (both a simulated and an observed value); "
           "PBIAS is positive where the simulation is too high; n/a where a score is "
           "undefined.</p>\n<table>\n<thead><tr><th>id</th><th>column</th><th>row</th>"
           "<th>days</th><th>NSE</th><th>log-NSE</th><th>KGE</th><th>KGE&#39;</th><th>r</th>"
           "<th>alpha</th><th>beta</th><th>gamma</th><th>PBIAS (%)</th><th>RMSE" +
           in_units + "</th><th>mean sim" + in_units + "</th><th>mean obs" + in_units +
           "</th></tr></thead>\n<tbody>\n";
}

}  // namespace

std::string gauges_page(const std::vector<GaugeSeries>& gauges,
                        const std::vector<std::string>& stems, const std::string& units) {
    std::string page = page_head(gauges.size(), units);
    for (std::size_t i = 0; i < gauges.size(); ++i) {
        page += gauge_row(gauges[i], i);
    }
    page += "</tbody>\n</table>\n";
    for (std::size_t i = 0; i < gauges.size(); ++i) {
        const std::string id = xml_escaped(gauges[i].id);
        page += "<div class=\"gauge\" id=\"gauge-" + std::to_string(i + 1) + "\">\n<h2>" + id +
                "</h2>\n";
        if (i < stems.size()) {
            page += "<img src=\"" + xml_escaped(url_of_file(stems[i] + ".svg")) + "\" width=\"" +
                    std::to_string(WIDTH) + "\" height=\"" + std::to_string(HEIGHT) +
                    "\" alt=\"The hydrograph of " + id + "\">\n";
        }
        page += "</div>\n";
    }
    return page + "</body>\n</html>\n";
}
