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

constexpr std::size_t INPUT_BUFFER_SIZE = 1'000'000;
constexpr std::size_t OUTPUT_BUFFER_SIZE = 1'000'000;
constexpr std::size_t SCRATCH_BUFFER_SIZE = 1'600'000;
constexpr std::size_t FILENAME_SIZE = 1000;

constexpr std::size_t TGA_HEADER_SIZE = 18;
constexpr std::size_t TGA_TYPE_OFFSET = 2;
constexpr std::uint8_t TGA_TYPE_GRAY = 3;
constexpr std::uint8_t TGA_TYPE_RLE_COLOR = 10;

constexpr std::size_t COLOR_PIXEL_SIZE = 3;
constexpr std::size_t GRAY_PIXEL_SIZE = 1;
constexpr std::size_t PACKED_PIXEL_SIZE = 2;

extern std::int32_t video_width;
extern std::int32_t video_height;

extern std::uint8_t input_buffer[INPUT_BUFFER_SIZE];
extern std::uint8_t output_buffer[OUTPUT_BUFFER_SIZE];
extern std::uint8_t scratch_buffer[SCRATCH_BUFFER_SIZE];

// What check_frame found out about the frame in input_buffer.
enum class FrameStatus {
    ok,
    too_large_for_color,  // 18 + 3 * width * height does not fit input_buffer
    incomplete,           // the file ends before the frame's pixels do
};

// True when width and height are not negative and a packed frame of that size
// fits output_buffer. Computed without overflow for any pair of 32-bit values.
bool video_size_fits(std::int64_t width, std::int64_t height);

std::size_t video_pixel_count();
std::uint8_t frame_type();

// Checks the frame that the file read put into input_buffer (bytes_read of
// it are valid) before anything looks at its pixels: the header is there, a
// color frame fits the buffers, and an uncompressed frame holds all its pixels.
// Expects a geometry that passed video_size_fits.
FrameStatus check_frame(std::size_t bytes_read);
