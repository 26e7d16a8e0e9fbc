#include "annotation.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <string>

#include "text_drawing.h"

namespace {

constexpr int MIN_TEXT_HEIGHT_OF_FRAME = 12;
constexpr int MAX_TEXT_HEIGHT_OF_FRAME = 40;
// The narrowest ramp of a band's legend.
constexpr int MIN_BAND_RAMP = 160;

int padding_of(int text_height) {
    return std::max(4, text_height / 2);
}

// The date is written a quarter larger than the rest.
int date_height_of(int text_height) {
    return text_height * 5 / 4;
}

// Where the legend starts in the band: below the line of the date.
int legend_top_of(int text_height) {
    const FontMetrics date = font_metrics(date_height_of(text_height));
    return padding_of(text_height) + date.ascent + date.descent + padding_of(text_height) / 2;
}

// The pixel rows of an annotated PPM: the band's, then each pixel row of the
// map followed by the background that fills it out to the frame's width.
struct PaddedWriter {
    OutputFile& image;
    std::span<const char> padding;
    std::vector<std::span<const char>> pieces;
    bool operator()(std::span<const std::span<const char>> rows) {
        pieces.clear();
        for (const std::span<const char> row : rows) {
            pieces.push_back(row);
            if (!padding.empty()) {
                pieces.push_back(padding);
            }
        }
        return write_output_pieces(image, pieces);
    }
};

// `text` where it fits in `room` pixels at `height`, else as much of it as
// fits with "..." after it: long units must not run over the date. A
// character of several bytes of UTF-8 is kept or left out whole.
std::string fitted_text(const std::string& text, int height, int room) {
    if (text_width(text, height) <= room) {
        return text;
    }
    std::string kept = text;
    while (!kept.empty()) {
        // The last character: its continuation bytes, then its first.
        while (!kept.empty() && (static_cast<unsigned char>(kept.back()) & 0xC0) == 0x80) {
            kept.pop_back();
        }
        if (!kept.empty()) {
            kept.pop_back();
        }
        if (text_width(kept + "...", height) <= room) {
            return kept + "...";
        }
    }
    return "...";
}

}  // namespace

std::optional<FrameLayout> frame_layout(std::int32_t ncols, std::int32_t nrows,
                                        std::uint32_t scale) {
    const std::int64_t map_width = std::int64_t{ncols} * scale;
    const std::int64_t map_height = std::int64_t{nrows} * scale;
    if (ncols < 1 || nrows < 1 || map_width > INT_MAX / 2 || map_height > INT_MAX / 2) {
        return std::nullopt;
    }
    FrameLayout layout;
    layout.map_width = static_cast<int>(map_width);
    layout.map_height = static_cast<int>(map_height);
    layout.text_height =
        std::clamp(layout.map_width / 60, MIN_TEXT_HEIGHT_OF_FRAME, MAX_TEXT_HEIGHT_OF_FRAME);
    const int padding = padding_of(layout.text_height);
    const LegendLayout legend =
        legend_layout({layout.text_height, {}, {}, MIN_BAND_RAMP}, padding, 0);
    layout.width = std::max(layout.map_width, legend.width + 2 * padding);
    layout.band_height = legend_top_of(layout.text_height) + legend.height + padding;
    if (map_height + layout.band_height > INT_MAX / 2) {
        return std::nullopt;
    }
    return layout;
}

std::string date_text(YearMonth month, std::int32_t day) {
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", static_cast<int>(month.year),
                  static_cast<int>(month.month), static_cast<int>(day));
    return text;
}

Picture draw_frame_band(const FrameLayout& layout, const FrameCaption& caption) {
    const BandColours colours = band_colours(caption.palette);
    Picture band = filled_picture(layout.width, layout.band_height, colours.background);
    const int h = layout.text_height;
    const int padding = padding_of(h);
    const int date_height = date_height_of(h);
    const int baseline = padding + font_metrics(date_height).ascent;
    draw_text(band, padding, baseline, caption.date, date_height, colours.ink);
    const int room = layout.width - 3 * padding - text_width(caption.date, date_height);
    const std::string units = fitted_text("discharge, " + caption.units, h, room);
    draw_text(band, layout.width - padding - text_width(units, h), baseline, units, h, colours.ink);
    // A line of ink closes the band, which may be of the colour of no
    // discharge.
    for (int x = 0; x < layout.width; ++x) {
        band.pixels[static_cast<std::size_t>(layout.band_height - 1) *
                        static_cast<std::size_t>(layout.width) +
                    static_cast<std::size_t>(x)] = colours.ink;
    }
    const std::optional<LegendStyle> style =
        legend_style_of_width(layout.width - 2 * padding, h, colours.background, colours.ink);
    if (style) {
        draw_legend_into(band, legend_layout(*style, padding, legend_top_of(h)), caption.range,
                         caption.palette, *style);
    }
    return band;
}

