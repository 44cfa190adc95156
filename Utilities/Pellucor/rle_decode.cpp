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
// chunks: 16 pixels in 16-byte parts (SSE2 on x86-64, NEON on aarch64, plain
// copies elsewhere), or on x86-64 processors with AVX2, 32 pixels in 32-byte
// parts where no packet needs a check.
#include <algorithm>
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

constexpr std::uint8_t RLE_RUN_BIT = 0x80;
constexpr std::uint8_t RLE_COUNT_MASK = 0x7F;
constexpr std::size_t RLE_MAX_COUNT = RLE_COUNT_MASK + 1;

// Packets are written in whole chunks of 16 or 32 pixels (48 or 96 bytes) or
// in parts of them, which may reach past the packet's end for the next packet
// to overwrite: a run of up to 5 pixels, the most common kind, as one 16-byte
// part, and other packets a chunk or a 32-byte part at a time. Either way a
// packet writes at most LONGEST_WRITE bytes, which input_buffer always has
// room for past the last pixel of the largest frame.
constexpr std::size_t PART_SIZE = 16;
constexpr std::size_t CHUNK_PIXELS = 16;
constexpr std::size_t CHUNK_SIZE = CHUNK_PIXELS * COLOR_PIXEL_SIZE;
constexpr std::size_t WIDE_CHUNK_PIXELS = 32;
constexpr std::size_t LONGEST_WRITE = RLE_MAX_COUNT / CHUNK_PIXELS * CHUNK_SIZE;
constexpr std::size_t LONGEST_PACKET = 1 + COLOR_PIXEL_SIZE * RLE_MAX_COUNT;
constexpr std::size_t SHORT_RUN_PIXELS = PART_SIZE / COLOR_PIXEL_SIZE;
static_assert(RLE_MAX_COUNT % WIDE_CHUNK_PIXELS == 0 && RLE_MAX_COUNT % CHUNK_PIXELS == 0);
// Raw pixels are read in whole chunks too, from the packets' copy in
// scratch_buffer, which has this much room past any packets.
static_assert(SCRATCH_BUFFER_SIZE >= INPUT_BUFFER_SIZE + LONGEST_WRITE);
// The largest frame ends far enough before the end of input_buffer that the
// last packet may write a whole LONGEST_WRITE too.
static_assert(TGA_HEADER_SIZE + COLOR_PIXEL_SIZE * MAX_VIDEO_PIXELS + LONGEST_WRITE <= INPUT_BUFFER_SIZE);

#ifdef PELLUCOR_X86
using Part = __m128i;
struct Chunk {
    Part part[3];
};

// The pixel in bytes 0 to 2, and the byte after it (scratch_buffer always has
// one there).
Part pixel_bytes(const std::uint8_t* pixel)
{
    std::int32_t bytes = 0;
    std::memcpy(&bytes, pixel, sizeof bytes);
    return _mm_cvtsi32_si128(bytes);
}

// The first 16 bytes of a run, built in one register by byte shifts: the
// pixel, doubled, doubled again and once more.
Part first_part(const std::uint8_t* pixel)
{
    Part part = _mm_and_si128(pixel_bytes(pixel), _mm_cvtsi32_si128(0x00FFFFFF));
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

Part load_part(const std::uint8_t* at)
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
}

void store_chunk(std::uint8_t* at, const Chunk& chunk)
{
    auto* parts = reinterpret_cast<__m128i*>(at);
    _mm_storeu_si128(parts, chunk.part[0]);
    _mm_storeu_si128(parts + 1, chunk.part[1]);
    _mm_storeu_si128(parts + 2, chunk.part[2]);
}
#elif defined(PELLUCOR_NEON)
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

