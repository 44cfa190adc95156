// SPDX-License-Identifier: MIT
// aarch64 dithering loops of the kernel table: NEON saturating additions,
// and the store that interleaves three planes into 3-byte pixels.
#include "dither_kernels.h"

#include "frame_store.h"

#ifdef PELLUCOR_NEON
#include <arm_neon.h>

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

void spread_gray_neon(const std::uint8_t* gray, std::uint8_t* pixels, std::size_t width, const std::uint8_t* five,
                      const std::uint8_t* six)
{
    const uint8x16_t add_five = vld1q_u8(five), add_six = vld1q_u8(six);
    std::size_t x = 0;
    for (; x + DITHER_SPREAD_PIXELS <= width; x += DITHER_SPREAD_PIXELS) {
        const uint8x16_t value = vld1q_u8(gray + x);
        uint8x16x3_t spread;
        spread.val[TGA_BLUE] = spread.val[TGA_RED] = vqaddq_u8(value, add_five);
        spread.val[TGA_GREEN] = vqaddq_u8(value, add_six);
        vst3q_u8(pixels + COLOR_PIXEL_SIZE * x, spread);
    }
    if (x < width) {
        spread_gray_plain(gray + x, pixels + COLOR_PIXEL_SIZE * x, width - x, five, six);
    }
}
#endif
