// RLE decoder for TGA image type 10 (24-bit color).
//
// The pixel data after the 18-byte header is a sequence of packets, each led
// by one header byte:
//   1ccccccc  run packet: one pixel (blue, green, red), repeated c + 1 times
//   0ccccccc  raw packet: c + 1 pixels follow, 3 bytes each
// Packets may cross rows. A packet that reaches past the last pixel of the
// frame is cut there; a cut run still consumes its pixel. Bytes after the last
// pixel (a footer, say) are ignored.
//
// The packets are first moved to scratch_buffer; the pixels are then decoded
// from there straight behind the header in input_buffer, where the packers
// expect an uncompressed frame. Runs and raw packets are written in fixed
// 48-byte chunks (SSE2 on x86-64, NEON on aarch64, plain copies elsewhere).
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "frame_store.h"
#include "rle_decode.h"

#if defined(__x86_64__) || defined(_M_X64)
#include <emmintrin.h>
#define PELLUCOR_SSE2_CHUNKS 1
#elif defined(__aarch64__) || defined(_M_ARM64)
#include <arm_neon.h>
#define PELLUCOR_NEON_CHUNKS 1
#endif

namespace {

constexpr std::uint8_t RLE_RUN_BIT = 0x80;
constexpr std::uint8_t RLE_COUNT_MASK = 0x7F;
constexpr std::size_t RLE_MAX_COUNT = RLE_COUNT_MASK + 1;

// Packets are written in whole chunks of 16 pixels (48 bytes), which may reach
// past the packet's end for the next packet to overwrite: a run of up to 5
// pixels, the most common kind, as one 16-byte part of a chunk, and other
// packets a chunk at a time. Where the frame has less room than the longest
// packet needs, the pixels are written one by one instead.
constexpr std::size_t PART_SIZE = 16;
constexpr std::size_t CHUNK_PIXELS = 16;
constexpr std::size_t CHUNK_SIZE = CHUNK_PIXELS * COLOR_PIXEL_SIZE;
constexpr std::size_t LONGEST_WRITE = RLE_MAX_COUNT / CHUNK_PIXELS * CHUNK_SIZE;
constexpr std::size_t LONGEST_PACKET = 1 + COLOR_PIXEL_SIZE * RLE_MAX_COUNT;
constexpr std::size_t SHORT_RUN_PIXELS = PART_SIZE / COLOR_PIXEL_SIZE;
// Raw pixels are read in whole chunks too, from the packets' copy in
// scratch_buffer, which has this much room past any packets.
static_assert(SCRATCH_BUFFER_SIZE >= INPUT_BUFFER_SIZE + LONGEST_WRITE);

#if defined(PELLUCOR_SSE2_CHUNKS)
using Part = __m128i;
struct Chunk {
    Part part[3];
};

// The first 16 bytes of a run, built in one register by byte shifts: the
// pixel, doubled, doubled again and once more. The 4-byte load reads a byte
// past the pixel, which scratch_buffer always has.
Part first_part(const std::uint8_t* pixel)
{
    std::int32_t bytes = 0;
    std::memcpy(&bytes, pixel, sizeof bytes);
    Part part = _mm_and_si128(_mm_cvtsi32_si128(bytes), _mm_cvtsi32_si128(0x00FFFFFF));
    part = _mm_or_si128(part, _mm_slli_si128(part, 3));
    part = _mm_or_si128(part, _mm_slli_si128(part, 6));
    return _mm_or_si128(part, _mm_slli_si128(part, 12));
}

// 16 copies of the pixel: the other two parts are the first moved on by one
// and by two bytes.
Chunk run_chunk(const std::uint8_t* pixel)
{
    const Part part = first_part(pixel);
    return {{part, _mm_or_si128(_mm_srli_si128(part, 1), _mm_slli_si128(part, 14)),
             _mm_or_si128(_mm_srli_si128(part, 2), _mm_slli_si128(part, 13))}};
}

void store_part(std::uint8_t* at, Part part)
{
    _mm_storeu_si128(reinterpret_cast<__m128i*>(at), part);
}

Chunk load_chunk(const std::uint8_t* at)
{
    const auto* parts = reinterpret_cast<const __m128i*>(at);
    return {{_mm_loadu_si128(parts), _mm_loadu_si128(parts + 1), _mm_loadu_si128(parts + 2)}};
}

void store_chunk(std::uint8_t* at, const Chunk& chunk)
{
    auto* parts = reinterpret_cast<__m128i*>(at);
    _mm_storeu_si128(parts, chunk.part[0]);
    _mm_storeu_si128(parts + 1, chunk.part[1]);
    _mm_storeu_si128(parts + 2, chunk.part[2]);
}
#elif defined(PELLUCOR_NEON_CHUNKS)
using Part = uint8x16_t;
struct Chunk {
    uint8x16x3_t part;
};

// Copies of the pixel by table lookups into a load that starts with it
// (scratch_buffer has room past any packet for the load).
constexpr std::uint8_t SPREAD[3][16] = {{0, 1, 2, 0, 1, 2, 0, 1, 2, 0, 1, 2, 0, 1, 2, 0},
                                        {1, 2, 0, 1, 2, 0, 1, 2, 0, 1, 2, 0, 1, 2, 0, 1},
                                        {2, 0, 1, 2, 0, 1, 2, 0, 1, 2, 0, 1, 2, 0, 1, 2}};

Part first_part(const std::uint8_t* pixel)
{
    return vqtbl1q_u8(vld1q_u8(pixel), vld1q_u8(SPREAD[0]));
}

Chunk run_chunk(const std::uint8_t* pixel)
{
    const uint8x16_t loaded = vld1q_u8(pixel);
    return {{{vqtbl1q_u8(loaded, vld1q_u8(SPREAD[0])), vqtbl1q_u8(loaded, vld1q_u8(SPREAD[1])),
              vqtbl1q_u8(loaded, vld1q_u8(SPREAD[2]))}}};
}

void store_part(std::uint8_t* at, Part part)
{
    vst1q_u8(at, part);
}

Chunk load_chunk(const std::uint8_t* at)
{
    return {{{vld1q_u8(at), vld1q_u8(at + 16), vld1q_u8(at + 32)}}};
}

void store_chunk(std::uint8_t* at, const Chunk& chunk)
{
    vst1q_u8(at, chunk.part.val[0]);
    vst1q_u8(at + 16, chunk.part.val[1]);
    vst1q_u8(at + 32, chunk.part.val[2]);
}
#else
struct Part {
    std::uint8_t bytes[PART_SIZE];
};
struct Chunk {
    std::uint8_t bytes[CHUNK_SIZE];
};

Part first_part(const std::uint8_t* pixel)
{
    Part part;
    for (std::size_t i = 0; i < PART_SIZE; ++i) {
        part.bytes[i] = pixel[i % COLOR_PIXEL_SIZE];
    }
    return part;
}

Chunk run_chunk(const std::uint8_t* pixel)
{
    Chunk chunk;
    for (std::size_t i = 0; i < CHUNK_SIZE; ++i) {
        chunk.bytes[i] = pixel[i % COLOR_PIXEL_SIZE];
    }
    return chunk;
}

void store_part(std::uint8_t* at, const Part& part)
{
    std::memcpy(at, part.bytes, PART_SIZE);
}

Chunk load_chunk(const std::uint8_t* at)
{
    Chunk chunk;
    std::memcpy(chunk.bytes, at, CHUNK_SIZE);
    return chunk;
}

void store_chunk(std::uint8_t* at, const Chunk& chunk)
{
    std::memcpy(at, chunk.bytes, CHUNK_SIZE);
}
#endif

// Writes count copies of pixel at packed, which has LONGEST_WRITE bytes of room.
// Most runs are short: up to 5 pixels fit the first 16 bytes of a chunk.
void fill_run(std::uint8_t* packed, const std::uint8_t* pixel, std::size_t count)
{
    if (count <= SHORT_RUN_PIXELS) {
        store_part(packed, first_part(pixel));
        return;
    }
    const Chunk chunk = run_chunk(pixel);
    std::size_t done = 0;
    do {
        store_chunk(packed + COLOR_PIXEL_SIZE * done, chunk);
        done += CHUNK_PIXELS;
    } while (done < count);
}

// Copies count pixels to packed, which has LONGEST_WRITE bytes of room.
void copy_raw(std::uint8_t* packed, const std::uint8_t* source, std::size_t count)
{
    std::size_t done = 0;
    do {
        store_chunk(packed + COLOR_PIXEL_SIZE * done, load_chunk(source + COLOR_PIXEL_SIZE * done));
        done += CHUNK_PIXELS;
    } while (done < count);
}

}  // namespace

