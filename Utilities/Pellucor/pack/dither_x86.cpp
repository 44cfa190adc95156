// SPDX-License-Identifier: MIT
// x86-64 dithering loops of the kernel table, with SSE2, which every x86-64
// processor has: the pattern added to a row, and gray rows dithered and
// packed in one pass.
#include "dither_kernels.h"

#include "frame_store.h"
#include "pixel_pack_kernels.h"

#ifdef PELLUCOR_X86
#include <immintrin.h>

namespace {

constexpr std::size_t PART = 16;

__m128i load(const void* at)
{
    return _mm_loadu_si128(static_cast<const __m128i*>(at));
}

void store(void* at, __m128i bytes)
{
    _mm_storeu_si128(static_cast<__m128i*>(at), bytes);
}

}  // namespace

void add_pattern_sse2(std::uint8_t* row, std::size_t bytes, const std::uint8_t* pattern)
{
    const __m128i first = load(pattern), second = load(pattern + PART), third = load(pattern + 2 * PART);
    std::size_t at = 0;
    for (; at + DITHER_PATTERN_BYTES <= bytes; at += DITHER_PATTERN_BYTES) {
        store(row + at, _mm_adds_epu8(load(row + at), first));
        store(row + at + PART, _mm_adds_epu8(load(row + at + PART), second));
        store(row + at + 2 * PART, _mm_adds_epu8(load(row + at + 2 * PART), third));
    }
    if (at < bytes) {
        add_pattern_plain(row + at, bytes - at, pattern);
    }
}

// The word's two bytes in the byte form of pixel_pack_kernels.h, from the
// two sums of each gray value: the 5-bit fields' and the 6-bit green's.
void pack_dithered_gray_sse2(const std::uint8_t* gray, std::uint8_t* packed, std::size_t width,
                             const std::uint8_t* five, const std::uint8_t* six, bool high_first)
{
    using Fields = ByteFields<6>;
    constexpr unsigned HIGH_GREEN_MASK = (1u << (CHANNEL_BITS - Fields::HIGH_GREEN_SHIFT)) - 1;
    const __m128i add_five = load(five), add_six = load(six);
    const __m128i low_green = _mm_set1_epi8(static_cast<char>(Fields::LOW_GREEN_MASK));
    const __m128i low_field = _mm_set1_epi8(static_cast<char>(LOW_FIELD));
    const __m128i high_field = _mm_set1_epi8(static_cast<char>(FIELD_MASK));
    const __m128i high_green = _mm_set1_epi8(static_cast<char>(HIGH_GREEN_MASK));
    std::size_t x = 0;
    for (; x + DITHER_SPREAD_PIXELS <= width; x += DITHER_SPREAD_PIXELS) {
        const __m128i value = load(gray + x);
        const __m128i fields = _mm_adds_epu8(value, add_five), green = _mm_adds_epu8(value, add_six);
        const __m128i low = _mm_or_si128(_mm_slli_epi16(_mm_and_si128(green, low_green), Fields::LOW_GREEN_SHIFT),
                                         _mm_and_si128(_mm_srli_epi16(fields, FIELD_SHIFT), low_field));
        const __m128i high = _mm_or_si128(_mm_srli_epi16(_mm_and_si128(fields, high_field), Fields::HIGH_SHIFT),
                                          _mm_and_si128(_mm_srli_epi16(green, Fields::HIGH_GREEN_SHIFT), high_green));
        const __m128i first = high_first ? high : low, second = high_first ? low : high;
        store(packed + PACKED_PIXEL_SIZE * x, _mm_unpacklo_epi8(first, second));
        store(packed + PACKED_PIXEL_SIZE * x + PART, _mm_unpackhi_epi8(first, second));
    }
    if (x < width) {
        pack_dithered_gray_plain(gray + x, packed + PACKED_PIXEL_SIZE * x, width - x, five, six, high_first);
    }
}
#endif
