// Text in a real font, DejaVu Sans, for the annotations of pictures: dates,
// values and their units. The font is built into the program and its glyphs
// are rasterised as they are first drawn, to the same coverage bytes on every
// platform: each glyph starts at a whole pixel, so its bitmap depends only on
// the character and the pixel height.
//
// Text is UTF-8. A byte sequence that is not UTF-8, and a character the font
// has no glyph for, are drawn as '?' (one for each maximal ill-formed
// subsequence, as Unicode recommends). Kerning pairs of the font are applied.
//
// Every function may be called from several threads at once.
#ifndef DISCHARGE_IMAGE_RENDERER_TEXT_DRAWING_H
#define DISCHARGE_IMAGE_RENDERER_TEXT_DRAWING_H

#include <string_view>

#include "colour_table.h"
#include "picture.h"

// The pixel heights text can be drawn at: the height from the font's ascent
// to its descent. Others are refused with std::out_of_range.
inline constexpr int MIN_TEXT_HEIGHT = 1;
inline constexpr int MAX_TEXT_HEIGHT = 256;

// The font's lines at a pixel height, in whole pixels, each rounded to the
// nearest: `ascent` above the baseline, `descent` below it (both zero or
// positive, their sum within a pixel of the height), and `line_gap` the
// font's extra space between a line's descent and the next line's ascent.
struct FontMetrics {
    int ascent = 0;
    int descent = 0;
    int line_gap = 0;
};
FontMetrics font_metrics(int pixel_height);

// How far `text` advances the pen at `pixel_height`, in pixels: where the
// next character would begin. Some glyphs reach a pixel or two outside it.
int text_width(std::string_view text, int pixel_height);

// Draws `text` with its baseline on row `baseline` and its pen starting at
// column `left`, in `ink`. Each pixel's coverage a (0 to 255) blends the ink
// over the pixel: channel = (old * (255 - a) + ink * a + 127) / 255. What
// falls outside the picture is left out; a picture whose pixels do not number
// width x height is left as it is.
void draw_text(Picture& picture, int left, int baseline, std::string_view text, int pixel_height,
               Rgb ink);

#endif  // DISCHARGE_IMAGE_RENDERER_TEXT_DRAWING_H