Part load_part(const std::uint8_t* at)
{
    return vld1q_u8(at);
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

Part load_part(const std::uint8_t* at)
{
    Part part;
    std::memcpy(part.bytes, at, PART_SIZE);
    return part;
}

void store_chunk(std::uint8_t* at, const Chunk& chunk)
{
    std::memcpy(at, chunk.bytes, CHUNK_SIZE);
}
#endif

// How a loop writes: runs and raw pixels in chunks of 16 pixels, as built
// above.
struct Chunks {
    using Chunk = ::Chunk;
    static constexpr std::size_t CHUNK_BYTES = CHUNK_SIZE;
    static constexpr std::size_t COPY_BYTES = CHUNK_SIZE;
    static void short_run(std::uint8_t* at, const std::uint8_t* pixel) { store_part(at, first_part(pixel)); }
    static Chunk run(const std::uint8_t* pixel) { return run_chunk(pixel); }
    static void store(std::uint8_t* at, const Chunk& chunk) { store_chunk(at, chunk); }
    // Short of a whole chunk, the whole chunk: 16-byte parts gain nothing here.
    static void store_start(std::uint8_t* at, const Chunk& chunk, std::size_t) { store_chunk(at, chunk); }
    static void copy(std::uint8_t* to, const std::uint8_t* from)
    {
        for (std::size_t i = 0; i < CHUNK_SIZE; i += PART_SIZE) {
            store_part(to + i, load_part(from + i));
        }
    }
};

#ifdef PELLUCOR_X86
// With AVX2: runs in chunks of 32 pixels, three 32-byte parts that each hold
// the pixel's bytes in turn from where the part before ends, and raw pixels
// 32 bytes at a time (whole chunks would write more than short packets need).
struct SpreadIndex {
    alignas(32) std::uint8_t part[3][32];
};

constexpr SpreadIndex make_spread_index()
{
    SpreadIndex index {};
    for (std::size_t part = 0; part < 3; ++part) {
        for (std::size_t i = 0; i < 32; ++i) {
            index.part[part][i] = static_cast<std::uint8_t>((32 * part + i) % COLOR_PIXEL_SIZE);
        }
    }
    return index;
}

constexpr SpreadIndex SPREAD_INDEX = make_spread_index();

struct WideChunks {
    struct Chunk {
        __m256i part[3];
    };
    static constexpr std::size_t CHUNK_BYTES = WIDE_CHUNK_PIXELS * COLOR_PIXEL_SIZE;
    static constexpr std::size_t COPY_BYTES = sizeof(__m256i);

    // A run of up to 5 pixels: one shuffle of the pixel's bytes.
    PELLUCOR_TARGET("avx2") static void short_run(std::uint8_t* at, const std::uint8_t* pixel)
    {
        const __m128i index = _mm_load_si128(reinterpret_cast<const __m128i*>(SPREAD_INDEX.part[0]));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(at), _mm_shuffle_epi8(pixel_bytes(pixel), index));
    }

    // Each 16-byte half of the broadcast holds the pixel in bytes 0 to 2.
    PELLUCOR_TARGET("avx2") static Chunk run(const std::uint8_t* pixel)
    {
        const __m256i spread = _mm256_broadcastsi128_si256(pixel_bytes(pixel));
        const auto* index = reinterpret_cast<const __m256i*>(SPREAD_INDEX.part);
        return {{_mm256_shuffle_epi8(spread, _mm256_load_si256(index)),
                 _mm256_shuffle_epi8(spread, _mm256_load_si256(index + 1)),
                 _mm256_shuffle_epi8(spread, _mm256_load_si256(index + 2))}};
    }

    PELLUCOR_TARGET("avx2") static void store(std::uint8_t* at, const Chunk& chunk)
    {
        auto* parts = reinterpret_cast<__m256i*>(at);
        _mm256_storeu_si256(parts, chunk.part[0]);
        _mm256_storeu_si256(parts + 1, chunk.part[1]);
        _mm256_storeu_si256(parts + 2, chunk.part[2]);
    }

    // The parts of the chunk that the first bytes (1 to CHUNK_BYTES) reach.
    PELLUCOR_TARGET("avx2") static void store_start(std::uint8_t* at, const Chunk& chunk, std::size_t bytes)
    {
        auto* parts = reinterpret_cast<__m256i*>(at);
        _mm256_storeu_si256(parts, chunk.part[0]);
        if (bytes > COPY_BYTES) {
            _mm256_storeu_si256(parts + 1, chunk.part[1]);
        }
        if (bytes > 2 * COPY_BYTES) {
            _mm256_storeu_si256(parts + 2, chunk.part[2]);
        }
    }

    PELLUCOR_TARGET("avx2") static void copy(std::uint8_t* to, const std::uint8_t* from)
    {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(to),
                            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(from)));
    }
};
#endif

