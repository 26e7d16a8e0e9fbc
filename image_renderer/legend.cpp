#include "legend.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "text_drawing.h"

namespace {

// The space between the swatches and the ramp.
int gap_of(int text_height) {
    return std::max(4, text_height);
}

// The discharge of ramp column x of `columns`: the minimum at the left, the
// maximum at the right, linear between; for a log stretch linear in the
// logarithm, as a logarithmic axis is.
float ramp_value(int x, int columns, ValueRange range) {
    if (x == columns - 1) {
        return range.maximum;
    }
    if (range.stretch == Stretch::log) {
        return static_cast<float>(
            stretch_value(static_cast<double>(x) / static_cast<double>(columns - 1), range));
    }
    const float share = static_cast<float>(x) / static_cast<float>(columns - 1);
    return range.minimum + (range.maximum - range.minimum) * share;
}

// Four significant digits: a legend is read, not computed with.
std::string value_text(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.4g", value);
    return text;
}

// The columns that a label's text covers, centred on its tick where the
// ramp leaves room for it, else against the ramp's end, so that it keeps
// clear of the swatches' names.
struct Span {
    int left = 0;
    int right = 0;  // one past the last column
};
Span text_span(const std::string& text, int centre, const LegendLayout& layout, int text_height) {
    const int width = text_width(text, text_height);
    const int lowest = layout.ramp_left;
    const int highest = layout.ramp_left + layout.ramp_width;
    const int left = std::max(lowest, std::min(centre - width / 2, highest - width));
    return {left, left + width};
}

// Whether the texts of labels `a` and `b`, in the same row, come closer than
// the space of half a line.
bool crowded(const LegendLabel& a, const LegendLabel& b, const LegendLayout& layout,
             int text_height) {
    const Span first = text_span(a.text, a.column, layout, text_height);
    const Span second = text_span(b.text, b.column, layout, text_height);
    const int space = text_height / 2;
    return first.left < second.right + space && second.left < first.right + space;
}

// Whether the tick of `lower`, a label of the second row, which reaches down
// past the first row, runs through the text of `upper`, of the first row.
bool tick_through(const LegendLabel& upper, const LegendLabel& lower, const LegendLayout& layout,
                  int text_height) {
    const Span text = text_span(upper.text, upper.column, layout, text_height);
    const int space = std::max(2, text_height / 6);
    return lower.column >= text.left - space && lower.column < text.right + space;
}

// The first label that crowds another has to give way: its text too close
// to another's in its row, or the tick of a label of the second row through
// the text of one of the first. The later one gives way, and never an end;
// 0 for none.
std::size_t label_giving_way(const std::vector<LegendLabel>& labels, const LegendLayout& layout,
                             int text_height) {
    for (std::size_t later = 1; later < labels.size(); ++later) {
        for (std::size_t earlier = 0; earlier < later; ++earlier) {
            const LegendLabel& a = labels[earlier];
            const LegendLabel& b = labels[later];
            const bool clash = a.row == b.row ? crowded(a, b, layout, text_height)
                               : a.row == 0   ? tick_through(a, b, layout, text_height)
                                              : tick_through(b, a, layout, text_height);
            if (!clash) {
                continue;
            }
            const std::size_t giving_way = later + 1 < labels.size() ? later : earlier;
            if (giving_way != 0) {
                return giving_way;
            }
        }
    }
    return 0;
}

void fill(Picture& picture, int left, int top, int width, int height, Rgb colour) {
    for (int y = std::max(0, top); y < std::min(picture.height, top + height); ++y) {
        for (int x = std::max(0, left); x < std::min(picture.width, left + width); ++x) {
            picture.pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(picture.width) +
                           static_cast<std::size_t>(x)] = colour;
        }
    }
}

// A swatch of `colour` with an outline of ink, so that it shows on a
// background of its own colour, and its name centred below it.
void draw_swatch(Picture& picture, int left, int width, const LegendLayout& layout, Rgb colour,
                 const char* name, const LegendStyle& style) {
    const int side = layout.bar;
    const int swatch_left = left + (width - side) / 2;
    fill(picture, swatch_left, layout.top, side, side, style.ink);
    fill(picture, swatch_left + 1, layout.top + 1, side - 2, side - 2, colour);
    const int name_left = left + (width - text_width(name, style.text_height)) / 2;
    const int baseline =
        layout.top + layout.bar + layout.tick + font_metrics(style.text_height).ascent;
    draw_text(picture, name_left, baseline, name, style.text_height, style.ink);
}

}  // namespace

