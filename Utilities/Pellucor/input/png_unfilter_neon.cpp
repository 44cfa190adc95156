// SPDX-License-Identifier: MIT
// The PNG row filters undone with NEON, for the aarch64 kernel table, as
// the x86 loops do (png_unfilter_x86.cpp says how):
//   Up          16 bytes a step.
//   Sub         16 bytes a step (12 for 3-byte pixels), a prefix sum in log
//               steps plus the last pixel of the step before.
//   Average,    a pixel a step, 3- and 4-byte pixels: Average by the halving
//   Paeth       add, which rounds down as PNG's mean does; Paeth in 16-bit
//               lanes.
// 1- and 2-byte pixels of Average and Paeth take the plain loops.
#include "png_input_kernels.h"

#ifdef PELLUCOR_NEON
#include <arm_neon.h>

#include <cstring>

namespace {

constexpr std::size_t VECTOR = 16;

// The vector moved up by bytes lanes, zeros coming in: lane i takes lane i - bytes.
template <int bytes>
uint8x16_t shift_up(uint8x16_t v)
{
    return vextq_u8(vdupq_n_u8(0), v, VECTOR - bytes);
}

uint8x8_t load_pixel(const std::uint8_t* at, std::size_t bytes)
{
    std::uint32_t value = 0;
    std::memcpy(&value, at, bytes);
    return vreinterpret_u8_u32(vdup_n_u32(value));
}

void store_pixel(std::uint8_t* at, uint8x8_t pixel, std::size_t bytes)
{
    const std::uint32_t value = vget_lane_u32(vreinterpret_u32_u8(pixel), 0);
    std::memcpy(at, &value, bytes);
}

void undo_sub(const std::uint8_t* in, std::uint8_t* row, std::size_t size, std::size_t bpp)
{
    std::size_t i = 0;
    uint8x16_t carry = vdupq_n_u8(0);
    if (bpp != 3) {
        for (; size - i >= VECTOR; i += VECTOR) {
            uint8x16_t v = vld1q_u8(in + i);
            if (bpp == 1) v = vaddq_u8(v, shift_up<1>(v));
            if (bpp <= 2) v = vaddq_u8(v, shift_up<2>(v));
            v = vaddq_u8(v, shift_up<4>(v));
            v = vaddq_u8(vaddq_u8(v, shift_up<8>(v)), carry);
            vst1q_u8(row + i, v);
            carry = bpp == 1   ? vdupq_laneq_u8(v, 15)
                    : bpp == 2 ? vreinterpretq_u8_u16(vdupq_laneq_u16(vreinterpretq_u16_u8(v), 7))
                               : vreinterpretq_u8_u32(vdupq_laneq_u32(vreinterpretq_u32_u8(v), 3));
        }
    } else {
        // Four pixels a step, loaded and stored 16 bytes wide: the 4 bytes
        // past them are written again by the next step or the last pixels.
        constexpr std::size_t STEP = 12;
        constexpr std::uint8_t LAST[VECTOR] = {9, 10, 11, 9, 10, 11, 9, 10, 11, 9, 10, 11, 255, 255, 255, 255};
        const uint8x16_t last = vld1q_u8(LAST);
        for (; size - i >= VECTOR; i += STEP) {
            uint8x16_t v = vld1q_u8(in + i);
            v = vaddq_u8(v, shift_up<3>(v));
            v = vaddq_u8(vaddq_u8(v, shift_up<6>(v)), carry);
            vst1q_u8(row + i, v);
            carry = vqtbl1q_u8(v, last);
        }
    }
    for (; i < size; ++i) row[i] = static_cast<std::uint8_t>(in[i] + (i >= bpp ? row[i - bpp] : 0));
}

void undo_up(const std::uint8_t* in, const std::uint8_t* above, std::uint8_t* row, std::size_t size)
{
    std::size_t i = 0;
    for (; size - i >= VECTOR; i += VECTOR) vst1q_u8(row + i, vaddq_u8(vld1q_u8(in + i), vld1q_u8(above + i)));
    for (; i < size; ++i) row[i] = static_cast<std::uint8_t>(in[i] + above[i]);
}

void undo_average(const std::uint8_t* in, const std::uint8_t* above, std::uint8_t* row, std::size_t size,
                  std::size_t bpp)
{
    uint8x8_t left = vdup_n_u8(0);
    for (std::size_t i = 0; i < size; i += bpp) {
        left = vadd_u8(load_pixel(in + i, bpp), vhadd_u8(left, load_pixel(above + i, bpp)));
        store_pixel(row + i, left, bpp);
    }
}

void undo_paeth(const std::uint8_t* in, const std::uint8_t* above, std::uint8_t* row, std::size_t size, std::size_t bpp)
{
    int16x8_t left = vdupq_n_s16(0), corner = vdupq_n_s16(0);
    for (std::size_t i = 0; i < size; i += bpp) {
        const int16x8_t up = vreinterpretq_s16_u16(vmovl_u8(load_pixel(above + i, bpp)));
        const int16x8_t from_corner = vsubq_s16(up, corner), left_from_corner = vsubq_s16(left, corner);
        const int16x8_t to_left = vabsq_s16(from_corner), to_above = vabsq_s16(left_from_corner);
        const int16x8_t to_corner = vabsq_s16(vaddq_s16(from_corner, left_from_corner));
        const int16x8_t nearest = vminq_s16(to_left, vminq_s16(to_above, to_corner));
        const int16x8_t not_left = vbslq_s16(vceqq_s16(to_above, nearest), up, corner);
        const int16x8_t predicted = vbslq_s16(vceqq_s16(to_left, nearest), left, not_left);
        const uint8x8_t pixel = vadd_u8(load_pixel(in + i, bpp), vmovn_u16(vreinterpretq_u16_s16(predicted)));
        store_pixel(row + i, pixel, bpp);
        left = vreinterpretq_s16_u16(vmovl_u8(pixel));
        corner = up;
    }
}

}  // namespace

bool unfilter_row_neon(const std::uint8_t* filtered, const std::uint8_t* previous, std::uint8_t* row,
                       std::size_t row_bytes, std::size_t pixel_bytes)
{
    return unfilter_row_with<undo_sub, undo_up, undo_average, undo_paeth>(filtered, previous, row, row_bytes,
                                                                          pixel_bytes);
}
#endif
