// SPDX-License-Identifier: MIT
// The chunk CRC: by a table on every build, and for the x86-64 kernel table
// by carry-less multiplication (PCLMULQDQ), a few times as fast as a table.
//
// The bytes are taken 16 at a time as 128-bit values, in the CRC's reflected
// bit order: bit 0 of the first byte is the highest power of x. Four running
// values take 64 bytes a step; each is folded forward past the next 64
// bytes, a multiple of itself that leaves its remainder modulo the CRC's
// polynomial P unchanged, and the new bytes added. A value of halves L and H
// is L x^64 + H, and moving it on by D bits gives
//     L (x^(D+64) mod P) + H (x^D mod P),
// two 64 x 32-bit products that fit in 128 bits. The four values then fold
// into one, the 16-byte blocks left fold into that, and the one value left,
// with the last few bytes, goes through the table: it has the remainder of
// all the bytes before them.
#include "png_input_kernels.h"

#include <array>

namespace {

constexpr std::uint32_t POLYNOMIAL = 0xEDB88320;  // reflected, without x^32
constexpr unsigned BYTE_BITS = 8;

constexpr std::array<std::uint32_t, 256> make_table()
{
    std::array<std::uint32_t, 256> table {};
    for (std::uint32_t n = 0; n < table.size(); ++n) {
        std::uint32_t c = n;
        for (unsigned bit = 0; bit < BYTE_BITS; ++bit) {
            c = (c & 1) != 0 ? c >> 1 ^ POLYNOMIAL : c >> 1;
        }
        table[n] = c;
    }
    return table;
}
constexpr std::array<std::uint32_t, 256> TABLE = make_table();

}  // namespace

std::uint32_t run_crc_table(std::uint32_t c, const std::uint8_t* data, std::size_t size)
{
    for (std::size_t i = 0; i < size; ++i) {
        c = TABLE[(c ^ data[i]) & 0xFF] ^ c >> BYTE_BITS;
    }
    return c;
}

#ifdef PELLUCOR_X86
#include <immintrin.h>

namespace {

constexpr std::size_t BLOCK = 16, LANES = 4, STEP = BLOCK * LANES;

// x^n mod P, in the reflected order of a 64-bit half: the coefficient of
// x^k at bit 63 - k. A carry-less product of two such halves is one power
// of x short in the 128-bit order, so a fold by D bits takes x^(D+63) for
// L and x^(D-1) for H.
constexpr std::uint64_t power_of_x(unsigned n)
{
    std::uint64_t r = 1;  // bit k is x^k, normal order, below x^32
    for (unsigned i = 0; i < n; ++i) {
        r <<= 1;
        if ((r >> 32) != 0) {
            r ^= 0x104C11DB7;
        }
    }
    std::uint64_t reflected = 0;
    for (unsigned k = 0; k < 32; ++k) {
        reflected |= ((r >> k) & 1) << (63 - k);
    }
    return reflected;
}

constexpr unsigned BLOCK_BITS = 128, STEP_BITS = 512;
constexpr std::uint64_t FOLD_STEP_L = power_of_x(STEP_BITS + 63), FOLD_STEP_H = power_of_x(STEP_BITS - 1);
constexpr std::uint64_t FOLD_BLOCK_L = power_of_x(BLOCK_BITS + 63), FOLD_BLOCK_H = power_of_x(BLOCK_BITS - 1);
static_assert(FOLD_BLOCK_H == 0x9ba54c6f00000000 && FOLD_STEP_L == 0x653d982200000000);

PELLUCOR_TARGET("pclmul,sse2") __m128i fold(__m128i value, __m128i constants, __m128i next)
{
    return _mm_xor_si128(
        _mm_xor_si128(_mm_clmulepi64_si128(value, constants, 0x00), _mm_clmulepi64_si128(value, constants, 0x11)),
        next);
}

PELLUCOR_TARGET("sse2") __m128i load(const std::uint8_t* at)
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
}

}  // namespace

PELLUCOR_TARGET_FLAT("pclmul,sse2") std::uint32_t chunk_crc_pclmul(const std::uint8_t* data, std::size_t size)
{
    if (size < STEP) {
        return ~run_crc_table(~0u, data, size);
    }
    const __m128i by_step = _mm_set_epi64x(static_cast<long long>(FOLD_STEP_H), static_cast<long long>(FOLD_STEP_L));
    const __m128i by_block = _mm_set_epi64x(static_cast<long long>(FOLD_BLOCK_H), static_cast<long long>(FOLD_BLOCK_L));
    // The register starts at all ones: the same as the first 32 bits inverted.
    __m128i lane[LANES] = {_mm_xor_si128(load(data), _mm_cvtsi32_si128(-1)), load(data + BLOCK), load(data + 2 * BLOCK),
                           load(data + 3 * BLOCK)};
    std::size_t at = STEP;
    for (; size - at >= STEP; at += STEP) {
        for (std::size_t i = 0; i < LANES; ++i) {
            lane[i] = fold(lane[i], by_step, load(data + at + i * BLOCK));
        }
    }
    __m128i value = lane[0];
    for (std::size_t i = 1; i < LANES; ++i) {
        value = fold(value, by_block, lane[i]);
    }
    for (; size - at >= BLOCK; at += BLOCK) {
        value = fold(value, by_block, load(data + at));
    }
    alignas(BLOCK) std::uint8_t rest[BLOCK];
    _mm_store_si128(reinterpret_cast<__m128i*>(rest), value);
    return ~run_crc_table(run_crc_table(0, rest, BLOCK), data + at, size - at);
}
#endif