LegendLayout legend_layout(const LegendStyle& style, int left, int top) {
    const int h = style.text_height;
    const FontMetrics metrics = font_metrics(h);
    const int gap = gap_of(h);
    LegendLayout layout;
    layout.left = left;
    layout.top = top;
    layout.bar = h * 3 / 2;
    layout.tick = std::max(3, h / 2);
    layout.line = metrics.ascent + metrics.descent + std::max(2, h / 6);
    layout.none_width = std::max(layout.bar, text_width(NONE_SWATCH_NAME, h));
    layout.above_width = std::max(layout.bar, text_width(ABOVE_SWATCH_NAME, h));
    layout.ramp_left = left + layout.none_width + gap;
    layout.ramp_width = style.ramp_width;
    layout.above_left = layout.ramp_left + layout.ramp_width + gap;
    layout.width = layout.above_left + layout.above_width - left;
    layout.height = layout.bar + layout.tick + 2 * layout.line;
    return layout;
}

std::optional<LegendStyle> legend_style_of_width(int width, int text_height, Rgb background,
                                                 Rgb ink) {
    LegendStyle style{text_height, background, ink, 0};
    const LegendLayout bare = legend_layout(style);
    style.ramp_width = width - bare.width;
    if (style.ramp_width < 64) {
        return std::nullopt;
    }
    return style;
}

std::vector<LegendLabel> legend_labels(ValueRange range, const LegendLayout& layout,
                                       int text_height) {
    // The ends, with the range's own values, and between them the first
    // columns at the levels 63, 127 and 191. A mark that the ramp reaches
    // only at its last column would take the maximum's place: it is left
    // out. (Below a negative minimum the ramp has no colour up to zero
    // discharge, and then jumps to a level reached nowhere before.)
    const int columns = layout.ramp_width;
    std::vector<LegendLabel> labels{{layout.ramp_left, 0, value_text(range.minimum)}};
    const std::array<std::int32_t, 3> marked_levels = {63, 127, 191};
    std::size_t next_mark = 0;
    for (int x = 1; x < columns - 1 && next_mark < marked_levels.size(); ++x) {
        if (discharge_level(ramp_value(x, columns, range), range) >= marked_levels[next_mark]) {
            const double value = stretch_value(marked_levels[next_mark] / 255.0, range);
            labels.push_back({layout.ramp_left + x, 0, value_text(value)});
            ++next_mark;
        }
    }
    labels.push_back({layout.ramp_left + columns - 1, 0, value_text(range.maximum)});
    // Alternately in the two rows, so that the labels of nearby ticks do
    // not meet. Where two in a row still would, the later mark gives way,
    // and never an end: the rows are then dealt again without it.
    for (;;) {
        for (std::size_t i = 0; i < labels.size(); ++i) {
            labels[i].row = static_cast<int>(i % 2);
        }
        const std::size_t giving_way = label_giving_way(labels, layout, text_height);
        if (giving_way == 0) {
            return labels;
        }
        labels.erase(labels.begin() + static_cast<std::ptrdiff_t>(giving_way));
    }
}

void draw_legend_into(Picture& picture, const LegendLayout& layout, ValueRange range,
                      Palette palette, const LegendStyle& style) {
    draw_swatch(picture, layout.left, layout.none_width, layout,
                indexed_colour(NONE_INDEX, palette), NONE_SWATCH_NAME, style);
    draw_swatch(picture, layout.above_left, layout.above_width, layout,
                indexed_colour(ABOVE_INDEX, palette), ABOVE_SWATCH_NAME, style);
    for (int x = 0; x < layout.ramp_width; ++x) {
        const std::int32_t level = discharge_level(ramp_value(x, layout.ramp_width, range), range);
        fill(picture, layout.ramp_left + x, layout.top, 1, layout.bar,
             indexed_colour(colour_index(level), palette));
    }
    // Each label below its tick, which reaches down to its row.
    const int ascent = font_metrics(style.text_height).ascent;
    for (const LegendLabel& label : legend_labels(range, layout, style.text_height)) {
        const int tick_top = layout.top + layout.bar;
        const int tick_end = tick_top + layout.tick + label.row * layout.line;
        fill(picture, label.column, tick_top, 1, tick_end - tick_top, style.ink);
        const Span span = text_span(label.text, label.column, layout, style.text_height);
        draw_text(picture, span.left, tick_end + ascent, label.text, style.text_height, style.ink);
    }
}

LegendLayout legend_picture_layout() {
    const int margin = gap_of(LegendStyle{}.text_height) / 2;
    return legend_layout({}, margin, margin);
}

Picture draw_legend(ValueRange range, Palette palette) {
    const LegendStyle style;
    const LegendLayout layout = legend_picture_layout();
    Picture picture = filled_picture(layout.width + 2 * layout.left, layout.height + 2 * layout.top,
                                     style.background);
    draw_legend_into(picture, layout, range, palette, style);
    return picture;
}

bool write_picture(const std::string& path, const Picture& picture, std::string& reason) {
    std::string bytes =
        "P6\n" + std::to_string(picture.width) + " " + std::to_string(picture.height) + "\n255\n";
    for (const Rgb& pixel : picture.pixels) {
        bytes += {static_cast<char>(pixel.red), static_cast<char>(pixel.green),
                  static_cast<char>(pixel.blue)};
    }
    return write_whole_output(path, bytes, false, reason);
}
