// SPDX-License-Identifier: MIT
// x86-64 dithering loops of the kernel table: the pattern added with SSE2,
// which every x86-64 processor has, and gray spread to 3-byte pixels with
// SSSE3 byte shuffles.
#include "dither_kernels.h"

#include "frame_store.h"

#ifdef PELLUCOR_X86
#include <immintrin.h>

namespace {

constexpr std::size_t PART = 16;
constexpr std::int8_t ZERO = -1;  // a shuffle index that writes 0

// Where each byte of the three 16-byte parts of 16 spread pixels comes
// from: the 5-bit sum (blue and red) or the 6-bit sum (green) of pixel i.
struct GraySpreadIndex {
    alignas(16) std::int8_t five[3][PART];
    alignas(16) std::int8_t six[3][PART];
};

constexpr GraySpreadIndex make_spread_index()
{
    GraySpreadIndex index {};
    for (std::size_t byte = 0; byte < 3 * PART; ++byte) {
        const auto pixel = static_cast<std::int8_t>(byte / COLOR_PIXEL_SIZE);
        const bool green = byte % COLOR_PIXEL_SIZE == TGA_GREEN;
        index.five[byte / PART][byte % PART] = green ? ZERO : pixel;
        index.six[byte / PART][byte % PART] = green ? pixel : ZERO;
    }
    return index;
}

constexpr GraySpreadIndex SPREAD_INDEX = make_spread_index();

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

PELLUCOR_TARGET("ssse3")
void spread_gray_ssse3(const std::uint8_t* gray, std::uint8_t* pixels, std::size_t width, const std::uint8_t* five,
                       const std::uint8_t* six)
{
    const __m128i add_five = load(five), add_six = load(six);
    std::size_t x = 0;
    for (; x + DITHER_SPREAD_PIXELS <= width; x += DITHER_SPREAD_PIXELS) {
        const __m128i value = load(gray + x);
        const __m128i low = _mm_adds_epu8(value, add_five), green = _mm_adds_epu8(value, add_six);
        std::uint8_t* out = pixels + COLOR_PIXEL_SIZE * x;
        for (std::size_t part = 0; part < 3; ++part) {
            store(out + PART * part, _mm_or_si128(_mm_shuffle_epi8(low, load(SPREAD_INDEX.five[part])),
                                                  _mm_shuffle_epi8(green, load(SPREAD_INDEX.six[part]))));
        }
    }
    if (x < width) {
        spread_gray_plain(gray + x, pixels + COLOR_PIXEL_SIZE * x, width - x, five, six);
    }
}
#endif
