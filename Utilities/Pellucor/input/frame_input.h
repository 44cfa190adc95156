// SPDX-License-Identifier: MIT
// Frame input: from a frame file, as read into input_buffer, to a frame in
// the layout the packers take.
#pragma once

#include <cstddef>
#include <cstdint>

#include "frame_store.h"

// The TGA header fields that the stage reads.
struct TgaHeader {
    std::uint8_t id_length;
    std::uint8_t map_type;
    std::uint8_t type;
    std::uint16_t map_first;
    std::uint16_t map_length;
    std::uint8_t map_entry_bits;
    std::uint16_t width;
    std::uint16_t height;
    std::uint8_t depth;
    std::uint8_t descriptor;
};

constexpr std::uint8_t TGA_TYPE_MAPPED = 1;
constexpr std::uint8_t TGA_TYPE_COLOR = 2;
constexpr std::uint8_t TGA_TYPE_GRAY = 3;
constexpr std::uint8_t TGA_TYPE_RLE_MAPPED = 9;
constexpr std::uint8_t TGA_TYPE_RLE_COLOR = 10;
constexpr std::uint8_t TGA_TYPE_RLE_GRAY = 11;

// What is wrong with a frame, in the user's terms; value and the frame's own
// width and height say which value was found.
enum class InputProblem {
    none,
    incomplete,         // the file ends before the frame does
    wrong_size,         // width x height, not the run's
    color_depth,        // value-bit color pixels
    gray_depth,         // value-bit gray pixels
    index_depth,        // value-bit color-map indices
    no_color_map,       // a color-mapped type without a map
    map_entry_size,     // a map of value-bit entries
    index_outside_map,  // color index value, not in the map
    invalid_png,        // a PNG the library refuses, for reason
    no_png_reader,      // a PNG, and a build without the library
};

struct FrameCheck {
    InputProblem problem;
    unsigned value;
    unsigned width, height;
    const char* reason;
};

// Reads the header of the frame file in input_buffer (bytes_read of it are
// valid). False when the file is shorter than a header.
bool read_tga_header(std::size_t bytes_read, TgaHeader& header);

// True for the RLE types: the driver says "Uncompressing ... " for them.
bool is_compressed(const TgaHeader& header);

// True when the header says the rows are stored top row first, which only
// --honor-origin follows.
bool says_top_first(const TgaHeader& header);

// Checks the frame against its header and the run's geometry, and brings
// its pixels into the packers' layout, in input_buffer or scratch_buffer.
// With honor_origin the rows and columns follow the header's origin bits;
// otherwise rows are bottom first and pixels left to right.
FrameCheck decode_frame(const TgaHeader& header, std::size_t bytes_read, bool honor_origin, SourceFrame& frame);