bool decompress_rle_frame(std::size_t bytes_read)
{
    const std::size_t end = std::min(bytes_read, INPUT_BUFFER_SIZE);
    const std::size_t pixels = video_pixel_count();
    if (end < TGA_HEADER_SIZE || TGA_HEADER_SIZE + COLOR_PIXEL_SIZE * pixels > INPUT_BUFFER_SIZE) {
        return false;
    }

    const std::size_t packet_bytes = end - TGA_HEADER_SIZE;
    std::memcpy(scratch_buffer, input_buffer + TGA_HEADER_SIZE, packet_bytes);
    std::size_t read_at = 0;
    std::size_t write_at = TGA_HEADER_SIZE;

    // While the packets hold more than the longest packet and the frame needs
    // more than the longest packet gives, no packet can run short, be cut or
    // reach the end of input_buffer: no packet needs a check of its own.
    const std::size_t frame_end = TGA_HEADER_SIZE + COLOR_PIXEL_SIZE * pixels;
    if (packet_bytes > LONGEST_PACKET && frame_end - write_at > LONGEST_WRITE) {
        const std::uint8_t* read = scratch_buffer;
        std::uint8_t* write = input_buffer + write_at;
        const std::uint8_t* const read_limit = scratch_buffer + packet_bytes - LONGEST_PACKET;
        std::uint8_t* const write_limit = input_buffer + frame_end - LONGEST_WRITE;
        while (read < read_limit && write < write_limit) {
            const std::uint8_t packet = *read;
            const std::size_t count = (packet & RLE_COUNT_MASK) + 1u;
            if (static_cast<std::uint8_t>(packet - RLE_RUN_BIT) < SHORT_RUN_PIXELS) {
                store_part(write, first_part(read + 1));
                read += 1 + COLOR_PIXEL_SIZE;
            } else if (packet & RLE_RUN_BIT) {
                fill_run(write, read + 1, count);
                read += 1 + COLOR_PIXEL_SIZE;
            } else {
                copy_raw(write, read + 1, count);
                read += 1 + COLOR_PIXEL_SIZE * count;
            }
            write += COLOR_PIXEL_SIZE * count;
        }
        read_at = static_cast<std::size_t>(read - scratch_buffer);
        write_at = static_cast<std::size_t>(write - input_buffer);
    }

    // The rest, packet by packet with every check.
    std::size_t pixels_left = (frame_end - write_at) / COLOR_PIXEL_SIZE;
    while (pixels_left > 0) {
        if (read_at == packet_bytes) {
            return false;
        }
        const std::uint8_t packet = scratch_buffer[read_at++];
        const std::size_t packet_count = (packet & RLE_COUNT_MASK) + 1u;
        const std::size_t count = std::min(packet_count, pixels_left);
        const std::size_t size = COLOR_PIXEL_SIZE * count;
        const std::size_t bytes_left = packet_bytes - read_at;
        const bool room = INPUT_BUFFER_SIZE - write_at >= LONGEST_WRITE;
        std::uint8_t* packed = input_buffer + write_at;
        const std::uint8_t* source = scratch_buffer + read_at;
        if (packet & RLE_RUN_BIT) {
            if (bytes_left < COLOR_PIXEL_SIZE) {
                return false;
            }
            if (room) {
                fill_run(packed, source, count);
            } else {
                for (std::size_t i = 0; i < count; ++i) {
                    std::memcpy(packed + COLOR_PIXEL_SIZE * i, source, COLOR_PIXEL_SIZE);
                }
            }
            read_at += COLOR_PIXEL_SIZE;
        } else {
            if (bytes_left < size) {
                return false;
            }
            if (room) {
                copy_raw(packed, source, count);
            } else {
                std::memcpy(packed, source, size);
            }
            // A cut packet ends the frame, so the whole packet's length serves,
            // and the next header's position does not wait for the cut.
            read_at += COLOR_PIXEL_SIZE * packet_count;
        }
        write_at += size;
        pixels_left -= count;
    }
    return true;
}
