// SPDX-License-Identifier: MIT
// Frame store: the frame geometry and the buffers that carry one frame from
// the file read, through the frame input stage, to the packers and the write.
// The buffers are reserved once a run, sized for the run's frame size.
#pragma once

#include <cstddef>
#include <cstdint>

#include "word_format.h"

constexpr std::size_t TGA_HEADER_SIZE = 18;
constexpr std::size_t TGA_TYPE_OFFSET = 2;

constexpr std::size_t COLOR_PIXEL_SIZE = 3;
constexpr std::size_t TGA_BLUE = 0, TGA_GREEN = 1, TGA_RED = 2;  // within a color pixel
constexpr std::size_t GRAY_PIXEL_SIZE = 1;
constexpr std::size_t PACKED_PIXEL_SIZE = 2;

// The largest frame: 4096 x 4096, or any other shape of as many pixels.
constexpr std::size_t MAX_VIDEO_PIXELS = 4096 * 4096;

// What a TGA file may hold before its pixels: the header, an image ID of up
// to 255 bytes and a color map of up to 65535 entries of 4 bytes.
constexpr std::size_t TGA_MAX_ID = 255;
constexpr std::size_t TGA_MAX_MAP_ENTRIES = 65535;
constexpr std::size_t TGA_MAX_STORED_PIXEL = 4;
constexpr std::size_t TGA_MAX_PREAMBLE = TGA_HEADER_SIZE + TGA_MAX_ID + TGA_MAX_STORED_PIXEL * TGA_MAX_MAP_ENTRIES;
// The worst RLE frame stores every pixel in a raw packet of its own.
constexpr std::size_t RLE_WORST_PIXEL_SIZE = 1 + TGA_MAX_STORED_PIXEL;
// A PNG decoded as stored: at most four 16-bit samples a pixel.
constexpr std::size_t PNG_WORST_PIXEL_SIZE = 8;
// Room past the data for the whole-chunk reads and writes of the vector loops.
constexpr std::size_t BUFFER_SLACK = 4096;
// A color-map index is at most 16 bits; the map, as 3-byte pixels, by index.
constexpr std::size_t COLOR_TABLE_SIZE = COLOR_PIXEL_SIZE * 65536;

// A frame in the layout the packers take: rows of video_width pixels with
// nothing between them, bottom row first unless top_first; a pixel is 3
// bytes, blue, green, red (red, green, blue where red_first), or 1 byte of
// gray. A gray frame is packed in the gray word format, whatever the size of
// its pixels. readable is how many bytes from pixels on lie inside their
// buffer. packed says that the input stage packed the rows as it decoded
// them, band by band, while they were in cache: output_buffer holds the
// frame's words already.
enum class FrameKind : std::uint8_t { color, gray };

struct SourceFrame {
    std::uint8_t* pixels;
    std::size_t readable;
    FrameKind kind;
    std::size_t pixel_size;
    bool top_first;
    bool red_first;
    bool packed;
};

extern std::int32_t video_width;
extern std::int32_t video_height;
// The word formats of color and gray frames, also set from the command line.
extern WordFormat color_word_format;
extern WordFormat gray_word_format;

// input_buffer holds the frame file as read; scratch_buffer is the work area
// of the frame input stage; output_buffer the packed frame; color_table the
// color map of a color-mapped frame. Each size is in bytes. Each thread that
// converts frames has buffers of its own; the geometry and the word formats
// are the run's, set before any such thread starts.
extern thread_local constinit std::uint8_t* input_buffer;
extern thread_local constinit std::size_t input_buffer_size;
extern thread_local constinit std::uint8_t* scratch_buffer;
extern thread_local constinit std::size_t scratch_buffer_size;
extern thread_local constinit std::uint8_t* output_buffer;
extern thread_local constinit std::size_t output_buffer_size;
extern thread_local constinit std::uint8_t* color_table;

// True when width and height are not negative and width x height is at most
// MAX_VIDEO_PIXELS. Computed without overflow for any pair of 32-bit values.
bool video_size_fits(std::int64_t width, std::int64_t height);

// Sets the geometry and reserves the calling thread's buffers for frames of
// that size, which passed video_size_fits. False, with nothing reserved,
// where the memory cannot be had. Called once a run; a later call frees the
// earlier buffers.
bool reserve_frame_store(std::int32_t width, std::int32_t height);
// Reserves the calling thread's buffers for the run's geometry, or frees
// them (release_frame_buffers). False, with nothing reserved, where the
// memory cannot be had.
bool reserve_frame_buffers();
void release_frame_buffers();
// A second output buffer of output_buffer_size bytes for the calling thread,
// which packs a frame into it while the last waits to be written; nullptr
// where the memory cannot be had.
std::uint8_t* reserve_spare_output();
void release_spare_output(std::uint8_t* buffer);

std::size_t video_pixel_count();
