#include "gif_image.h"

#include <gif_lib.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <optional>
#include <type_traits>

static_assert(std::is_same_v<std::uint8_t, GifPixelType>,
              "palette indices pass to giflib as they are");

namespace {

// The collected bytes reach the writer in pieces of at least this size, and
// at the end of every step (the start, each frame, the trailer). giflib
// hands over at most 256 bytes at a time (a sub-block and its length), which
// the reserve beyond it leaves room for: collecting never allocates.
constexpr std::size_t GIF_PIECE_BYTES = 64 * 1024;
constexpr std::size_t GIF_SINK_RESERVE = GIF_PIECE_BYTES + 1024;

// Hands the collected bytes to the writer. False once the writer failed.
bool flush_sink(GifSink& sink) {
    if (sink.failed) {
        return false;
    }
    if (!sink.pending.empty()) {
        const std::span<const char> piece(sink.pending.data(), sink.pending.size());
        sink.failed = !sink.write(std::span(&piece, 1));
        sink.pending.clear();
    }
    return !sink.failed;
}

// giflib's output function: returns the bytes taken, 0 once the writer has
// failed or the animation is abandoned (its UserData then null), which
// giflib reports as a failed write where it checks.
int gif_output(GifFileType* gif, const GifByteType* data, int size) {
    auto* sink = static_cast<GifSink*>(gif->UserData);
    if (sink == nullptr || sink->failed || size < 0) {
        return 0;
    }
    const auto count = static_cast<std::size_t>(size);
    const char* bytes = reinterpret_cast<const char*>(data);
    if (sink->pending.size() + count > sink->pending.capacity() && !flush_sink(*sink)) {
        return 0;
    }
    if (count > sink->pending.capacity()) {
        // Larger than giflib ever writes at once: passed on as it is.
        const std::span<const char> piece(bytes, count);
        sink->failed = !sink->write(std::span(&piece, 1));
    } else {
        sink->pending.insert(sink->pending.end(), bytes, bytes + count);
        if (sink->pending.size() >= GIF_PIECE_BYTES) {
            flush_sink(*sink);
        }
    }
    return sink->failed ? 0 : size;
}

// giflib's text for one of its error codes.
std::string gif_error_text(int error) {
    const char* text = GifErrorString(error);
    return text != nullptr ? std::string("giflib: ") + text
                           : "giflib failed with error " + std::to_string(error);
}

// Whether a giflib step succeeded: its status, and every byte reached the
// writer (giflib does not check every write). A failed step fails the
// animation, with giflib's reason unless the writer failed.
bool gif_step(GifAnimation& animation, int status, std::string& reason) {
    if (status != GIF_ERROR && !animation.sink->failed) {
        return true;
    }
    animation.failed = true;
    if (!animation.sink->failed) {
        reason = gif_error_text(animation.gif->Error);
    }
    return false;
}

// Netscape's application extension that makes an animation loop: its
// second sub-block is 1 and the loop count, little-endian, 0 for forever.
int put_loop_extension(GifFileType* gif) {
    static constexpr char identifier[] = "NETSCAPE2.0";
    static constexpr std::array<GifByteType, 3> loop{1, 0, 0};
    if (EGifPutExtensionLeader(gif, APPLICATION_EXT_FUNC_CODE) == GIF_ERROR ||
        EGifPutExtensionBlock(gif, sizeof identifier - 1, identifier) == GIF_ERROR ||
        EGifPutExtensionBlock(gif, loop.size(), loop.data()) == GIF_ERROR) {
        return GIF_ERROR;
    }
    return EGifPutExtensionTrailer(gif);
}

}  // namespace

void GifFileCloser::operator()(GifFileType* gif) const {
    // EGifCloseFile() writes the trailer before it frees: without a sink the
    // output function drops it.
    gif->UserData = nullptr;
    EGifCloseFile(gif, nullptr);
}

bool begin_gif_animation(GifAnimation& animation, int width, int height, const PieceWriter& write,
                         std::string& reason) {
    animation = GifAnimation{};
    animation.failed = true;  // until it has begun
    if (width < 1 || width > GIF_SIDE_MAX || height < 1 || height > GIF_SIDE_MAX) {
        reason = "a GIF is 1 to " + std::to_string(GIF_SIDE_MAX) + " pixels a side, not " +
                 std::to_string(width) + " x " + std::to_string(height);
        return false;
    }
    animation.sink = std::make_unique<GifSink>();
    animation.sink->write = write;
    animation.sink->pending.reserve(GIF_SINK_RESERVE);
    animation.row.resize(static_cast<std::size_t>(width));
    int error = 0;
    animation.gif.reset(EGifOpen(animation.sink.get(), gif_output, &error));
    if (!animation.gif) {
        reason = gif_error_text(error);
        return false;
    }
    animation.failed = false;
    animation.width = width;
    animation.height = height;
    GifFileType* gif = animation.gif.get();
    // The version is chosen before the header is written; the extensions
    // need GIF89a. The screen: 8 bits a primary colour, the background entry
    // 0 (every frame covers the whole canvas), no global colour table.
    EGifSetGifVersion(gif, true);
    return gif_step(animation, EGifPutScreenDesc(gif, width, height, 8, 0, nullptr), reason) &&
           gif_step(animation, put_loop_extension(gif), reason) &&
           gif_step(animation, flush_sink(*animation.sink) ? GIF_OK : GIF_ERROR, reason);
}

