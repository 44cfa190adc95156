// SPDX-License-Identifier: MIT
// The PNG row filters undone with SSSE3, for every x86-64 path.
//   Up          16 bytes a step.
//   Sub         16 bytes a step (12 for 3-byte pixels): each byte plus the
//               ones 1, 2, 4 and 8 pixels to its left within the step, a
//               prefix sum in log steps, plus the last pixel of the step
//               before, copied across.
//   Average,    a pixel a step, each waiting on the one to its left, in
//   Paeth       registers: 3- and 4-byte pixels. Average takes the
//               rounding-up mean less the low bit that rounding added; Paeth
//               weighs its three distances in 16-bit lanes.
// 1- and 2-byte pixels of Average and Paeth take the plain loops: a byte
// that waits on the byte before gains nothing from registers.
#include "png_input_kernels.h"

#ifdef PELLUCOR_X86
#include <immintrin.h>

#include <cstring>

namespace {

constexpr std::size_t VECTOR = 16;

PELLUCOR_TARGET("sse2") __m128i load(const std::uint8_t* at)
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
}

PELLUCOR_TARGET("sse2") void store(std::uint8_t* at, __m128i value)
{
    _mm_storeu_si128(reinterpret_cast<__m128i*>(at), value);
}

// A pixel of 3 or 4 bytes into the low lanes, and back.
PELLUCOR_TARGET("sse2") __m128i load_pixel(const std::uint8_t* at, std::size_t bytes)
{
    std::uint32_t value = 0;
    std::memcpy(&value, at, bytes);
    return _mm_cvtsi32_si128(static_cast<int>(value));
}

PELLUCOR_TARGET("sse2") void store_pixel(std::uint8_t* at, __m128i pixel, std::size_t bytes)
{
    const auto value = static_cast<std::uint32_t>(_mm_cvtsi128_si32(pixel));
    std::memcpy(at, &value, bytes);
}

PELLUCOR_TARGET("ssse3") void undo_sub(const std::uint8_t* in, std::uint8_t* row, std::size_t size, std::size_t bpp)
{
    std::size_t i = 0;
    if (bpp != 3) {
        // The last pixel of the step before, across the vector.
        const __m128i last = bpp == 1   ? _mm_set1_epi8(15)
                             : bpp == 2 ? _mm_set1_epi16(0x0F0E)
                                        : _mm_set1_epi32(0x0F0E0D0C);
        __m128i carry = _mm_setzero_si128();
        for (; size - i >= VECTOR; i += VECTOR) {
            __m128i v = load(in + i);
            if (bpp == 1) v = _mm_add_epi8(v, _mm_slli_si128(v, 1));
            if (bpp <= 2) v = _mm_add_epi8(v, _mm_slli_si128(v, 2));
            v = _mm_add_epi8(v, _mm_slli_si128(v, 4));
            v = _mm_add_epi8(v, _mm_slli_si128(v, 8));
            v = _mm_add_epi8(v, carry);
            store(row + i, v);
            carry = _mm_shuffle_epi8(v, last);
        }
    } else {
        // Four pixels a step, loaded and stored 16 bytes wide: the 4 bytes
        // past them are written again by the next step or the last pixels.
        constexpr std::size_t STEP = 12;
        const __m128i last = _mm_setr_epi8(9, 10, 11, 9, 10, 11, 9, 10, 11, 9, 10, 11, -1, -1, -1, -1);
        __m128i carry = _mm_setzero_si128();
        for (; size - i >= VECTOR; i += STEP) {
            __m128i v = load(in + i);
            v = _mm_add_epi8(v, _mm_slli_si128(v, 3));
            v = _mm_add_epi8(v, _mm_slli_si128(v, 6));
            v = _mm_add_epi8(v, carry);
            store(row + i, v);
            carry = _mm_shuffle_epi8(v, last);
        }
    }
    for (; i < size; ++i) row[i] = static_cast<std::uint8_t>(in[i] + (i >= bpp ? row[i - bpp] : 0));
}

PELLUCOR_TARGET("sse2")
void undo_up(const std::uint8_t* in, const std::uint8_t* above, std::uint8_t* row, std::size_t size)
{
    std::size_t i = 0;
    for (; size - i >= VECTOR; i += VECTOR) store(row + i, _mm_add_epi8(load(in + i), load(above + i)));
    for (; i < size; ++i) row[i] = static_cast<std::uint8_t>(in[i] + above[i]);
}

PELLUCOR_TARGET("sse2")
void undo_average(const std::uint8_t* in, const std::uint8_t* above, std::uint8_t* row, std::size_t size,
                  std::size_t bpp)
{
    const __m128i low_bits = _mm_set1_epi8(1);
    __m128i left = _mm_setzero_si128();
    for (std::size_t i = 0; i < size; i += bpp) {
        const __m128i up = load_pixel(above + i, bpp);
        const __m128i mean = _mm_sub_epi8(_mm_avg_epu8(left, up), _mm_and_si128(_mm_xor_si128(left, up), low_bits));
        left = _mm_add_epi8(load_pixel(in + i, bpp), mean);
        store_pixel(row + i, left, bpp);
    }
}

PELLUCOR_TARGET("ssse3")
void undo_paeth(const std::uint8_t* in, const std::uint8_t* above, std::uint8_t* row, std::size_t size, std::size_t bpp)
{
    const __m128i zero = _mm_setzero_si128();
    __m128i left = zero, corner = zero;  // 16-bit lanes
    for (std::size_t i = 0; i < size; i += bpp) {
        const __m128i up = _mm_unpacklo_epi8(load_pixel(above + i, bpp), zero);
        const __m128i from_corner = _mm_sub_epi16(up, corner), left_from_corner = _mm_sub_epi16(left, corner);
        const __m128i to_left = _mm_abs_epi16(from_corner), to_above = _mm_abs_epi16(left_from_corner);
        const __m128i to_corner = _mm_abs_epi16(_mm_add_epi16(from_corner, left_from_corner));
        const __m128i nearest = _mm_min_epi16(to_left, _mm_min_epi16(to_above, to_corner));
        const __m128i is_left = _mm_cmpeq_epi16(to_left, nearest), is_above = _mm_cmpeq_epi16(to_above, nearest);
        const __m128i not_left = _mm_or_si128(_mm_and_si128(is_above, up), _mm_andnot_si128(is_above, corner));
        const __m128i predicted = _mm_or_si128(_mm_and_si128(is_left, left), _mm_andnot_si128(is_left, not_left));
        const __m128i pixel = _mm_add_epi8(load_pixel(in + i, bpp), _mm_packus_epi16(predicted, zero));
        store_pixel(row + i, pixel, bpp);
        left = _mm_unpacklo_epi8(pixel, zero);
        corner = up;
    }
}

}  // namespace

bool unfilter_row_ssse3(const std::uint8_t* filtered, const std::uint8_t* previous, std::uint8_t* row,
                        std::size_t row_bytes, std::size_t pixel_bytes)
{
    return unfilter_row_with<undo_sub, undo_up, undo_average, undo_paeth>(filtered, previous, row, row_bytes,
                                                                          pixel_bytes);
}
#endif
