// RLE decoder for TGA image type 10 (24-bit color).
#pragma once

#include <cstddef>
#include <cstdint>

#include "vector_path.h"

// A packet's header byte: 1ccccccc run, 0ccccccc raw, c + 1 pixels.
constexpr std::uint8_t RLE_RUN_BIT = 0x80;
constexpr std::uint8_t RLE_COUNT_MASK = 0x7F;
constexpr std::size_t RLE_MAX_COUNT = RLE_COUNT_MASK + 1;

// Decodes the RLE pixel data of input_buffer (bytes_read of it are valid),
// using scratch_buffer as its work area, so that afterwards input_buffer
// holds the unchanged header and the plain pixels. Returns false when the
// data ends before every pixel of the frame is decoded; the pixels in
// input_buffer are then not to be used.
bool decompress_rle_frame(std::size_t bytes_read);

// The reference decoder, a pixel at a time: decodes packet_bytes of packets
// into pixel_count pixels of 3 bytes. False when the packets end first.
bool decode_rle_reference(const std::uint8_t* packets, std::size_t packet_bytes, std::size_t pixel_count,
                          std::uint8_t* pixels);

// The kernels of the kernel table (PacketDecoder): 16-byte parts, and on
// x86-64 with AVX2, 32-byte parts.
RleCursor decode_packets(RleCursor at, const std::uint8_t* read_limit, const std::uint8_t* write_limit);
#ifdef PELLUCOR_X86
RleCursor decode_packets_avx2(RleCursor at, const std::uint8_t* read_limit, const std::uint8_t* write_limit);
#endif
