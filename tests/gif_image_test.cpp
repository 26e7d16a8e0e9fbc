#include "gif_image.h"

#include <gif_lib.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>

namespace {

// One frame as giflib's own decoder reads it back.
struct DecodedFrame {
    int left = -1, top = -1, width = 0, height = 0;
    bool interlaced = true;
    std::vector<std::uint8_t> indices;
    std::vector<Rgb> colours;  // the local colour table, padding included
    int delay = -1;
    int disposal = -1;
    int transparent = 0;
};

struct DecodedGif {
    int width = 0, height = 0;
    bool global_colours = true;
    std::vector<DecodedFrame> frames;
    int loop_count = -1;  // of the NETSCAPE2.0 extension, -1 without one
};

struct MemoryReader {
    const std::string& bytes;
    std::size_t at = 0;
};

int read_memory(GifFileType* gif, GifByteType* out, int size) {
    auto& reader = *static_cast<MemoryReader*>(gif->UserData);
    const std::size_t count =
        std::min(static_cast<std::size_t>(size), reader.bytes.size() - reader.at);
    std::memcpy(out, reader.bytes.data() + reader.at, count);
    reader.at += count;
    return static_cast<int>(count);
}

// The loop count of a NETSCAPE2.0 extension among `blocks`, or -1.
int loop_count_of(const ExtensionBlock* blocks, int count) {
    for (int i = 0; i + 1 < count; ++i) {
        const ExtensionBlock& name = blocks[i];
        const ExtensionBlock& data = blocks[i + 1];
        if (name.Function == APPLICATION_EXT_FUNC_CODE && name.ByteCount == 11 &&
            std::memcmp(name.Bytes, "NETSCAPE2.0", 11) == 0 &&
            data.Function == CONTINUE_EXT_FUNC_CODE && data.ByteCount == 3 && data.Bytes[0] == 1) {
            return data.Bytes[1] | data.Bytes[2] << 8;
        }
    }
    return -1;
}

DecodedFrame decoded_frame(GifFileType* gif, int number) {
    const SavedImage& image = gif->SavedImages[number];
    DecodedFrame frame;
    frame.left = image.ImageDesc.Left;
    frame.top = image.ImageDesc.Top;
    frame.width = image.ImageDesc.Width;
    frame.height = image.ImageDesc.Height;
    frame.interlaced = image.ImageDesc.Interlace;
    frame.indices.assign(image.RasterBits, image.RasterBits + frame.width * frame.height);
    if (const ColorMapObject* map = image.ImageDesc.ColorMap; map != nullptr) {
        for (int i = 0; i < map->ColorCount; ++i) {
            frame.colours.push_back(
                {map->Colors[i].Red, map->Colors[i].Green, map->Colors[i].Blue});
        }
    }
    GraphicsControlBlock control{};
    if (DGifSavedExtensionToGCB(gif, number, &control) == GIF_OK) {
        frame.delay = control.DelayTime;
        frame.disposal = control.DisposalMode;
        frame.transparent = control.TransparentColor;
    }
    return frame;
}

// Decodes `bytes` whole with giflib, failing the test where it cannot.
DecodedGif decode_gif(const std::string& bytes) {
    MemoryReader reader{bytes};
    int error = 0;
    GifFileType* gif = DGifOpen(&reader, read_memory, &error);
    DecodedGif decoded;
    if (gif == nullptr) {
        ADD_FAILURE() << "DGifOpen: " << GifErrorString(error);
        return decoded;
    }
    if (DGifSlurp(gif) != GIF_OK) {
        ADD_FAILURE() << "DGifSlurp: " << GifErrorString(gif->Error);
    } else {
        decoded.width = gif->SWidth;
        decoded.height = gif->SHeight;
        decoded.global_colours = gif->SColorMap != nullptr;
        for (int i = 0; i < gif->ImageCount; ++i) {
            decoded.frames.push_back(decoded_frame(gif, i));
        }
        if (gif->ImageCount > 0) {
            decoded.loop_count = loop_count_of(gif->SavedImages[0].ExtensionBlocks,
                                               gif->SavedImages[0].ExtensionBlockCount);
        }
    }
    DGifCloseFile(gif, &error);
    return decoded;
}

struct Frame {
    std::vector<std::uint8_t> indices;
    std::vector<Rgb> colours;
    std::uint16_t delay = 0;
};

// FNV-1a, 64 bits: a fingerprint of the bytes written.
std::uint64_t fingerprint(const std::string& bytes) {
    std::uint64_t hash = 0xcbf29ce484222325;
    for (const char byte : bytes) {
        hash = (hash ^ static_cast<unsigned char>(byte)) * 0x100000001b3;
    }
    return hash;
}

PieceWriter appending_to(std::string& bytes) {
    return [&bytes](std::span<const std::span<const char>> pieces) {
        for (const std::span<const char> piece : pieces) {
            bytes.append(piece.data(), piece.size());
        }
        return true;
    };
}

std::string gif_of(int width, int height, const std::vector<Frame>& frames) {
    std::string bytes;
    std::string reason;
    GifAnimation animation;
    EXPECT_TRUE(begin_gif_animation(animation, width, height, appending_to(bytes), reason))
        << reason;
    for (const Frame& frame : frames) {
        EXPECT_TRUE(add_gif_frame(animation, frame.indices, frame.colours, frame.delay, reason))
            << reason;
    }
    EXPECT_TRUE(finish_gif_animation(animation, reason)) << reason;
    return bytes;
}

// A frame of `colours` distinct colours, every entry used, in a pattern of
// its own seed.
Frame patterned_frame(int width, int height, std::size_t colours, std::uint32_t seed,
                      std::uint16_t delay) {
    Frame frame;
    frame.delay = delay;
    std::mt19937 random(seed);
    for (std::size_t i = 0; i < colours; ++i) {
        frame.colours.push_back({static_cast<std::uint8_t>(random()),
                                 static_cast<std::uint8_t>(random()),
                                 static_cast<std::uint8_t>(i)});
    }
    for (int i = 0; i < width * height; ++i) {
        const std::size_t entry = i < static_cast<int>(colours) ? i : random() % colours;
        frame.indices.push_back(static_cast<std::uint8_t>(entry));
    }
    return frame;
}

}  // namespace

