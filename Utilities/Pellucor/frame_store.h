// Frame store: the frame geometry and the static buffers that carry one frame
// from the file read, through the RLE decoder, to the packers and the write.
//
// Source frames are TGA files of which only this is read:
//   byte 2        image type: 3 = 8-bit gray, 10 = RLE 24-bit color,
//                 anything else = uncompressed 24-bit color
//   byte 18 on    pixel data, bottom row first, color pixels as blue, green, red
// The width and height come from the command line, never from the file.
#pragma once

#include <cstddef>
#include <cstdint>

#include "word_format.h"

constexpr std::size_t TGA_HEADER_SIZE = 18;
constexpr std::size_t TGA_TYPE_OFFSET = 2;
constexpr std::uint8_t TGA_TYPE_GRAY = 3;
constexpr std::uint8_t TGA_TYPE_RLE_COLOR = 10;

constexpr std::size_t COLOR_PIXEL_SIZE = 3;
constexpr std::size_t TGA_BLUE = 0, TGA_GREEN = 1, TGA_RED = 2;  // within a color pixel
constexpr std::size_t GRAY_PIXEL_SIZE = 1;
constexpr std::size_t PACKED_PIXEL_SIZE = 2;

// The largest frame: 4096 x 4096, or any other shape of as many pixels.
constexpr std::size_t MAX_VIDEO_PIXELS = 4096 * 4096;
// The worst RLE frame of that size is all 1-pixel raw packets, 4 bytes a
// pixel; a megabyte more leaves room for an image ID or a color map that is
// read as packets. The buffers are static, and a run touches only the pages
// of them that its frames use.
constexpr std::size_t RLE_WORST_PIXEL_SIZE = 1 + COLOR_PIXEL_SIZE;
constexpr std::size_t INPUT_BUFFER_SIZE = RLE_WORST_PIXEL_SIZE * MAX_VIDEO_PIXELS + 1'000'000;
constexpr std::size_t OUTPUT_BUFFER_SIZE = PACKED_PIXEL_SIZE * MAX_VIDEO_PIXELS;
// The RLE decoder's copy of a frame's packets, and room past them for its
// whole-chunk reads.
constexpr std::size_t SCRATCH_SLACK = 4096;
constexpr std::size_t SCRATCH_BUFFER_SIZE = INPUT_BUFFER_SIZE + SCRATCH_SLACK;

static_assert(TGA_HEADER_SIZE + RLE_WORST_PIXEL_SIZE * MAX_VIDEO_PIXELS <= INPUT_BUFFER_SIZE,
              "the worst RLE frame of the largest size must fit input_buffer");

extern std::int32_t video_width;
extern std::int32_t video_height;
// The word formats of color and gray frames, also set from the command line.
extern WordFormat color_word_format;
extern WordFormat gray_word_format;

extern std::uint8_t input_buffer[INPUT_BUFFER_SIZE];
extern std::uint8_t output_buffer[OUTPUT_BUFFER_SIZE];
extern std::uint8_t scratch_buffer[SCRATCH_BUFFER_SIZE];

// What check_frame found out about the frame in input_buffer.
enum class FrameStatus {
    ok,
    incomplete,  // the file ends before the frame's pixels do
};

// True when width and height are not negative and width x height is at most
// MAX_VIDEO_PIXELS. Computed without overflow for any pair of 32-bit values.
bool video_size_fits(std::int64_t width, std::int64_t height);

std::size_t video_pixel_count();
std::uint8_t frame_type();

// Checks the frame that the file read put into input_buffer (bytes_read of
// it are valid) before anything looks at its pixels: the header is there and
// an uncompressed frame holds all its pixels.
// Expects a geometry that passed video_size_fits.
FrameStatus check_frame(std::size_t bytes_read);
