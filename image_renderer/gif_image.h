// Writing days of discharge as one animated GIF (GIF89a), through giflib:
// each frame a picture of width x height palette indices with its own local
// colour table of up to 256 colours, shown for its own delay, the whole
// animation looping forever. Every frame covers the whole canvas, so a frame
// simply replaces the one before it. The bytes written are the same on
// every platform: giflib's LZW coder is all integers, and nothing here
// depends on the machine. Only discharge_term writes GIF.
#ifndef DISCHARGE_IMAGE_RENDERER_GIF_IMAGE_H
#define DISCHARGE_IMAGE_RENDERER_GIF_IMAGE_H

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "colour_table.h"
#include "discharge_image.h"

// giflib's state of one file being written (gif_lib.h).
struct GifFileType;

// Where giflib's bytes go: collected into pieces of some tens of kB, which
// reach `write` whole. Once `write` has failed nothing more reaches it, nor
// anything giflib writes as an abandoned animation is freed (its trailer).
struct GifSink {
    PieceWriter write;
    std::vector<char> pending;
    bool failed = false;  // `write` returned false once
};

// Frees giflib's state of an animation without writing anything more.
struct GifFileCloser {
    void operator()(GifFileType* gif) const;
};

// An animation being written. Destroying one that was begun but not
// finished frees giflib's state and writes no trailer: what was written
// stays a truncated GIF, which the caller's output (an OutputFile that
// appears whole or not at all) discards.
struct GifAnimation {
    std::unique_ptr<GifSink> sink;  // at a fixed address, which giflib keeps
    std::unique_ptr<GifFileType, GifFileCloser> gif;
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> row;  // a row of indices, which giflib alters as it codes
    bool failed = false;            // a step failed: the animation can only be abandoned
};

// The largest side of a GIF canvas, in pixels (the format's 16-bit fields).
inline constexpr int GIF_SIDE_MAX = 65535;

// Starts an animation (abandoning any that `animation` was writing) of
// width x height pixels (1 to GIF_SIDE_MAX each) that loops forever (the
// NETSCAPE2.0 application extension, loop count 0), writing through `write`:
// the GIF89a header, the logical screen (no global colour table) and the
// loop extension. Returns false if `write` failed, or with `reason` set if
// the size is out of bounds or giflib fails.
bool begin_gif_animation(GifAnimation& animation, int width, int height, const PieceWriter& write,
                         std::string& reason);

// Adds one frame: `indices` holds width x height entries of `colours`, rows
// from the top, and `colours` 1 to 256 colours (its local colour table,
// padded with black to the power of two that GIF needs, at least 2). The
// frame is shown for `delay` hundredths of a second (gif_frame_delay()).
// Where `transparent` names an entry of `colours`, a pixel of that entry
// leaves the pixel of the frames before it showing: a frame need hold only
// what changed, and runs of the entry code to next to nothing.
// Returns false if `write` failed, or with `reason` set if giflib fails, or
// if the frame does not fit the canvas or its colours (a frame refused so
// leaves the animation as it was); and false without a reason once an
// earlier step failed.
bool add_gif_frame(GifAnimation& animation, std::span<const std::uint8_t> indices,
                   std::span<const Rgb> colours, std::uint16_t delay, std::string& reason,
                   std::optional<std::uint8_t> transparent = std::nullopt);

// Writes the trailer and the bytes still collected, and ends the animation.
// Returns false if `write` failed, with `reason` set if the animation was
// never begun, and false without a reason once an earlier step failed.
bool finish_gif_animation(GifAnimation& animation, std::string& reason);

// The delay of frame `frame` (0 the first) of an animation of `fps` frames a
// second (more than 0, at most 100), in the hundredths of a second that GIF
// counts in: the delays up to and including frame k add up to 100 (k + 1) /
// fps rounded to the nearest hundredth, a half down, so that the animation
// keeps time however long it runs: 8 frames a second give 12, 13, 12, 13,
// ... A whole number of frames a second is computed in integers, exactly;
// any other (2.5) in double precision, the same on every platform. Delays
// longer than 65535 (fps below about 0.0015) are cut to 65535; an fps out of
// bounds or not a number gives 0.
std::uint16_t gif_frame_delay(std::uint64_t frame, double fps);

#endif  // DISCHARGE_IMAGE_RENDERER_GIF_IMAGE_H
