// Annotated frames: above the map of a day a band with its date, the units
// of the discharge and the legend of the frame's range, stretch and palette,
// in the colours of the palette's band (band_colours()). The map's pixels
// are those of the plain frame, moved down by the band; where the map is
// narrower than the band needs, the frame is as wide as the band and the
// map's rows are filled out to the right in the band's background.
#ifndef DISCHARGE_IMAGE_RENDERER_ANNOTATION_H
#define DISCHARGE_IMAGE_RENDERER_ANNOTATION_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "discharge_image.h"
#include "legend.h"
#include "picture.h"

// Where the parts of an annotated frame are, in pixels.
struct FrameLayout {
    int width = 0;        // of the frame
    int band_height = 0;  // rows of the band, above the map
    int map_width = 0;    // the map's columns: the grid's at the frame's scale
    int map_height = 0;
    int text_height = 0;  // of the units and the legend; the date is larger
};

// The layout of the annotated frame of an ncols x nrows grid at `scale`
// pixels a cell: text a sixtieth of the map's width high, from 12 to 40
// pixels, so that a map of 1200 pixels gets text of 20 and a small one text
// still readable. Nullopt where the frame's sides do not fit in an int.
std::optional<FrameLayout> frame_layout(std::int32_t ncols, std::int32_t nrows,
                                        std::uint32_t scale);

// What a band says: "2019-07-12", the units, and the colours.
struct FrameCaption {
    std::string date;
    std::string units;
    ValueRange range;
    Palette palette = Palette::classic;
};

// The band of a frame as `layout` places it, `layout.width` x
// `layout.band_height` pixels.
Picture draw_frame_band(const FrameLayout& layout, const FrameCaption& caption);

// "YYYY-MM-DD".
std::string date_text(YearMonth month, std::int32_t day);

// Writes the annotated PPM of `grid` at canvas.scale in canvas.palette, with
// `band` above it, into `image`, created and empty, through the canvas's
// pixel rows; what fails to be written fails the image when it is
// committed.
void write_annotated_ppm(OutputFile& image, const LevelGrid& grid, DayCanvas& canvas,
                         const FrameLayout& layout, const Picture& band);

// The bytes of an annotated PPM of `layout`.
std::uint64_t annotated_ppm_bytes(const FrameLayout& layout);

// The annotated frame of `grid` at `scale` under `band` as indices of the
// colours of `table` (colour_frame_table()): rows from the top.
void frame_indices(const LevelGrid& grid, std::uint32_t scale, const FrameLayout& layout,
                   const Picture& band, Palette palette, std::vector<std::uint8_t>& indices);

// The colours of an annotated frame in `palette` with at most 256 entries
// (as a GIF holds): the palette's table, then the band's background where
// no entry has its colour. The band's text is drawn in the one entry
// nearest each of its pixels, the background or the ink, so that it needs
// no colours of its own.
std::vector<Rgb> frame_colour_table(Palette palette);

#endif  // DISCHARGE_IMAGE_RENDERER_ANNOTATION_H