namespace {

// Why a frame cannot be added to `animation`, or empty if it can.
std::string frame_fault(const GifAnimation& animation, std::span<const std::uint8_t> indices,
                        std::span<const Rgb> colours) {
    const std::size_t pixels =
        static_cast<std::size_t>(animation.width) * static_cast<std::size_t>(animation.height);
    if (indices.size() != pixels) {
        return "a GIF frame of " + std::to_string(animation.width) + " x " +
               std::to_string(animation.height) + " pixels given " +
               std::to_string(indices.size()) + " indices";
    }
    if (colours.empty() || colours.size() > 256) {
        return "a GIF frame has 1 to 256 colours, not " + std::to_string(colours.size());
    }
    // Never empty: a canvas has a pixel at least.
    const std::uint8_t highest = *std::max_element(indices.begin(), indices.end());
    if (highest >= colours.size()) {
        return "a GIF frame of " + std::to_string(colours.size()) + " colours uses entry " +
               std::to_string(highest);
    }
    return {};
}

// The graphic control extension of a frame shown for `delay` and left in
// place, then its image descriptor with `colours` as its local colour table.
int put_frame_header(const GifAnimation& animation, std::span<const Rgb> colours,
                     std::uint16_t delay, std::optional<std::uint8_t> transparent) {
    GraphicsControlBlock control{};
    control.DisposalMode = DISPOSE_DO_NOT;
    control.UserInputFlag = false;
    control.DelayTime = delay;
    control.TransparentColor = transparent ? *transparent : NO_TRANSPARENT_COLOR;
    std::array<GifByteType, 4> extension{};
    EGifGCBToExtension(&control, extension.data());
    GifFileType* gif = animation.gif.get();
    if (EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, extension.size(), extension.data()) ==
        GIF_ERROR) {
        return GIF_ERROR;
    }
    // A colour table holds a power of two of entries, 2 to 256; those beyond
    // the frame's colours stay black.
    int entries = 2;
    while (static_cast<std::size_t>(entries) < colours.size()) {
        entries *= 2;
    }
    std::array<GifColorType, 256> table{};
    std::transform(colours.begin(), colours.end(), table.begin(), [](Rgb colour) {
        return GifColorType{colour.red, colour.green, colour.blue};
    });
    const ColorMapObject map{entries, GifBitSize(entries), false, table.data()};
    return EGifPutImageDesc(gif, 0, 0, animation.width, animation.height, false, &map);
}

}  // namespace

bool add_gif_frame(GifAnimation& animation, std::span<const std::uint8_t> indices,
                   std::span<const Rgb> colours, std::uint16_t delay, std::string& reason,
                   std::optional<std::uint8_t> transparent) {
    if (!animation.gif) {
        reason = "no GIF animation is being written";
        return false;
    }
    if (animation.failed) {
        return false;
    }
    if (std::string fault = frame_fault(animation, indices, colours); !fault.empty()) {
        reason = std::move(fault);
        return false;
    }
    if (transparent && *transparent >= colours.size()) {
        reason = "a GIF frame of " + std::to_string(colours.size()) + " colours has no entry " +
                 std::to_string(*transparent);
        return false;
    }
    if (!gif_step(animation, put_frame_header(animation, colours, delay, transparent), reason)) {
        return false;
    }
    // giflib masks the indices of a row as it codes them: a copy of each row.
    const auto width = static_cast<std::size_t>(animation.width);
    for (std::size_t start = 0; start < indices.size(); start += width) {
        std::copy_n(indices.begin() + static_cast<std::ptrdiff_t>(start), width,
                    animation.row.begin());
        if (!gif_step(animation,
                      EGifPutLine(animation.gif.get(), animation.row.data(), animation.width),
                      reason)) {
            return false;
        }
    }
    return gif_step(animation, flush_sink(*animation.sink) ? GIF_OK : GIF_ERROR, reason);
}

bool finish_gif_animation(GifAnimation& animation, std::string& reason) {
    if (!animation.gif) {
        reason = "no GIF animation is being written";
        return false;
    }
    if (animation.failed) {
        return false;
    }
    // EGifCloseFile() writes the trailer and frees giflib's state whatever
    // happens: the animation ends here.
    int error = 0;
    const int status = EGifCloseFile(animation.gif.release(), &error);
    animation.failed = true;
    if (status == GIF_ERROR && !animation.sink->failed) {
        reason = gif_error_text(error);
        return false;
    }
    return flush_sink(*animation.sink);
}

namespace {

// The rounded 100 n / fps, a half down, of a whole number of frames a
// second: floor((200 n + fps - 1) / (2 fps)).
std::uint64_t whole_fps_total(std::uint64_t frames, std::uint64_t fps) {
    return (200 * frames + fps - 1) / (2 * fps);
}

}  // namespace

std::uint16_t gif_frame_delay(std::uint64_t frame, double fps) {
    if (!(fps > 0.0 && fps <= 100.0)) {
        return 0;
    }
    if (fps == std::floor(fps)) {
        // The totals gain 100 every fps frames: only the frame's place in
        // its second counts, which keeps the integers small.
        const auto whole = static_cast<std::uint64_t>(fps);
        const std::uint64_t place = frame % whole;
        return static_cast<std::uint16_t>(whole_fps_total(place + 1, whole) -
                                          whole_fps_total(place, whole));
    }
    // ceil(x - 0.5) is x rounded, a half down. Both totals only grow with
    // the frame, so the difference is never negative; it is infinite, or not
    // a number, only where the delay is far beyond 65535.
    const auto before = static_cast<double>(frame);
    const double delay =
        std::ceil(100.0 * (before + 1.0) / fps - 0.5) - std::ceil(100.0 * before / fps - 0.5);
    if (!(delay <= 65535.0)) {
        return 65535;
    }
    return delay > 0.0 ? static_cast<std::uint16_t>(delay) : 0;
}