TEST(GifImage, DecodesToTheFramesTheirColoursAndDelays) {
    // Colour tables of 1 (padded to 2), 5 (padded to 8), 128 and 256 entries.
    const int width = 23, height = 17;
    const std::vector<Frame> frames = {
        patterned_frame(width, height, 1, 1, 12), patterned_frame(width, height, 5, 2, 13),
        patterned_frame(width, height, 128, 3, 0), patterned_frame(width, height, 256, 4, 65535)};
    const std::string bytes = gif_of(width, height, frames);
    EXPECT_EQ(bytes.substr(0, 6), "GIF89a");
    EXPECT_EQ(bytes.back(), ';');

    const DecodedGif decoded = decode_gif(bytes);
    EXPECT_EQ(decoded.width, width);
    EXPECT_EQ(decoded.height, height);
    EXPECT_FALSE(decoded.global_colours);
    EXPECT_EQ(decoded.loop_count, 0);
    ASSERT_EQ(decoded.frames.size(), frames.size());
    const std::size_t table_sizes[] = {2, 8, 128, 256};
    for (std::size_t i = 0; i < frames.size(); ++i) {
        const DecodedFrame& frame = decoded.frames[i];
        EXPECT_EQ(frame.left, 0);
        EXPECT_EQ(frame.top, 0);
        EXPECT_EQ(frame.width, width);
        EXPECT_EQ(frame.height, height);
        EXPECT_FALSE(frame.interlaced);
        EXPECT_TRUE(frame.indices == frames[i].indices) << "frame " << i;
        std::vector<Rgb> table = frames[i].colours;
        table.resize(table_sizes[i], Rgb{0, 0, 0});
        EXPECT_TRUE(frame.colours == table) << "frame " << i;
        EXPECT_EQ(frame.delay, frames[i].delay);
        EXPECT_EQ(frame.disposal, DISPOSE_DO_NOT);
        EXPECT_EQ(frame.transparent, NO_TRANSPARENT_COLOR);
    }
}

