// SPDX-License-Identifier: MIT
// aarch64 dithering loops of the kernel table: NEON saturating additions,
// and gray rows dithered and packed in one pass.
#include "dither_kernels.h"

#include "frame_store.h"
#include "pixel_pack_kernels.h"

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

void pack_dithered_gray_neon(const std::uint8_t* gray, std::uint8_t* packed, std::size_t width,
                             const std::uint8_t* five, const std::uint8_t* six, bool high_first)
{
    using Fields = ByteFields<6>;
    const uint8x16_t add_five = vld1q_u8(five), add_six = vld1q_u8(six);
    std::size_t x = 0;
    for (; x + DITHER_SPREAD_PIXELS <= width; x += DITHER_SPREAD_PIXELS) {
        const uint8x16_t value = vld1q_u8(gray + x);
        const uint8x16_t fields = vqaddq_u8(value, add_five), green = vqaddq_u8(value, add_six);
        const uint8x16_t low =
            vorrq_u8(vshlq_n_u8(vandq_u8(green, vdupq_n_u8(Fields::LOW_GREEN_MASK)), Fields::LOW_GREEN_SHIFT),
                     vshrq_n_u8(fields, FIELD_SHIFT));
        uint8x16_t high_field = vandq_u8(fields, vdupq_n_u8(FIELD_MASK));
        if constexpr (Fields::HIGH_SHIFT != 0) high_field = vshrq_n_u8(high_field, Fields::HIGH_SHIFT);
        const uint8x16_t high = vorrq_u8(high_field, vshrq_n_u8(green, Fields::HIGH_GREEN_SHIFT));
        uint8x16x2_t bytes;
        bytes.val[0] = high_first ? high : low;
        bytes.val[1] = high_first ? low : high;
        vst2q_u8(packed + PACKED_PIXEL_SIZE * x, bytes);
    }
    if (x < width) {
        pack_dithered_gray_plain(gray + x, packed + PACKED_PIXEL_SIZE * x, width - x, five, six, high_first);
    }
}
#endif
