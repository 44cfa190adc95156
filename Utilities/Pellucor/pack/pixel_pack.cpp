// SPDX-License-Identifier: MIT
// Pixel packing: source pixels to 16-bit words, in the word format chosen
// for each kind of frame (word_format.h has the layouts). By default:
//
// Color, from blue B, green G, red R:   Gray, from value V:
//   bit  15     0                          bits 15-11  V >> 3
//   bits 14-10  R >> 3                     bits 10-5   V >> 2
//   bits  9-5   G >> 3                     bits  4-0   V >> 3
//   bits  4-0   B >> 3
// each word stored low byte first.
//
// The source stores its bottom row first (or, where its header says so, its
// top row); output row r comes from source row height - 1 - r, so the packed
// frame starts with the top row. The frame packer of the kernel table walks
// the rows so (each_row, pixel_pack_kernels.h): in
// each, a vector loop does whole chunks of pixels and hands the rest of the
// row to the plain loop below.
#include "pixel_pack.h"

#include "dither.h"
#include "frame_store.h"
#include "pixel_pack_kernels.h"
#include "vector_path.h"

namespace {

// The plain loops build each word as its two bytes, in the byte form of
// pixel_pack_kernels.h, which keeps every step within 8 bits; compiled for
// each green width, byte order and channel order, compilers vectorize them.
template <unsigned GREEN_BITS, bool HIGH_FIRST>
void store_bytes(std::uint8_t* at, unsigned high, unsigned green, unsigned low)
{
    using Fields = ByteFields<GREEN_BITS>;
    at[HIGH_FIRST ? 1 : 0] =
        static_cast<std::uint8_t>((green & Fields::LOW_GREEN_MASK) << Fields::LOW_GREEN_SHIFT | low >> FIELD_SHIFT);
    at[HIGH_FIRST ? 0 : 1] =
        static_cast<std::uint8_t>((high & FIELD_MASK) >> Fields::HIGH_SHIFT | green >> Fields::HIGH_GREEN_SHIFT);
}

template <unsigned GREEN_BITS, bool HIGH_FIRST, bool BLUE_HIGH>
void pack_color_row(const std::uint8_t* source, std::uint8_t* packed, std::size_t width)
{
    constexpr std::size_t HIGH = BLUE_HIGH ? TGA_BLUE : TGA_RED, LOW = BLUE_HIGH ? TGA_RED : TGA_BLUE;
    for (std::size_t x = 0; x < width; ++x) {
        const std::uint8_t* pixel = source + COLOR_PIXEL_SIZE * x;
        store_bytes<GREEN_BITS, HIGH_FIRST>(packed + PACKED_PIXEL_SIZE * x, pixel[HIGH], pixel[TGA_GREEN], pixel[LOW]);
    }
}

struct ColorPlain {
    template <unsigned GREEN_BITS, bool HIGH_FIRST>
    static void row(const std::uint8_t* source, std::uint8_t* packed, std::size_t width, std::size_t,
                    const WordFormat& format)
    {
        format.blue_high ? pack_color_row<GREEN_BITS, HIGH_FIRST, true>(source, packed, width)
                         : pack_color_row<GREEN_BITS, HIGH_FIRST, false>(source, packed, width);
    }
};

struct GrayPlain {
    template <unsigned GREEN_BITS, bool HIGH_FIRST>
    static void row(const std::uint8_t* source, std::uint8_t* packed, std::size_t width, std::size_t, const WordFormat&)
    {
        for (std::size_t x = 0; x < width; ++x) {
            store_bytes<GREEN_BITS, HIGH_FIRST>(packed + PACKED_PIXEL_SIZE * x, source[x], source[x], source[x]);
        }
    }
};

}  // namespace

void pack_color_frame_plain(const std::uint8_t* source, std::uint8_t* packed, std::size_t width, std::size_t height,
                            std::size_t readable, bool top_first, const WordFormat& format)
{
    rows_in_format<ColorPlain, COLOR_PIXEL_SIZE>(source, packed, width, height, readable, top_first, format);
}

void pack_gray_frame_plain(const std::uint8_t* source, std::uint8_t* packed, std::size_t width, std::size_t height,
                           std::size_t readable, bool top_first, const WordFormat& format)
{
    rows_in_format<GrayPlain, GRAY_PIXEL_SIZE>(source, packed, width, height, readable, top_first, format);
}

void pack_rows(const SourceFrame& band, std::size_t first_row, std::size_t rows, bool dither)
{
    if (band.packed || rows == 0 || video_width == 0) {
        return;  // not even a walk over 2^31 empty rows
    }
    const bool gray = band.kind == FrameKind::gray;
    WordFormat format = gray ? gray_word_format : color_word_format;
    // Red stored where blue is: the other channel order of the same format.
    format.blue_high = format.blue_high != band.red_first;
    if (dither) {
        pack_dithered_rows(band, first_row, rows, format);
        return;
    }
    const auto width = static_cast<std::size_t>(video_width);
    const FramePacker pack =
        band.pixel_size == GRAY_PIXEL_SIZE ? kernels().pack_gray_frame : kernels().pack_color_frame;
    pack(band.pixels, output_buffer + first_row * width * PACKED_PIXEL_SIZE, width, rows, band.readable, band.top_first,
         format);
}

void pack_frame(const SourceFrame& frame, bool dither)
{
    pack_rows(frame, 0, static_cast<std::size_t>(video_height), dither);
}
