// SPDX-License-Identifier: MIT
// The RLE decoder's unchecked loop, shared by its 16-byte parts (this
// header) and its 32-byte parts (rle_decode_avx2.cpp).
//
// Packets are written in whole chunks of pixels, or in parts of them, which
// may reach past the packet's end for the next packet to overwrite. A set of
// chunks (ChunkSet) gives:
//   CHUNK_BYTES   the bytes of one chunk: a whole number of pixels
//   COPY_BYTES    the bytes one step of a raw copy moves
//   short_run     writes a run of up to SHORT_RUN_PIXELS pixels in one part
//   run           a chunk of copies of one pixel
//   store         writes a whole chunk
//   store_start   writes the parts of a chunk that its first bytes reach
//   copy          moves COPY_BYTES of raw pixels
// No packet writes more than LONGEST_WRITE bytes, which input_buffer always
// has room for past the last pixel of the largest frame, and no raw copy
// reads more than that from the packets' copy in scratch_buffer, which has
// as much room past the packets.
#pragma once

#include <cstdint>
#include <cstring>

#include "frame_store.h"
#include "rle_decode.h"
#include "vector_path.h"

#ifdef PELLUCOR_X86
#include <immintrin.h>
#elif defined(PELLUCOR_NEON)
#include <arm_neon.h>
#endif

namespace {

constexpr std::size_t PART_BYTES = 16;
constexpr std::size_t SHORT_RUN_PIXELS = PART_BYTES / COLOR_PIXEL_SIZE;
constexpr std::size_t LONGEST_PACKET = 1 + COLOR_PIXEL_SIZE * RLE_MAX_COUNT;
constexpr std::size_t LONGEST_WRITE = COLOR_PIXEL_SIZE * RLE_MAX_COUNT;

// scratch_buffer has BUFFER_SLACK bytes more than input_buffer, which has as
// many past the largest decoded frame of its size.
static_assert(BUFFER_SLACK >= LONGEST_WRITE);

// bytes rounded up to whole units
constexpr std::size_t in_whole(std::size_t bytes, std::size_t unit)
{
    return (bytes + unit - 1) / unit * unit;
}

// The bound that the loops below keep, for a set of chunks whose run
// chunks are stored in parts of part_bytes.
constexpr bool writes_fit(std::size_t chunk_bytes, std::size_t part_bytes, std::size_t copy_bytes)
{
    const std::size_t longest_run =
        LONGEST_WRITE - LONGEST_WRITE % chunk_bytes + in_whole(LONGEST_WRITE % chunk_bytes, part_bytes);
    return chunk_bytes % COLOR_PIXEL_SIZE == 0 && longest_run <= LONGEST_WRITE && PART_BYTES <= LONGEST_WRITE &&
           in_whole(LONGEST_WRITE, copy_bytes) <= LONGEST_WRITE;
}

// 16-byte parts, three to a chunk of 16 pixels.
#ifdef PELLUCOR_X86
using Part = __m128i;

// The pixel in bytes 0 to 2, and the byte after it (scratch_buffer always has
// one there).
inline Part pixel_bytes(const std::uint8_t* pixel)
{
    std::int32_t bytes = 0;
    std::memcpy(&bytes, pixel, sizeof bytes);
    return _mm_cvtsi32_si128(bytes);
}

// The first 16 bytes of a run, built in one register by byte shifts: the
// pixel, doubled, doubled again and once more.
inline Part first_part(const std::uint8_t* pixel)
{
    constexpr int PIXEL_MASK = 0x00FFFFFF;
    Part part = _mm_and_si128(pixel_bytes(pixel), _mm_cvtsi32_si128(PIXEL_MASK));
    part = _mm_or_si128(part, _mm_slli_si128(part, 3));
    part = _mm_or_si128(part, _mm_slli_si128(part, 6));
    return _mm_or_si128(part, _mm_slli_si128(part, 12));
}

// The next two parts of a run are the first moved on by one and by two bytes.
inline Part next_part(Part first, int bytes_on)
{
    return bytes_on == 1 ? _mm_or_si128(_mm_srli_si128(first, 1), _mm_slli_si128(first, 14))
                         : _mm_or_si128(_mm_srli_si128(first, 2), _mm_slli_si128(first, 13));
}

inline void store_part(std::uint8_t* at, Part part)
{
    _mm_storeu_si128(reinterpret_cast<__m128i*>(at), part);
}

inline Part load_part(const std::uint8_t* at)
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
}
#elif defined(PELLUCOR_NEON)
using Part = uint8x16_t;

// Copies of the pixel by table lookups into a load that starts with it
// (scratch_buffer has room past any packet for the load).
constexpr std::uint8_t SPREAD[3][PART_BYTES] = {{0, 1, 2, 0, 1, 2, 0, 1, 2, 0, 1, 2, 0, 1, 2, 0},
                                                {1, 2, 0, 1, 2, 0, 1, 2, 0, 1, 2, 0, 1, 2, 0, 1},
                                                {2, 0, 1, 2, 0, 1, 2, 0, 1, 2, 0, 1, 2, 0, 1, 2}};

