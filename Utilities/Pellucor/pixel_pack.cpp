// Pixel packing: source pixels to 16-bit words, stored low byte first.
//
// Color, from blue B, green G, red R:   Gray, from value V:
//   bit  15     0                          bits 15-11  V >> 3
//   bits 14-10  R >> 3                     bits 10-5   V >> 2
//   bits  9-5   G >> 3                     bits  4-0   V >> 3
//   bits  4-0   B >> 3
//
// The source stores its bottom row first; output row r comes from source row
// height - 1 - r, so the packed frame starts with the top row.
#include "frame_store.h"
#include "pixel_pack.h"

namespace {

// Each word is built as its two bytes, which keeps every step in 8 bits and
// lets the compiler vectorize the row loops with byte lanes:
//   color low byte   GGGBBBBB  = (G & 0x38) << 2 | B >> 3
//   color high byte  0RRRRRGG  = (R & 0xF8) >> 1 | G >> 6
//   gray low byte    GGGBBBBB  = (V & 0x1C) << 3 | V >> 3
//   gray high byte   RRRRRGGG  = (V & 0xF8)      | V >> 5
constexpr unsigned COLOR_LOW_GREEN_MASK = 0x38;
constexpr unsigned COLOR_LOW_GREEN_SHIFT = 2;
constexpr unsigned COLOR_HIGH_GREEN_SHIFT = 6;
constexpr unsigned GRAY_LOW_GREEN_MASK = 0x1C;
constexpr unsigned GRAY_LOW_GREEN_SHIFT = 3;
constexpr unsigned GRAY_HIGH_GREEN_SHIFT = 5;
constexpr unsigned FIVE_BIT_SHIFT = 3;
constexpr unsigned FIVE_BIT_MASK = 0xF8;
constexpr unsigned HIGH_RED_SHIFT = 1;

// The AVX-512 or AVX2 clone is picked at load time where the processor has
// it. That needs ifunc, which only ELF targets have; elsewhere the plain
// loops serve.
#if defined(__x86_64__) && defined(__linux__) && defined(__GNUC__) && !defined(__clang__)
#define PELLUCOR_ROW_CLONES __attribute__((target_clones("arch=x86-64-v4", "avx2", "default")))
#else
#define PELLUCOR_ROW_CLONES
#endif

PELLUCOR_ROW_CLONES
void pack_color_row(const std::uint8_t* __restrict source, std::uint8_t* __restrict packed, std::size_t width)
{
    for (std::size_t x = 0; x < width; ++x) {
        const unsigned blue = source[COLOR_PIXEL_SIZE * x];
        const unsigned green = source[COLOR_PIXEL_SIZE * x + 1];
        const unsigned red = source[COLOR_PIXEL_SIZE * x + 2];
        packed[PACKED_PIXEL_SIZE * x] =
            static_cast<std::uint8_t>((green & COLOR_LOW_GREEN_MASK) << COLOR_LOW_GREEN_SHIFT | blue >> FIVE_BIT_SHIFT);
        packed[PACKED_PIXEL_SIZE * x + 1] =
            static_cast<std::uint8_t>((red & FIVE_BIT_MASK) >> HIGH_RED_SHIFT | green >> COLOR_HIGH_GREEN_SHIFT);
    }
}

PELLUCOR_ROW_CLONES
void pack_gray_row(const std::uint8_t* __restrict source, std::uint8_t* __restrict packed, std::size_t width)
{
    for (std::size_t x = 0; x < width; ++x) {
        const unsigned value = source[x];
        packed[PACKED_PIXEL_SIZE * x] =
            static_cast<std::uint8_t>((value & GRAY_LOW_GREEN_MASK) << GRAY_LOW_GREEN_SHIFT | value >> FIVE_BIT_SHIFT);
        packed[PACKED_PIXEL_SIZE * x + 1] =
            static_cast<std::uint8_t>((value & FIVE_BIT_MASK) | value >> GRAY_HIGH_GREEN_SHIFT);
    }
}

template <void (*pack_row)(const std::uint8_t*, std::uint8_t*, std::size_t)>
void pack_frame(std::size_t pixel_size)
{
    const auto width = static_cast<std::size_t>(video_width);
    const auto height = static_cast<std::size_t>(video_height);
    for (std::size_t row = 0; row < height; ++row) {
        const std::uint8_t* source = input_buffer + TGA_HEADER_SIZE + (height - 1 - row) * width * pixel_size;
        pack_row(source, output_buffer + row * width * PACKED_PIXEL_SIZE, width);
    }
}

}  // namespace

void pack_color_frame()
{
    pack_frame<pack_color_row>(COLOR_PIXEL_SIZE);
}

void pack_gray_frame()
{
    pack_frame<pack_gray_row>(GRAY_PIXEL_SIZE);
}