// A frame with a transparent entry says so in its control block; an entry
// beyond its colours is refused.
TEST(GifImage, AFrameCanLeaveThePixelsBeforeItShowing) {
    const Frame frame = patterned_frame(9, 4, 8, 5, 10);
    std::string bytes;
    std::string reason;
    GifAnimation animation;
    ASSERT_TRUE(begin_gif_animation(animation, 9, 4, appending_to(bytes), reason));
    EXPECT_TRUE(add_gif_frame(animation, frame.indices, frame.colours, 10, reason));
    EXPECT_TRUE(add_gif_frame(animation, frame.indices, frame.colours, 10, reason, 7));
    EXPECT_FALSE(add_gif_frame(animation, frame.indices, frame.colours, 10, reason, 8));
    EXPECT_EQ(reason, "a GIF frame of 8 colours has no entry 8");
    ASSERT_TRUE(finish_gif_animation(animation, reason));
    const DecodedGif decoded = decode_gif(bytes);
    ASSERT_EQ(decoded.frames.size(), 2U);
    EXPECT_EQ(decoded.frames[0].transparent, NO_TRANSPARENT_COLOR);
    EXPECT_EQ(decoded.frames[1].transparent, 7);
    EXPECT_EQ(decoded.frames[1].disposal, DISPOSE_DO_NOT);
}

TEST(GifImage, CodesFramesLargerThanAPieceAndTheCodeTable) {
    // Noise of 256 colours: more than 64 kB a frame, so that the writer gets
    // pieces in the middle of a frame, and many times the 4096 codes of
    // LZW's table, which is cleared again and again.
    const int width = 640, height = 300;
    const std::vector<Frame> frames = {patterned_frame(width, height, 256, 5, 7),
                                       patterned_frame(width, height, 256, 6, 8)};
    std::size_t pieces = 0;
    std::string bytes;
    std::string reason;
    GifAnimation animation;
    const PieceWriter write = [&](std::span<const std::span<const char>> parts) {
        ++pieces;
        return appending_to(bytes)(parts);
    };
    ASSERT_TRUE(begin_gif_animation(animation, width, height, write, reason)) << reason;
    for (const Frame& frame : frames) {
        ASSERT_TRUE(add_gif_frame(animation, frame.indices, frame.colours, frame.delay, reason));
    }
    ASSERT_TRUE(finish_gif_animation(animation, reason)) << reason;
    EXPECT_GT(bytes.size(), 2U * 64 * 1024 * 2);
    EXPECT_GT(pieces, 4U);  // the start, the trailer, and more than one a frame
    const DecodedGif decoded = decode_gif(bytes);
    ASSERT_EQ(decoded.frames.size(), 2U);
    EXPECT_TRUE(decoded.frames[0].indices == frames[0].indices);
    EXPECT_TRUE(decoded.frames[1].indices == frames[1].indices);
    // The same bytes on every platform, the table's clearing included.
    EXPECT_EQ(bytes.size(), 529521U);
    EXPECT_EQ(fingerprint(bytes), 0x46dc8e0cf6770b09U);
}

