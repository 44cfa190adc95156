// SPDX-License-Identifier: MIT
// The NEON form of a word's two bytes, shared by the packers and the
// dithered gray packer.
#pragma once

#include "frame_store.h"
#include "pixel_pack_kernels.h"

#ifdef PELLUCOR_NEON
#include <arm_neon.h>

// The word's bytes from the high channel, green and the low channel.
template <unsigned GREEN_BITS, bool HIGH_FIRST>
inline uint8x16x2_t word_bytes(uint8x16_t high, uint8x16_t green, uint8x16_t low)
{
    using Fields = ByteFields<GREEN_BITS>;
    const uint8x16_t low_byte =
        vorrq_u8(vshlq_n_u8(vandq_u8(green, vdupq_n_u8(Fields::LOW_GREEN_MASK)), Fields::LOW_GREEN_SHIFT),
                 vshrq_n_u8(low, FIELD_SHIFT));
    uint8x16_t high_field = vandq_u8(high, vdupq_n_u8(FIELD_MASK));
    if constexpr (Fields::HIGH_SHIFT != 0) high_field = vshrq_n_u8(high_field, Fields::HIGH_SHIFT);
    const uint8x16_t high_byte = vorrq_u8(high_field, vshrq_n_u8(green, Fields::HIGH_GREEN_SHIFT));
    uint8x16x2_t bytes;
    bytes.val[0] = HIGH_FIRST ? high_byte : low_byte;
    bytes.val[1] = HIGH_FIRST ? low_byte : high_byte;
    return bytes;
}
#endif