// Writes count copies of pixel at packed, which has LONGEST_WRITE bytes of
// room: whole chunks, then of the last chunk only the parts the run reaches.
template <typename ChunkSet>
void fill_run(std::uint8_t* packed, const std::uint8_t* pixel, std::size_t count)
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
void copy_raw(std::uint8_t* packed, const std::uint8_t* source, std::size_t count)
{
    std::size_t done = 0;
    do {
        ChunkSet::copy(packed + done, source + done);
        done += ChunkSet::COPY_BYTES;
    } while (done < COLOR_PIXEL_SIZE * count);
}

// Where the packets are read and the pixels written.
struct Cursor {
    const std::uint8_t* read;
    std::uint8_t* write;
};

// Decodes packets while the read position is before read_limit and the write
// position before write_limit, which the caller sets so that no packet can run
// short, be cut or reach the end of input_buffer: no packet needs a check.
template <typename ChunkSet>
Cursor decode_unchecked(Cursor at, const std::uint8_t* read_limit, const std::uint8_t* write_limit)
{
    while (at.read < read_limit && at.write < write_limit) {
        const std::uint8_t packet = *at.read;
        const std::size_t count = (packet & RLE_COUNT_MASK) + 1u;
        if (static_cast<std::uint8_t>(packet - RLE_RUN_BIT) < SHORT_RUN_PIXELS) {
            ChunkSet::short_run(at.write, at.read + 1);
            at.read += 1 + COLOR_PIXEL_SIZE;
        } else if (packet & RLE_RUN_BIT) {
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

#ifdef PELLUCOR_X86
PELLUCOR_TARGET_FLAT("avx2")
Cursor decode_unchecked_avx2(Cursor at, const std::uint8_t* read_limit, const std::uint8_t* write_limit)
{
    return decode_unchecked<WideChunks>(at, read_limit, write_limit);
}
#endif

// The unchecked loop for the vector path in use.
Cursor decode_unchecked_fastest(Cursor at, const std::uint8_t* read_limit, const std::uint8_t* write_limit)
{
#ifdef PELLUCOR_X86
    const VectorPath path = vector_path();
    if (path == VectorPath::avx2 || path == VectorPath::avx512) {
        return decode_unchecked_avx2(at, read_limit, write_limit);
    }
#endif
    return decode_unchecked<Chunks>(at, read_limit, write_limit);
}

}  // namespace

bool decompress_rle_frame(std::size_t bytes_read)
{
    const std::size_t end = std::min(bytes_read, INPUT_BUFFER_SIZE);
    const std::size_t pixels = video_pixel_count();
    if (end < TGA_HEADER_SIZE || pixels > MAX_VIDEO_PIXELS) {
        return false;
    }

    const std::size_t packet_bytes = end - TGA_HEADER_SIZE;
    std::memcpy(scratch_buffer, input_buffer + TGA_HEADER_SIZE, packet_bytes);
    std::size_t read_at = 0;
    std::size_t write_at = TGA_HEADER_SIZE;

    // While the packets hold more than the longest packet and the frame needs
    // more than the longest packet gives, no packet can run short, be cut or
    // reach the end of input_buffer.
    const std::size_t frame_end = TGA_HEADER_SIZE + COLOR_PIXEL_SIZE * pixels;
    if (packet_bytes > LONGEST_PACKET && frame_end - write_at > LONGEST_WRITE) {
        const Cursor at = decode_unchecked_fastest({scratch_buffer, input_buffer + write_at},
                                                   scratch_buffer + packet_bytes - LONGEST_PACKET,
                                                   input_buffer + frame_end - LONGEST_WRITE);
        read_at = static_cast<std::size_t>(at.read - scratch_buffer);
        write_at = static_cast<std::size_t>(at.write - input_buffer);
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
        std::uint8_t* packed = input_buffer + write_at;
        const std::uint8_t* source = scratch_buffer + read_at;
        if (packet & RLE_RUN_BIT) {
            if (bytes_left < COLOR_PIXEL_SIZE) {
                return false;
            }
            fill_run<Chunks>(packed, source, count);
            read_at += COLOR_PIXEL_SIZE;
        } else {
            if (bytes_left < size) {
                return false;
            }
            copy_raw<Chunks>(packed, source, count);
            // A cut packet ends the frame, so the whole packet's length serves,
            // and the next header's position does not wait for the cut.
            read_at += COLOR_PIXEL_SIZE * packet_count;
        }
        write_at += size;
        pixels_left -= count;
    }
    return true;
}
