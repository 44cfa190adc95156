// SPDX-License-Identifier: MIT
// JPEG files for the tests: the fixtures that cjpeg made, the words of what
// djpeg decodes from them, and headers built by hand for what no tool here
// writes.
#pragma once

#include <string>

#include "jpeg_fixtures.h"
#include "word_format.h"

// The words of a picture of pixels of size 3 (red, green, blue) or 1 (gray),
// width wide, in format; each row's pixels from row_pixels where every row
// is one pixel over and over (the wide fixtures).
inline Bytes words_of_pixels(const Bytes& pixels, std::size_t size, const WordFormat& format, std::size_t width = 0)
{
    const std::size_t count = width == 0 ? pixels.size() / size : pixels.size() / size * width;
    Bytes words(2 * count);
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t* p = pixels.data() + size * (width == 0 ? i : i / width);
        const unsigned word = size == 1 ? pack_gray_word(p[0], format) : pack_word(p[0], p[1], p[2], format);
        store_word(words.data() + 2 * i, word, format);
    }
    return words;
}

// What jpeg_read_header needs and no more: the start of image, an Adobe
// marker where adobe_transform is 0 or more, a frame header (marker sof) of
// components, and the start of the scan. No tables and no coded data: the
// frame is refused before they are read, or else found incomplete.
inline Bytes jpeg_header_only(std::uint8_t sof, unsigned precision, unsigned components, int width, int height,
                              int adobe_transform = -1)
{
    Bytes file = {0xFF, 0xD8};
    if (adobe_transform >= 0) {
        append(file, {0xFF, 0xEE, 0, 14, 'A', 'd', 'o', 'b', 'e', 0, 100, 0, 0, 0, 0,
                      static_cast<std::uint8_t>(adobe_transform)});
    }
    const auto length = static_cast<std::uint8_t>(8 + 3 * components);
    append(file, {0xFF, sof, 0, length, static_cast<std::uint8_t>(precision), static_cast<std::uint8_t>(height >> 8),
                  static_cast<std::uint8_t>(height), static_cast<std::uint8_t>(width >> 8),
                  static_cast<std::uint8_t>(width), static_cast<std::uint8_t>(components)});
    for (unsigned c = 1; c <= components; ++c) append(file, {static_cast<std::uint8_t>(c), 0x11, 0});
    append(file, {0xFF, 0xDA, 0, static_cast<std::uint8_t>(6 + 2 * components), static_cast<std::uint8_t>(components)});
    for (unsigned c = 1; c <= components; ++c) append(file, {static_cast<std::uint8_t>(c), 0});
    append(file, {0, 63, 0});
    return file;
}

constexpr std::uint8_t JPEG_BASELINE = 0xC0, JPEG_EXTENDED = 0xC1;