TEST(GifImage, WritesTheSameBytesOnEveryPlatform) {
    // Two frames of 3 x 2 pixels: the header, the screen without a global
    // colour table, the loop extension, then each frame's graphic control
    // extension, image descriptor, local colour table and LZW data.
    const std::vector<Frame> frames = {
        {{0, 1, 1, 0, 1, 0}, {{255, 0, 0}, {0, 0, 255}}, 12},
        {{2, 2, 1, 0, 0, 2}, {{0, 0, 0}, {10, 20, 30}, {200, 100, 50}}, 13}};
    const std::string bytes = gif_of(3, 2, frames);
    const unsigned char expected[] = {
        // GIF89a, 3 x 2; no global colour table, 8 bits a primary colour;
        // background 0, no aspect ratio
        'G', 'I', 'F', '8', '9', 'a', 3, 0, 2, 0, 0x77, 0, 0,
        // NETSCAPE2.0, loop count 0
        0x21, 0xFF, 11, 'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0', 3, 1, 0, 0, 0,
        // frame 1: left in place, 12 hundredths, no transparent colour
        // (giflib writes its index as 255); at 0, 0, 3 x 2, with a local
        // table of 2 entries
        0x21, 0xF9, 4, 0x04, 12, 0, 0xFF, 0, 0x2C, 0, 0, 0, 0, 3, 0, 2, 0, 0x80, 255, 0, 0, 0, 0,
        255,
        // LZW of 2-bit codes: one sub-block of 3 bytes
        2, 3, 0x44, 0x62, 0x50, 0,
        // frame 2: 13 hundredths; 3 colours padded with black to 4
        0x21, 0xF9, 4, 0x04, 13, 0, 0xFF, 0, 0x2C, 0, 0, 0, 0, 3, 0, 2, 0, 0x81, 0, 0, 0, 10, 20,
        30, 200, 100, 50, 0, 0, 0, 2, 4, 0x94, 0x02, 0x20, 0x05, 0,
        // trailer
        ';'};
    EXPECT_EQ(bytes, std::string(reinterpret_cast<const char*>(expected), sizeof expected));
}

namespace {

// Writes a three-frame animation whose writer fails at call `failing`
// (1 the first), and stops at the first step that returns false. Returns
// the number of calls the writer got.
std::size_t write_failing_at(std::size_t failing, bool& all_succeeded) {
    std::size_t calls = 0;
    const PieceWriter write = [&](std::span<const std::span<const char>>) {
        ++calls;
        EXPECT_LE(calls, failing) << "written to after it failed";
        return calls != failing;
    };
    const Frame frame = patterned_frame(300, 300, 256, 7, 10);
    std::string reason;
    GifAnimation animation;
    bool succeeded = begin_gif_animation(animation, 300, 300, write, reason);
    for (int i = 0; i < 3 && succeeded; ++i) {
        succeeded = add_gif_frame(animation, frame.indices, frame.colours, frame.delay, reason);
    }
    succeeded = succeeded && finish_gif_animation(animation, reason);
    if (!succeeded) {
        // The writer's failure is its own: no reason of giflib's. Nothing
        // more can be written.
        EXPECT_EQ(reason, "");
        EXPECT_FALSE(add_gif_frame(animation, frame.indices, frame.colours, 10, reason));
        EXPECT_FALSE(finish_gif_animation(animation, reason));
    }
    all_succeeded = succeeded;
    return calls;
}

}  // namespace

TEST(GifImage, AWriterThatFailsAtAnyCallFailsTheAnimation) {
    bool succeeded = false;
    const std::size_t calls = write_failing_at(std::numeric_limits<std::size_t>::max(), succeeded);
    ASSERT_TRUE(succeeded);
    ASSERT_GT(calls, 5U);
    for (const std::size_t failing :
         {std::size_t{1}, std::size_t{2}, calls / 2, calls - 1, calls}) {
        EXPECT_EQ(write_failing_at(failing, succeeded), failing) << "failing at " << failing;
        EXPECT_FALSE(succeeded) << "failing at " << failing;
    }
}

TEST(GifImage, AnAbandonedAnimationWritesNoTrailer) {
    std::string bytes;
    std::string reason;
    const Frame frame = patterned_frame(4, 4, 3, 8, 10);
    std::size_t written = 0;
    {
        GifAnimation animation;
        ASSERT_TRUE(begin_gif_animation(animation, 4, 4, appending_to(bytes), reason));
        ASSERT_TRUE(add_gif_frame(animation, frame.indices, frame.colours, frame.delay, reason));
        written = bytes.size();
        // Beginning again abandons the first one.
        ASSERT_TRUE(begin_gif_animation(animation, 4, 4, appending_to(bytes), reason));
        EXPECT_EQ(bytes.substr(written, 6), "GIF89a");
        written = bytes.size();
    }
    EXPECT_EQ(bytes.size(), written);
}

