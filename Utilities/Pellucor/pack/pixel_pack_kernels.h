// SPDX-License-Identifier: MIT
// The frame packers of the kernel table, and the byte form of the word formats
// that the vector loops compute.
#pragma once

#include <cstddef>
#include <cstdint>

#include "frame_store.h"
#include "vector_path.h"

// The plain loops: the reference, and the tail of every vector loop.
void pack_color_frame_plain(const std::uint8_t* source, std::uint8_t* packed, std::size_t width, std::size_t height,
                            std::size_t readable, bool top_first, const WordFormat& format);
void pack_gray_frame_plain(const std::uint8_t* source, std::uint8_t* packed, std::size_t width, std::size_t height,
                           std::size_t readable, bool top_first, const WordFormat& format);

// The tail of a vector loop: the pixels from done on, by the plain loop.
// Rows of whole chunks, the common case, skip the call.
inline void finish_color_row(const std::uint8_t* source, std::uint8_t* packed, std::size_t width, std::size_t done,
                             const WordFormat& format)
{
    if (done < width) {
        pack_color_frame_plain(source + COLOR_PIXEL_SIZE * done, packed + PACKED_PIXEL_SIZE * done, width - done, 1, 0,
                               false, format);
    }
}

inline void finish_gray_row(const std::uint8_t* source, std::uint8_t* packed, std::size_t width, std::size_t done,
                            const WordFormat& format)
{
    if (done < width) {
        pack_gray_frame_plain(source + GRAY_PIXEL_SIZE * done, packed + PACKED_PIXEL_SIZE * done, width - done, 1, 0,
                              false, format);
    }
}

#ifdef PELLUCOR_X86
void pack_color_frame_ssse3(const std::uint8_t*, std::uint8_t*, std::size_t, std::size_t, std::size_t, bool,
                            const WordFormat&);
void pack_color_frame_avx2(const std::uint8_t*, std::uint8_t*, std::size_t, std::size_t, std::size_t, bool,
                           const WordFormat&);
void pack_color_frame_avx512(const std::uint8_t*, std::uint8_t*, std::size_t, std::size_t, std::size_t, bool,
                             const WordFormat&);
void pack_gray_frame_avx2(const std::uint8_t*, std::uint8_t*, std::size_t, std::size_t, std::size_t, bool,
                          const WordFormat&);
#endif
#ifdef PELLUCOR_NEON
void pack_color_frame_neon(const std::uint8_t*, std::uint8_t*, std::size_t, std::size_t, std::size_t, bool,
                           const WordFormat&);
void pack_gray_frame_neon(const std::uint8_t*, std::uint8_t*, std::size_t, std::size_t, std::size_t, bool,
                          const WordFormat&);
#endif

// The word's two bytes from the high channel H, green G and the low channel L
// (for gray all three are V), each step within 8 bits:
//   low byte   (G & LOW_GREEN_MASK) << LOW_GREEN_SHIFT | L >> 3
//   high byte  (H & FIELD_MASK) >> HIGH_SHIFT | G >> HIGH_GREEN_SHIFT
// The low byte holds the low field and the green field's lowest 3 bits; the
// high byte the high field and the rest of green.
constexpr unsigned FIELD_MASK = 0xF8;                        // the top 5 bits of a channel
constexpr unsigned FIELD_SHIFT = CHANNEL_BITS - FIELD_BITS;  // a channel's top 5 bits as a field
constexpr unsigned LOW_FIELD = (1u << FIELD_BITS) - 1;
constexpr unsigned GREEN_IN_LOW_BYTE = CHANNEL_BITS - FIELD_BITS;

template <unsigned GREEN_BITS>
struct ByteFields {
    static constexpr unsigned LOW_GREEN_MASK = ((1u << GREEN_IN_LOW_BYTE) - 1) << (CHANNEL_BITS - GREEN_BITS);
    static constexpr unsigned LOW_GREEN_SHIFT = FIELD_BITS - (CHANNEL_BITS - GREEN_BITS);
    static constexpr unsigned HIGH_SHIFT = CHANNEL_BITS - FIELD_BITS - (GREEN_BITS - GREEN_IN_LOW_BYTE);
    static constexpr unsigned HIGH_GREEN_SHIFT = CHANNEL_BITS - GREEN_BITS + GREEN_IN_LOW_BYTE;

    // The word of the byte form, for the checks against pack_word.
    static constexpr unsigned word(unsigned high, unsigned green, unsigned low)
    {
        const unsigned low_byte = ((green & LOW_GREEN_MASK) << LOW_GREEN_SHIFT | low >> FIELD_SHIFT) & 0xFF;
        const unsigned high_byte = (high & FIELD_MASK) >> HIGH_SHIFT | green >> HIGH_GREEN_SHIFT;
        return high_byte << CHANNEL_BITS | low_byte;
    }
};

// True when form(high, green, low) is pack_word's word of that pixel, in
// both green widths, over channel values that set and clear every bit.
template <template <unsigned> class Form>
constexpr bool matches_pack_word()
{
    for (const WordFormat& format : WORD_FORMATS) {
        for (unsigned high = 0; high < 256; high += 51) {
            for (unsigned green = 0; green < 256; green += 17) {
                for (unsigned low = 0; low < 256; low += 85) {
                    const unsigned red = format.blue_high ? low : high, blue = format.blue_high ? high : low;
                    const unsigned word =
                        format.green_bits == 6 ? Form<6>::word(high, green, low) : Form<5>::word(high, green, low);
                    if (word != pack_word(red, green, blue, format)) {
                        return false;
                    }
                }
            }
        }
    }
    return true;
}
static_assert(matches_pack_word<ByteFields>(), "the byte form must give pack_word's words");

// Runs Loop::row on each row, output row r from source row height - 1 - r
// (from source row r where the rows lie top first),
// with the format's green bits and byte order as constants: each vector loop
// compiles once for each of the four, and the format is looked at once a
// frame, not once a row.
template <typename Loop, std::size_t PIXEL_SIZE, unsigned GREEN_BITS, bool HIGH_FIRST>
void each_row(const std::uint8_t* source, std::uint8_t* packed, std::size_t width, std::size_t height,
              std::size_t readable, bool top_first, const WordFormat& format)
{
    for (std::size_t row = 0; row < height; ++row) {
        const std::size_t offset = (top_first ? row : height - 1 - row) * width * PIXEL_SIZE;
        Loop::template row<GREEN_BITS, HIGH_FIRST>(source + offset, packed + row * width * PACKED_PIXEL_SIZE, width,
                                                   readable - offset, format);
    }
}

template <typename Loop, std::size_t PIXEL_SIZE>
void rows_in_format(const std::uint8_t* source, std::uint8_t* packed, std::size_t width, std::size_t height,
                    std::size_t readable, bool top_first, const WordFormat& format)
{
    if (format.green_bits == 6) {
        format.big_endian
            ? each_row<Loop, PIXEL_SIZE, 6, true>(source, packed, width, height, readable, top_first, format)
            : each_row<Loop, PIXEL_SIZE, 6, false>(source, packed, width, height, readable, top_first, format);
    } else {
        format.big_endian
            ? each_row<Loop, PIXEL_SIZE, 5, true>(source, packed, width, height, readable, top_first, format)
            : each_row<Loop, PIXEL_SIZE, 5, false>(source, packed, width, height, readable, top_first, format);
    }
}
