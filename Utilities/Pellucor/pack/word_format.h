// SPDX-License-Identifier: MIT
// Word formats: how a pixel becomes a 16-bit word, and the word two bytes.
//
//   rgb565  RRRRRGGG GGGBBBBB        rgb555  0RRRRRGG GGGBBBBB
//   bgr565  BBBBBGGG GGGRRRRR        bgr555  0BBBBBGG GGGRRRRR
//
// Each field holds the top bits of its 8-bit channel: no rounding, no
// dithering. le stores the word low byte first, be high byte first. A gray
// value V is packed as the pixel whose three channels are all V, so each
// 5-bit field holds V >> 3 and a 6-bit green field V >> 2.
#pragma once

#include <cstdint>
#include <cstring>
#include <iterator>

struct WordFormat {
    const char* name;
    bool blue_high;       // bgr: blue in the high field, red in the low one
    unsigned green_bits;  // 5 or 6
    bool big_endian;
};

constexpr unsigned FIELD_BITS = 5;  // red and blue, and green in 5-5-5
constexpr unsigned CHANNEL_BITS = 8;

inline constexpr WordFormat WORD_FORMATS[] = {
    {"rgb555le", false, 5, false}, {"rgb555be", false, 5, true}, {"rgb565le", false, 6, false},
    {"rgb565be", false, 6, true},  {"bgr555le", true, 5, false}, {"bgr555be", true, 5, true},
    {"bgr565le", true, 6, false},  {"bgr565be", true, 6, true},
};
inline constexpr const WordFormat& DEFAULT_COLOR_FORMAT = WORD_FORMATS[0];  // rgb555le
inline constexpr const WordFormat& DEFAULT_GRAY_FORMAT = WORD_FORMATS[2];   // rgb565le

// The format of that name, or nullptr.
inline const WordFormat* find_word_format(const char* name)
{
    for (const WordFormat& format : WORD_FORMATS) {
        if (std::strcmp(format.name, name) == 0) {
            return &format;
        }
    }
    return nullptr;
}

// The format's place in WORD_FORMATS: the number PLV records give it.
inline unsigned word_format_number(const WordFormat& format)
{
    unsigned number = 0;
    while (number + 1 < std::size(WORD_FORMATS) && (WORD_FORMATS[number].blue_high != format.blue_high ||
                                                    WORD_FORMATS[number].green_bits != format.green_bits ||
                                                    WORD_FORMATS[number].big_endian != format.big_endian)) {
        ++number;
    }
    return number;
}

// The word of one pixel: the reference that every packer matches.
constexpr unsigned pack_word(unsigned red, unsigned green, unsigned blue, const WordFormat& format)
{
    const unsigned high = format.blue_high ? blue : red;
    const unsigned low = format.blue_high ? red : blue;
    return (high >> (CHANNEL_BITS - FIELD_BITS)) << (FIELD_BITS + format.green_bits) |
           (green >> (CHANNEL_BITS - format.green_bits)) << FIELD_BITS | low >> (CHANNEL_BITS - FIELD_BITS);
}

constexpr unsigned pack_gray_word(unsigned value, const WordFormat& format)
{
    return pack_word(value, value, value, format);
}

// The word of one pixel dithered at threshold t (0 to 63): a field of n bits
// takes min(v + (t >> (n - 2)), 255) >> (8 - n), the reference that the
// dithered packers match.
constexpr unsigned dithered_channel(unsigned value, unsigned bits, unsigned t)
{
    constexpr unsigned BYTE_MAX = 255;
    const unsigned sum = value + (t >> (bits - 2));
    return sum < BYTE_MAX ? sum : BYTE_MAX;
}

constexpr unsigned pack_dithered_word(unsigned red, unsigned green, unsigned blue, unsigned t, const WordFormat& format)
{
    return pack_word(dithered_channel(red, FIELD_BITS, t), dithered_channel(green, format.green_bits, t),
                     dithered_channel(blue, FIELD_BITS, t), format);
}

// Stores word at at[0] and at[1] in the format's byte order.
inline void store_word(std::uint8_t* at, unsigned word, const WordFormat& format)
{
    at[format.big_endian ? 1 : 0] = static_cast<std::uint8_t>(word);
    at[format.big_endian ? 0 : 1] = static_cast<std::uint8_t>(word >> CHANNEL_BITS);
}
