// SPDX-License-Identifier: MIT
// The RLE decoder's unchecked loop with AVX2 (kernel table, x86-64): runs in
// chunks of 32 pixels, three 32-byte parts that each hold the pixel's bytes
// in turn from where the part before ends, and raw pixels 32 bytes at a time
// (whole chunks would write more than short packets need).
#include "rle_chunks.h"

#ifdef PELLUCOR_X86
namespace {

constexpr std::size_t WIDE_PART_BYTES = 32;

struct RunSpreadIndex {
    alignas(32) std::uint8_t part[3][WIDE_PART_BYTES];
};

constexpr RunSpreadIndex make_spread_index()
{
    RunSpreadIndex index {};
    for (std::size_t part = 0; part < 3; ++part) {
        for (std::size_t i = 0; i < WIDE_PART_BYTES; ++i) {
            index.part[part][i] = static_cast<std::uint8_t>((WIDE_PART_BYTES * part + i) % COLOR_PIXEL_SIZE);
        }
    }
    return index;
}

constexpr RunSpreadIndex SPREAD_INDEX = make_spread_index();

struct WideChunks {
    struct Chunk {
        __m256i part[3];
    };
    static constexpr std::size_t CHUNK_BYTES = 3 * WIDE_PART_BYTES;
    static constexpr std::size_t COPY_BYTES = WIDE_PART_BYTES;

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
        if (bytes > WIDE_PART_BYTES) {
            _mm256_storeu_si256(parts + 1, chunk.part[1]);
        }
        if (bytes > 2 * WIDE_PART_BYTES) {
            _mm256_storeu_si256(parts + 2, chunk.part[2]);
        }
    }

    PELLUCOR_TARGET("avx2") static void copy(std::uint8_t* to, const std::uint8_t* from)
    {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(to), _mm256_loadu_si256(reinterpret_cast<const __m256i*>(from)));
    }
};
static_assert(writes_fit(WideChunks::CHUNK_BYTES, WIDE_PART_BYTES, WideChunks::COPY_BYTES));

}  // namespace

PELLUCOR_TARGET_FLAT("avx2")
RleCursor decode_packets_avx2(RleCursor at, const std::uint8_t* read_limit, const std::uint8_t* write_limit)
{
    return decode_unchecked<WideChunks>(at, read_limit, write_limit);
}
#endif
