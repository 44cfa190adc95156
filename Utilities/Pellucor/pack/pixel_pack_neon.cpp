// SPDX-License-Identifier: MIT
// aarch64 row packers of the kernel table: NEON, which every aarch64
// processor has. 16 pixels at a time, split into channel planes by the load
// and the word's two bytes interleaved by the store; the byte order of the
// format is which plane the store takes first.
#include "pixel_pack_neon.h"

#ifdef PELLUCOR_NEON
namespace {

constexpr std::size_t NEON_CHUNK = 16;

struct ColorNeon {
    template <unsigned GREEN_BITS, bool HIGH_FIRST>
    static void row(const std::uint8_t* source, std::uint8_t* packed, std::size_t width, std::size_t,
                    const WordFormat& format)
    {
        std::size_t x = 0;
        for (; x + NEON_CHUNK <= width; x += NEON_CHUNK) {
            const uint8x16x3_t pixel = vld3q_u8(source + COLOR_PIXEL_SIZE * x);  // blue, green, red
            const uint8x16_t high = format.blue_high ? pixel.val[TGA_BLUE] : pixel.val[TGA_RED];
            const uint8x16_t low = format.blue_high ? pixel.val[TGA_RED] : pixel.val[TGA_BLUE];
            vst2q_u8(packed + PACKED_PIXEL_SIZE * x,
                     word_bytes<GREEN_BITS, HIGH_FIRST>(high, pixel.val[TGA_GREEN], low));
        }
        finish_color_row(source, packed, width, x, format);
    }
};

struct GrayNeon {
    template <unsigned GREEN_BITS, bool HIGH_FIRST>
    static void row(const std::uint8_t* source, std::uint8_t* packed, std::size_t width, std::size_t,
                    const WordFormat& format)
    {
        std::size_t x = 0;
        for (; x + NEON_CHUNK <= width; x += NEON_CHUNK) {
            const uint8x16_t value = vld1q_u8(source + x);
            vst2q_u8(packed + PACKED_PIXEL_SIZE * x, word_bytes<GREEN_BITS, HIGH_FIRST>(value, value, value));
        }
        finish_gray_row(source, packed, width, x, format);
    }
};

}  // namespace

void pack_color_frame_neon(const std::uint8_t* source, std::uint8_t* packed, std::size_t width, std::size_t height,
                           std::size_t readable, bool top_first, const WordFormat& format)
{
    rows_in_format<ColorNeon, COLOR_PIXEL_SIZE>(source, packed, width, height, readable, top_first, format);
}

void pack_gray_frame_neon(const std::uint8_t* source, std::uint8_t* packed, std::size_t width, std::size_t height,
                          std::size_t readable, bool top_first, const WordFormat& format)
{
    rows_in_format<GrayNeon, GRAY_PIXEL_SIZE>(source, packed, width, height, readable, top_first, format);
}
#endif