std::uint64_t annotated_ppm_bytes(const FrameLayout& layout) {
    const std::string header = "P6\n" + std::to_string(layout.width) + " " +
                               std::to_string(layout.band_height + layout.map_height) + "\n255\n";
    return header.size() + std::uint64_t{3} * static_cast<std::uint64_t>(layout.width) *
                               static_cast<std::uint64_t>(layout.band_height + layout.map_height);
}

void write_annotated_ppm(OutputFile& image, const LevelGrid& grid, DayCanvas& canvas,
                         const FrameLayout& layout, const Picture& band) {
    const std::string header = "P6\n" + std::to_string(layout.width) + " " +
                               std::to_string(layout.band_height + layout.map_height) + "\n255\n";
    std::string bytes = header;
    bytes.reserve(header.size() + band.pixels.size() * 3);
    for (const Rgb& pixel : band.pixels) {
        bytes += {static_cast<char>(pixel.red), static_cast<char>(pixel.green),
                  static_cast<char>(pixel.blue)};
    }
    write_output_file(image, bytes.data(), bytes.size());
    const Rgb background = band_colours(canvas.palette).background;
    std::string padding;
    for (int x = layout.map_width; x < layout.width; ++x) {
        padding += {static_cast<char>(background.red), static_cast<char>(background.green),
                    static_cast<char>(background.blue)};
    }
    PaddedWriter padded{image, padding, {}};
    write_raster(
        grid, canvas.scale, canvas.pixel_rows,
        [&padded](std::span<const std::span<const char>> rows) { return padded(rows); },
        widest_vector_kernel(), canvas.palette);
}

std::vector<Rgb> frame_colour_table(Palette palette) {
    std::vector<Rgb> colours = colour_table(palette).colours;
    const Rgb background = band_colours(palette).background;
    if (std::find(colours.begin(), colours.end(), background) == colours.end()) {
        colours.push_back(background);
    }
    return colours;
}

namespace {

// The entry of `colours` that a band pixel is drawn in: its own colour's, or
// for a pixel of text, blended between background and ink, the nearer of
// the two.
std::uint8_t band_entry(Rgb pixel, const std::vector<Rgb>& colours, std::uint8_t background,
                        std::uint8_t ink) {
    const auto found = std::find(colours.begin(), colours.end(), pixel);
    if (found != colours.end()) {
        return static_cast<std::uint8_t>(found - colours.begin());
    }
    const auto distance = [pixel](Rgb colour) {
        const int red = pixel.red - colour.red;
        const int green = pixel.green - colour.green;
        const int blue = pixel.blue - colour.blue;
        return red * red + green * green + blue * blue;
    };
    return distance(colours[ink]) < distance(colours[background]) ? ink : background;
}

}  // namespace

void frame_indices(const LevelGrid& grid, std::uint32_t scale, const FrameLayout& layout,
                   const Picture& band, Palette palette, std::vector<std::uint8_t>& indices) {
    const std::vector<Rgb> colours = frame_colour_table(palette);
    const BandColours band_colour = band_colours(palette);
    const auto entry_of = [&colours](Rgb colour) {
        return static_cast<std::uint8_t>(std::find(colours.begin(), colours.end(), colour) -
                                         colours.begin());
    };
    const std::uint8_t background = entry_of(band_colour.background);
    const std::uint8_t ink = entry_of(band_colour.ink);
    const std::size_t width = static_cast<std::size_t>(layout.width);
    indices.assign(width * static_cast<std::size_t>(layout.band_height + layout.map_height),
                   background);
    for (std::size_t i = 0; i < band.pixels.size(); ++i) {
        indices[i] = band_entry(band.pixels[i], colours, background, ink);
    }
    const ColourTable& table = colour_table(palette);
    const std::size_t ncols = static_cast<std::size_t>(grid.ncols);
    std::vector<std::uint16_t> cell_indices(ncols);
    std::size_t y = static_cast<std::size_t>(layout.band_height);
    // North at the top: the last stored row first.
    for (std::size_t row = static_cast<std::size_t>(grid.nrows); row-- > 0;) {
        colour_indices(&grid.levels[row * ncols], ncols, cell_indices.data());
        std::uint8_t* line = &indices[y * width];
        for (std::size_t column = 0; column < ncols; ++column) {
            std::fill_n(line + column * scale, scale, table.entry[cell_indices[column]]);
        }
        for (std::uint32_t repeat = 1; repeat < scale; ++repeat) {
            std::copy_n(line, ncols * scale, line + repeat * width);
        }
        y += scale;
    }
}