inline Part first_part(const std::uint8_t* pixel)
{
    return vqtbl1q_u8(vld1q_u8(pixel), vld1q_u8(SPREAD[0]));
}

inline Part next_part(Part first, int bytes_on)
{
    return vqtbl1q_u8(first, vld1q_u8(SPREAD[bytes_on]));
}

inline void store_part(std::uint8_t* at, Part part)
{
    vst1q_u8(at, part);
}

inline Part load_part(const std::uint8_t* at)
{
    return vld1q_u8(at);
}
#else
struct Part {
    std::uint8_t bytes[PART_BYTES];
};

inline Part first_part(const std::uint8_t* pixel)
{
    Part part;
    for (std::size_t i = 0; i < PART_BYTES; ++i) {
        part.bytes[i] = pixel[i % COLOR_PIXEL_SIZE];
    }
    return part;
}

inline Part next_part(Part first, int bytes_on)
{
    Part part;
    for (std::size_t i = 0; i < PART_BYTES; ++i) {
        part.bytes[i] = first.bytes[(i + static_cast<std::size_t>(bytes_on)) % COLOR_PIXEL_SIZE];
    }
    return part;
}

inline void store_part(std::uint8_t* at, const Part& part)
{
    std::memcpy(at, part.bytes, PART_BYTES);
}

inline Part load_part(const std::uint8_t* at)
{
    Part part;
    std::memcpy(part.bytes, at, PART_BYTES);
    return part;
}
#endif

struct Chunks {
    struct Chunk {
        Part part[3];
    };
    static constexpr std::size_t CHUNK_BYTES = 3 * PART_BYTES;
    static constexpr std::size_t COPY_BYTES = CHUNK_BYTES;

    static void short_run(std::uint8_t* at, const std::uint8_t* pixel) { store_part(at, first_part(pixel)); }
    static Chunk run(const std::uint8_t* pixel)
    {
        const Part first = first_part(pixel);
        return {{first, next_part(first, 1), next_part(first, 2)}};
    }
    static void store(std::uint8_t* at, const Chunk& chunk)
    {
        for (std::size_t i = 0; i < 3; ++i) {
            store_part(at + PART_BYTES * i, chunk.part[i]);
        }
    }
    // Short of a whole chunk, the whole chunk: 16-byte parts gain nothing here.
    static void store_start(std::uint8_t* at, const Chunk& chunk, std::size_t) { store(at, chunk); }
    static void copy(std::uint8_t* to, const std::uint8_t* from)
    {
        for (std::size_t i = 0; i < CHUNK_BYTES; i += PART_BYTES) {
            store_part(to + i, load_part(from + i));
        }
    }
};
static_assert(writes_fit(Chunks::CHUNK_BYTES, Chunks::CHUNK_BYTES, Chunks::COPY_BYTES));

// Writes count copies of pixel at packed, which has LONGEST_WRITE bytes of
// room: whole chunks, then of the last chunk only the parts the run reaches.
template <typename ChunkSet>
PELLUCOR_INLINE void fill_run(std::uint8_t* packed, const std::uint8_t* pixel, std::size_t count)
{
    const typename ChunkSet::Chunk chunk = ChunkSet::run(pixel);
    const std::size_t bytes = COLOR_PIXEL_SIZE * count;
    std::size_t done = 0;
    for (; bytes - done > ChunkSet::CHUNK_BYTES; done += ChunkSet::CHUNK_BYTES) {
        ChunkSet::store(packed + done, chunk);
    }
    ChunkSet::store_start(packed + done, chunk, bytes - done);
}

// Copies count pixels to packed, which has LONGEST_WRITE bytes of room.
template <typename ChunkSet>
PELLUCOR_INLINE void copy_raw(std::uint8_t* packed, const std::uint8_t* source, std::size_t count)
{
    std::size_t done = 0;
    do {
        ChunkSet::copy(packed + done, source + done);
        done += ChunkSet::COPY_BYTES;
    } while (done < COLOR_PIXEL_SIZE * count);
}

// The unchecked loop (PacketDecoder): the caller's limits leave room for
// the longest packet and the longest write, so no packet needs a check.
template <typename ChunkSet>
RleCursor decode_unchecked(RleCursor at, const std::uint8_t* read_limit, const std::uint8_t* write_limit)
{
    while (at.read < read_limit && at.write < write_limit) {
        const PacketHeader packet = packet_header(*at.read);
        const std::size_t count = packet.count;
        if (packet.run && count <= SHORT_RUN_PIXELS) [[likely]] {
            ChunkSet::short_run(at.write, at.read + 1);
            at.read += 1 + COLOR_PIXEL_SIZE;
        } else if (packet.run) {
            fill_run<ChunkSet>(at.write, at.read + 1, count);
            at.read += 1 + COLOR_PIXEL_SIZE;
        } else {
            copy_raw<ChunkSet>(at.write, at.read + 1, count);
            at.read += 1 + COLOR_PIXEL_SIZE * count;
        }
        at.write += COLOR_PIXEL_SIZE * count;
    }
    return at;
}

}  // namespace
