// SPDX-License-Identifier: MIT
// Ordered dithering: an 8 x 8 Bayer threshold t for each pixel, by its
// position in the output frame, added to each channel with saturation before
// the packers drop a field's d low bits:
//   5-bit field (d = 3)   v + (t >> 3), at most 255
//   6-bit field (d = 2)   v + (t >> 4), at most 255
// The pattern repeats every 8 pixels, so that a still picture gives the same
// words in every frame. The kernel table's loops add a row's pattern, or
// spread a gray row whose fields take different offsets.
#include "dither.h"
#include "dither_kernels.h"
#include "pixel_pack_kernels.h"
#include "vector_path.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr std::size_t BAYER_SIDE = 8;
constexpr unsigned THRESHOLD_BITS = 6;  // t is 0 to 63
constexpr std::size_t CHANNELS = COLOR_PIXEL_SIZE;
constexpr unsigned BYTE_MAX = 255;

unsigned field_drop(unsigned bits)
{
    return CHANNEL_BITS - bits;
}

// What a field of the given bits adds at threshold t.
std::uint8_t offset(unsigned t, unsigned bits)
{
    return static_cast<std::uint8_t>(t >> (THRESHOLD_BITS - field_drop(bits)));
}

std::uint8_t saturated(unsigned value, unsigned add)
{
    return static_cast<std::uint8_t>(std::min(value + add, BYTE_MAX));
}

}  // namespace

void add_pattern_plain(std::uint8_t* row, std::size_t bytes, const std::uint8_t* pattern)
{
    std::size_t at = 0;
    for (; at + DITHER_PATTERN_BYTES <= bytes; at += DITHER_PATTERN_BYTES) {
        for (std::size_t i = 0; i < DITHER_PATTERN_BYTES; ++i) {
            row[at + i] = saturated(row[at + i], pattern[i]);
        }
    }
    for (std::size_t i = 0; at + i < bytes; ++i) {
        row[at + i] = saturated(row[at + i], pattern[i]);
    }
}

void pack_dithered_gray_plain(const std::uint8_t* gray, std::uint8_t* packed, std::size_t width,
                              const std::uint8_t* five, const std::uint8_t* six, bool high_first)
{
    using Fields = ByteFields<6>;
    for (std::size_t x = 0; x < width; ++x) {
        const unsigned fields = saturated(gray[x], five[x % DITHER_SPREAD_PIXELS]);
        const unsigned green = saturated(gray[x], six[x % DITHER_SPREAD_PIXELS]);
        std::uint8_t* word = packed + PACKED_PIXEL_SIZE * x;
        word[high_first ? 1 : 0] = static_cast<std::uint8_t>(
            (green & Fields::LOW_GREEN_MASK) << Fields::LOW_GREEN_SHIFT | fields >> FIELD_SHIFT);
        word[high_first ? 0 : 1] =
            static_cast<std::uint8_t>((fields & FIELD_MASK) >> Fields::HIGH_SHIFT | green >> Fields::HIGH_GREEN_SHIFT);
    }
}

void pack_dithered_rows(const SourceFrame& band, std::size_t first_row, std::size_t rows, const WordFormat& format)
{
    const std::size_t width = static_cast<std::size_t>(video_width);
    const Kernels& loops = kernels();
    const std::size_t size = band.pixel_size;
    // A gray frame's 5-bit and 6-bit fields take different sums of one value.
    const bool two_sums = size == GRAY_PIXEL_SIZE && format.green_bits != FIELD_BITS;
    const FramePacker pack = size == GRAY_PIXEL_SIZE ? loops.pack_gray_frame : loops.pack_color_frame;

    // The offsets of each row of the matrix, for this frame's pixels.
    std::uint8_t pattern[BAYER_SIDE][DITHER_PATTERN_BYTES];
    std::uint8_t five[BAYER_SIDE][DITHER_SPREAD_PIXELS], six[BAYER_SIDE][DITHER_SPREAD_PIXELS];
    for (std::size_t y = 0; y < BAYER_SIDE; ++y) {
        for (std::size_t i = 0; i < DITHER_PATTERN_BYTES; ++i) {
            const bool green = size == CHANNELS && i % CHANNELS == TGA_GREEN;
            pattern[y][i] = offset(BAYER[y][i / size % BAYER_SIDE], green ? format.green_bits : FIELD_BITS);
        }
        for (std::size_t x = 0; x < DITHER_SPREAD_PIXELS; ++x) {
            five[y][x] = offset(BAYER[y][x % BAYER_SIDE], FIELD_BITS);
            six[y][x] = offset(BAYER[y][x % BAYER_SIDE], format.green_bits);
        }
    }
    for (std::size_t row = first_row; row < first_row + rows; ++row) {
        const std::size_t in_band = row - first_row;
        const std::size_t stored = band.top_first ? in_band : rows - 1 - in_band;
        std::uint8_t* source = band.pixels + stored * width * size;
        std::uint8_t* packed = output_buffer + row * width * PACKED_PIXEL_SIZE;
        if (two_sums) {
            loops.pack_dithered_gray(source, packed, width, five[row % BAYER_SIDE], six[row % BAYER_SIDE],
                                     format.big_endian);
            continue;
        }
        loops.add_pattern(source, width * size, pattern[row % BAYER_SIDE]);
        pack(source, packed, width, 1, band.readable - stored * width * size, false, format);
    }
}