TEST(GifImage, RefusesWhatDoesNotFit) {
    std::string bytes;
    std::string reason;
    GifAnimation animation;
    for (const auto& [width, height] : {std::pair{0, 1}, std::pair{1, 0}, std::pair{65536, 1},
                                        std::pair{1, 65536}, std::pair{-1, 5}}) {
        reason.clear();
        EXPECT_FALSE(begin_gif_animation(animation, width, height, appending_to(bytes), reason));
        EXPECT_NE(reason, "") << width << " x " << height;
    }
    EXPECT_EQ(bytes, "");
    reason.clear();
    EXPECT_FALSE(add_gif_frame(animation, {}, {}, 0, reason));
    EXPECT_NE(reason, "");
    reason.clear();
    EXPECT_FALSE(finish_gif_animation(animation, reason));
    EXPECT_NE(reason, "");

    ASSERT_TRUE(begin_gif_animation(animation, 2, 2, appending_to(bytes), reason));
    const std::vector<std::uint8_t> four = {0, 1, 2, 0};
    const std::vector<Rgb> none;
    const std::vector<Rgb> two(2), three(3), too_many(257);
    const struct {
        std::span<const std::uint8_t> indices;
        std::span<const Rgb> colours;
    } refused[] = {{std::span(four).first(3), three},
                   {four, none},
                   {four, too_many},
                   {four, two}};  // entry 2 of 2 colours
    for (const auto& frame : refused) {
        reason.clear();
        EXPECT_FALSE(add_gif_frame(animation, frame.indices, frame.colours, 5, reason));
        EXPECT_NE(reason, "");
    }
    // A refused frame leaves the animation as it was.
    ASSERT_TRUE(add_gif_frame(animation, four, three, 5, reason)) << reason;
    ASSERT_TRUE(finish_gif_animation(animation, reason)) << reason;
    const DecodedGif decoded = decode_gif(bytes);
    ASSERT_EQ(decoded.frames.size(), 1U);
    EXPECT_TRUE(decoded.frames[0].indices == four);
}

TEST(GifFrameDelay, KeepsTheRunningTotalOnTime) {
    const struct {
        double fps;
        std::vector<std::uint16_t> first;  // the first delays
        std::uint64_t frames;              // and the sum of so many
        std::uint64_t sum;
    } cases[] = {
        {8, {12, 13, 12, 13, 12, 13, 12, 13, 12}, 8000, 100000},
        {10, {10, 10, 10}, 1001, 10010},
        {3, {33, 34, 33, 33, 34, 33}, 3001, 100033},
        {2.5, {40, 40, 40}, 1001, 40040},
        {7.5, {13, 14, 13, 13, 14, 13}, 1501, 20013},
        {100, {1, 1, 1}, 12345, 12345},
        {0.5, {200, 200}, 101, 20200},
        {100.0 / 65535, {65535, 65535}, 10, 655350},
    };
    for (const auto& c : cases) {
        for (std::size_t k = 0; k < c.first.size(); ++k) {
            EXPECT_EQ(gif_frame_delay(k, c.fps), c.first[k]) << c.fps << " fps, frame " << k;
        }
        std::uint64_t sum = 0;
        for (std::uint64_t k = 0; k < c.frames; ++k) {
            sum += gif_frame_delay(k, c.fps);
        }
        EXPECT_EQ(sum, c.sum) << c.fps << " fps";
    }
}

TEST(GifFrameDelay, BoundsItsFramesAndRates) {
    // Far into a term the delays follow the same pattern.
    const std::uint64_t far = std::uint64_t{1} << 62;
    EXPECT_EQ(gif_frame_delay(far, 8), 12);
    EXPECT_EQ(gif_frame_delay(far + 1, 8), 13);
    EXPECT_EQ(gif_frame_delay(std::numeric_limits<std::uint64_t>::max(), 8), 13);
    // Slower than a frame in 655.35 s: the longest delay GIF has.
    EXPECT_EQ(gif_frame_delay(0, 0.001), 65535);
    EXPECT_EQ(gif_frame_delay(5, 1e-300), 65535);
    EXPECT_EQ(gif_frame_delay(5, std::numeric_limits<double>::denorm_min()), 65535);
    for (const double fps : {0.0, -1.0, 100.5, std::nan(""), HUGE_VAL, -HUGE_VAL}) {
        EXPECT_EQ(gif_frame_delay(0, fps), 0) << fps;
    }
}
