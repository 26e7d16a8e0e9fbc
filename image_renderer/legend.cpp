#include "legend.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace {

constexpr int SWATCH = 48;  // width of the black and the yellow swatch
constexpr int GAP = 12;
constexpr int RAMP = 512;
constexpr int RAMP_LEFT = SWATCH + GAP;
constexpr int WIDTH = SWATCH + GAP + RAMP + GAP + SWATCH;
constexpr int BAR = 48;   // height of the colours
constexpr int TICK = 8;   // tick marks below the ramp
constexpr int SCALE = 2;  // each dot of a glyph is 2 x 2 pixels
constexpr int GLYPH_WIDTH = 5;
constexpr int GLYPH_HEIGHT = 7;
constexpr int ADVANCE = (GLYPH_WIDTH + 1) * SCALE;
constexpr int LINE = (GLYPH_HEIGHT + 3) * SCALE;  // a row of labels
// Labels in two rows, so that those of nearby ticks (the minimum and cyan,
// at 6 % of the range) never overlap.
constexpr int HEIGHT = BAR + TICK + 2 * LINE + 4;
constexpr Rgb WHITE{255, 255, 255};
constexpr Rgb BLACK{0, 0, 0};

// The characters a value is written with, each 5 x 7 dots, row by row.
struct Glyph {
    char character;
    std::array<const char*, GLYPH_HEIGHT> rows;
};
constexpr Glyph FONT[] = {
    {'0', {" ### ", "#   #", "#  ##", "# # #", "##  #", "#   #", " ### "}},
    {'1', {"  #  ", " ##  ", "  #  ", "  #  ", "  #  ", "  #  ", " ### "}},
    {'2', {" ### ", "#   #", "    #", "   # ", "  #  ", " #   ", "#####"}},
    {'3', {"#####", "   # ", "  #  ", "   # ", "    #", "#   #", " ### "}},
    {'4', {"   # ", "  ## ", " # # ", "#  # ", "#####", "   # ", "   # "}},
    {'5', {"#####", "#    ", "#### ", "    #", "    #", "#   #", " ### "}},
    {'6', {"  ## ", " #   ", "#    ", "#### ", "#   #", "#   #", " ### "}},
    {'7', {"#####", "    #", "   # ", "  #  ", " #   ", " #   ", " #   "}},
    {'8', {" ### ", "#   #", "#   #", " ### ", "#   #", "#   #", " ### "}},
    {'9', {" ### ", "#   #", "#   #", " ####", "    #", "   # ", " ##  "}},
    {'.', {"     ", "     ", "     ", "     ", "     ", " ##  ", " ##  "}},
    {'-', {"     ", "     ", "     ", "#####", "     ", "     ", "     "}},
    {'+', {"     ", "  #  ", "  #  ", "#####", "  #  ", "  #  ", "     "}},
    {'e', {"     ", "     ", " ### ", "#   #", "#####", "#    ", " ### "}},
};

const Glyph* glyph_of(char character) {
    for (const Glyph& glyph : FONT) {
        if (glyph.character == character) {
            return &glyph;
        }
    }
    return nullptr;
}

struct Canvas {
    Picture& picture;
    Rgb& at(int x, int y) { return picture.pixels[static_cast<std::size_t>(y * WIDTH + x)]; }
    void put(int x, int y, Rgb colour) {
        if (x >= 0 && x < WIDTH && y >= 0 && y < HEIGHT) {
            at(x, y) = colour;
        }
    }
};

// The columns that `text` covers, centred on column `centre` where the
// picture leaves room for it, else against the picture's edge.
struct Span {
    int left = 0;
    int right = 0;  // one past the last column
};
Span text_span(const std::string& text, int centre) {
    const int width = static_cast<int>(text.size()) * ADVANCE - SCALE;
    const int left = std::max(0, std::min(centre - width / 2, WIDTH - width));
    return {left, left + width};
}

// Writes `text` centred on column `centre`, its top at `top`.
void write_text(Canvas& canvas, const std::string& text, int centre, int top) {
    int left = text_span(text, centre).left;
    for (const char character : text) {
        if (const Glyph* glyph = glyph_of(character)) {
            for (int row = 0; row < GLYPH_HEIGHT; ++row) {
                for (int dot = 0; dot < GLYPH_WIDTH; ++dot) {
                    if (glyph->rows[static_cast<std::size_t>(row)][dot] != '#') {
                        continue;
                    }
                    for (int y = 0; y < SCALE; ++y) {
                        for (int x = 0; x < SCALE; ++x) {
                            canvas.put(left + dot * SCALE + x, top + row * SCALE + y, BLACK);
                        }
                    }
                }
            }
        }
        left += ADVANCE;
    }
}

