// SPDX-License-Identifier: MIT
// RLE decoder for TGA image types 9, 10 and 11: pixels of 1 to 4 bytes, and
// the vector kernels for 3-byte color pixels.
#pragma once

#include <cstddef>
#include <cstdint>

#include "frame_store.h"
#include "processor.h"

// A packet's header byte: 1ccccccc run, 0ccccccc raw, c + 1 pixels.
constexpr std::uint8_t RLE_RUN_BIT = 0x80;
constexpr std::uint8_t RLE_COUNT_MASK = 0x7F;
constexpr std::size_t RLE_MAX_COUNT = RLE_COUNT_MASK + 1;

struct PacketHeader {
    bool run;
    std::size_t count;  // 1 to RLE_MAX_COUNT pixels
};

constexpr PacketHeader packet_header(std::uint8_t byte)
{
    return {(byte & RLE_RUN_BIT) != 0, (byte & RLE_COUNT_MASK) + 1u};
}

// Where the unchecked loop of the kernel table stands in the packets and the
// pixels.
struct RleCursor {
    const std::uint8_t* read;
    std::uint8_t* write;
};
// Decodes RLE packets while the read position is before read_limit and the
// write position before write_limit, which the caller sets so that no packet
// can run short, be cut or write past the end of input_buffer.
using PacketDecoder = RleCursor (*)(RleCursor at, const std::uint8_t* read_limit, const std::uint8_t* write_limit);

// Decodes the RLE packets of 3-byte color pixels that start at data_offset
// in input_buffer (bytes_read of it are valid), using scratch_buffer as its
// work area, so that afterwards the plain pixels follow the header in
// input_buffer, from TGA_HEADER_SIZE on. Returns false when the data ends
// before every pixel of the frame is decoded; the pixels in input_buffer are
// then not to be used.
bool decompress_rle_frame(std::size_t bytes_read, std::size_t data_offset = TGA_HEADER_SIZE);

// Decodes packet_bytes of packets into pixel_count pixels of pixel_size
// bytes, a packet at a time. False when the packets end first.
bool decode_rle_pixels(const std::uint8_t* packets, std::size_t packet_bytes, std::size_t pixel_count,
                       std::size_t pixel_size, std::uint8_t* pixels);

// The reference decoder, a pixel at a time, for the tests: the same as
// decode_rle_pixels.
bool decode_rle_reference(const std::uint8_t* packets, std::size_t packet_bytes, std::size_t pixel_count,
                          std::uint8_t* pixels, std::size_t pixel_size = COLOR_PIXEL_SIZE);

// The kernels of the kernel table (PacketDecoder): 16-byte parts, and on
// x86-64 with AVX2, 32-byte parts.
RleCursor decode_packets(RleCursor at, const std::uint8_t* read_limit, const std::uint8_t* write_limit);
#ifdef PELLUCOR_X86
RleCursor decode_packets_avx2(RleCursor at, const std::uint8_t* read_limit, const std::uint8_t* write_limit);
#endif
