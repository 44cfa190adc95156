// SPDX-License-Identifier: MIT
// aarch64 dithering loops of the kernel table: NEON saturating additions,
// and gray rows dithered and packed in one pass.
#include "dither_kernels.h"

#include "pixel_pack_neon.h"

#ifdef PELLUCOR_NEON

namespace {
constexpr std::size_t PART = 16;
}  // namespace

void add_pattern_neon(std::uint8_t* row, std::size_t bytes, const std::uint8_t* pattern)
{
    const uint8x16_t first = vld1q_u8(pattern), second = vld1q_u8(pattern + PART), third = vld1q_u8(pattern + 2 * PART);
    std::size_t at = 0;
    for (; at + DITHER_PATTERN_BYTES <= bytes; at += DITHER_PATTERN_BYTES) {
        vst1q_u8(row + at, vqaddq_u8(vld1q_u8(row + at), first));
        vst1q_u8(row + at + PART, vqaddq_u8(vld1q_u8(row + at + PART), second));
        vst1q_u8(row + at + 2 * PART, vqaddq_u8(vld1q_u8(row + at + 2 * PART), third));
    }
    if (at < bytes) {
        add_pattern_plain(row + at, bytes - at, pattern);
    }
}

namespace {

// The dithered gray words of whole chunks, in the byte form of a 6-bit green:
// the high and low fields from the 5-bit sum, green from the 6-bit one.
template <bool HIGH_FIRST>
std::size_t pack_dithered_gray_chunks(const std::uint8_t* gray, std::uint8_t* packed, std::size_t width,
                                      uint8x16_t add_five, uint8x16_t add_six)
{
    std::size_t x = 0;
    for (; x + DITHER_SPREAD_PIXELS <= width; x += DITHER_SPREAD_PIXELS) {
        const uint8x16_t value = vld1q_u8(gray + x);
        const uint8x16_t fields = vqaddq_u8(value, add_five), green = vqaddq_u8(value, add_six);
        vst2q_u8(packed + PACKED_PIXEL_SIZE * x, word_bytes<6, HIGH_FIRST>(fields, green, fields));
    }
    return x;
}

}  // namespace

void pack_dithered_gray_neon(const std::uint8_t* gray, std::uint8_t* packed, std::size_t width,
                             const std::uint8_t* five, const std::uint8_t* six, bool high_first)
{
    const uint8x16_t add_five = vld1q_u8(five), add_six = vld1q_u8(six);
    const std::size_t x = high_first ? pack_dithered_gray_chunks<true>(gray, packed, width, add_five, add_six)
                                     : pack_dithered_gray_chunks<false>(gray, packed, width, add_five, add_six);
    if (x < width) {
        pack_dithered_gray_plain(gray + x, packed + PACKED_PIXEL_SIZE * x, width - x, five, six, high_first);
    }
}
#endif