// The discharge of ramp column x: the minimum at the left, the maximum at
// the right, linear between; for a log stretch linear in the logarithm, as
// a logarithmic axis is.
float ramp_value(int x, ValueRange range) {
    if (x == RAMP - 1) {
        return range.maximum;
    }
    if (range.stretch == Stretch::log) {
        return static_cast<float>(
            stretch_value(static_cast<double>(x) / static_cast<double>(RAMP - 1), range));
    }
    const float share = static_cast<float>(x) / static_cast<float>(RAMP - 1);
    return range.minimum + (range.maximum - range.minimum) * share;
}

// Four significant digits: a legend is read, not computed with.
std::string value_text(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.4g", value);
    return text;
}

// Where the ramp reaches `level`, under the range's stretch.
double value_at_level(std::int32_t level, ValueRange range) {
    return stretch_value(static_cast<double>(level) / 255.0, range);
}

// Whether the texts of labels `a` and `b`, in the same row, come closer than
// the space of a character.
bool crowded(const LegendLabel& a, const LegendLabel& b) {
    const Span first = text_span(a.text, a.column);
    const Span second = text_span(b.text, b.column);
    return first.left < second.right + ADVANCE && second.left < first.right + ADVANCE;
}

}  // namespace

std::vector<LegendLabel> legend_labels(ValueRange range) {
    // The ends, with the range's own values, and between them the first
    // columns at cyan (level 63), green (127) and yellow (191). A mark that
    // the ramp reaches only at its last column would take the maximum's
    // place: it is left out. (Below a negative minimum the ramp is black up
    // to zero discharge, and then jumps to a level reached nowhere before.)
    std::vector<LegendLabel> labels{{RAMP_LEFT, 0, value_text(range.minimum)}};
    const std::array<std::int32_t, 3> marked_levels = {63, 127, 191};
    std::size_t next_mark = 0;
    for (int x = 1; x < RAMP - 1 && next_mark < marked_levels.size(); ++x) {
        if (discharge_level(ramp_value(x, range), range) >= marked_levels[next_mark]) {
            labels.push_back(
                {RAMP_LEFT + x, 0, value_text(value_at_level(marked_levels[next_mark], range))});
            ++next_mark;
        }
    }
    labels.push_back({RAMP_LEFT + RAMP - 1, 0, value_text(range.maximum)});
    // Alternately in the two rows, so that the labels of nearby ticks (the
    // minimum and cyan, at 6 % of the range) do not meet. Where two in a row
    // still would, the later mark gives way, and never an end: the rows are
    // then dealt again without it.
    for (;;) {
        for (std::size_t i = 0; i < labels.size(); ++i) {
            labels[i].row = static_cast<int>(i % 2);
        }
        std::size_t giving_way = 0;  // none: the minimum never gives way
        for (std::size_t later = 2; later < labels.size() && giving_way == 0; ++later) {
            for (std::size_t earlier = later % 2; earlier < later; earlier += 2) {
                if (crowded(labels[earlier], labels[later])) {
                    giving_way = later + 1 < labels.size() ? later : earlier;
                    break;
                }
            }
        }
        if (giving_way == 0) {
            return labels;
        }
        labels.erase(labels.begin() + static_cast<std::ptrdiff_t>(giving_way));
    }
}

Picture draw_legend(ValueRange range, Palette palette) {
    Picture picture{WIDTH, HEIGHT,
                    std::vector<Rgb>(static_cast<std::size_t>(WIDTH * HEIGHT), WHITE)};
    Canvas canvas{picture};
    const Rgb no_discharge = indexed_colour(NONE_INDEX, palette);
    const Rgb above = indexed_colour(ABOVE_INDEX, palette);
    for (int x = 0; x < SWATCH; ++x) {
        for (int y = 0; y < BAR; ++y) {
            canvas.at(x, y) = no_discharge;
            canvas.at(WIDTH - 1 - x, y) = above;
        }
    }
    for (int x = 0; x < RAMP; ++x) {
        const Rgb colour =
            indexed_colour(colour_index(discharge_level(ramp_value(x, range), range)), palette);
        for (int y = 0; y < BAR; ++y) {
            canvas.at(RAMP_LEFT + x, y) = colour;
        }
    }
    // Each label below its tick, which reaches down to its row.
    for (const LegendLabel& label : legend_labels(range)) {
        const int tick_end = BAR + TICK + label.row * LINE;
        for (int y = BAR; y < tick_end; ++y) {
            canvas.at(label.column, y) = BLACK;
        }
        write_text(canvas, label.text, label.column, tick_end + 2);
    }
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
