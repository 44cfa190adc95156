// SPDX-License-Identifier: MIT
// Builders for small TGA frames, shared by the unit and end-to-end tests.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

struct Rgb {
    std::uint8_t r, g, b;
};

// A 3 x 2 picture, top row first, with every pixel different and red never
// equal to blue, so that a flip, a mirror or a channel swap changes the output.
// Its bottom row holds the bytes 0D 0A in the file and packs to a word with a
// 0A byte, so that newline translation on either side shows too.
inline const std::vector<Rgb> PICTURE = {{255, 0, 0},     {0, 255, 0}, {0, 0, 255},
                                         {255, 255, 255}, {8, 10, 13}, {7, 7, 80}};
// Its packed 5-5-5 words, low byte first, top row first.
inline const Bytes PICTURE_WORDS = {0x00, 0x7C, 0xE0, 0x03, 0x1F, 0x00, 0xFF, 0x7F, 0x21, 0x04, 0x0A, 0x00};

// A 3 x 2 gray picture, top row first, and its 5-6-5 words.
inline const Bytes GRAY_PICTURE = {255, 128, 4, 8, 0, 200};
inline const Bytes GRAY_WORDS = {0xFF, 0xFF, 0x10, 0x84, 0x20, 0x00, 0x41, 0x08, 0x00, 0x00, 0x59, 0xCE};

constexpr std::uint8_t COLOR_BITS = 24;  // the header's bits per pixel
constexpr std::uint8_t GRAY_BITS = 8;

constexpr int PICTURE_WIDTH = 3;
constexpr int PICTURE_HEIGHT = 2;

inline Bytes tga_header(std::uint8_t type, int width, int height, std::uint8_t depth)
{
    return {0,
            0,
            type,
            0,
            0,
            0,
            0,
            0,
            0,
            0,
            0,
            0,
            static_cast<std::uint8_t>(width),
            static_cast<std::uint8_t>(width >> 8),
            static_cast<std::uint8_t>(height),
            static_cast<std::uint8_t>(height >> 8),
            depth,
            0};
}

inline void append(Bytes& to, std::initializer_list<std::uint8_t> bytes)
{
    to.insert(to.end(), bytes);
}

// Uncompressed color frame (type 2 unless told otherwise), rows stored bottom first.
inline Bytes color_tga(const std::vector<Rgb>& top_first, int width, int height, std::uint8_t type = 2)
{
    Bytes file = tga_header(type, width, height, COLOR_BITS);
    for (int row = height - 1; row >= 0; --row) {
        for (int x = 0; x < width; ++x) {
            const Rgb& p = top_first[static_cast<std::size_t>(row * width + x)];
            file.push_back(p.b);
            file.push_back(p.g);
            file.push_back(p.r);
        }
    }
    return file;
}

inline Bytes gray_tga(const Bytes& top_first, int width, int height)
{
    Bytes file = tga_header(3, width, height, GRAY_BITS);
    for (int row = height - 1; row >= 0; --row) {
        file.insert(file.end(), top_first.begin() + row * width, top_first.begin() + (row + 1) * width);
    }
    return file;
}

// The 3 x 2 picture as RLE: one run packet crossing from the bottom row into
// the top row would need equal pixels, so use raw packets of 2 and 3 and a
// one-pixel run at the end, the 4-byte packet that encoders often end with.
inline Bytes rle_picture_tga()
{
    Bytes file = tga_header(10, PICTURE_WIDTH, PICTURE_HEIGHT, COLOR_BITS);
    append(file, {0x01, 255, 255, 255, 13, 10, 8});        // raw 2: bottom row, first two
    append(file, {0x02, 80, 7, 7, 0, 0, 255, 0, 255, 0});  // raw 3: crosses into the top row
    append(file, {0x80, 255, 0, 0});                       // run 1: last pixel
    return file;
}

// The reference words, low byte first: 0RRRRRGG GGGBBBBB for color and
// VVVVVvvv vvvVVVVV for gray (the top 5, 6 and 5 bits of V).
inline void append_word(Bytes& to, unsigned word)
{
    append(to, {static_cast<std::uint8_t>(word), static_cast<std::uint8_t>(word >> 8)});
}

inline Bytes color_words(const std::vector<Rgb>& top_first)
{
    Bytes words;
    for (const Rgb& p : top_first) append_word(words, (p.r >> 3) << 10 | (p.g >> 3) << 5 | p.b >> 3);
    return words;
}

inline Bytes gray_words(const Bytes& top_first)
{
    Bytes words;
    for (const std::uint8_t v : top_first) append_word(words, (v >> 3) << 11 | (v >> 2) << 5 | v >> 3);
    return words;
}

// An RLE frame of the picture: runs of equal pixels, raw packets between
// them, crossing rows; with one_pixel_packets, the worst case, a raw packet
// for every pixel.
inline Bytes rle_tga(const std::vector<Rgb>& top_first, int width, int height, bool one_pixel_packets = false)
{
    std::vector<Rgb> stored;
    for (int row = height - 1; row >= 0; --row) {
        stored.insert(stored.end(), top_first.begin() + std::ptrdiff_t {row} * width,
                      top_first.begin() + (std::ptrdiff_t {row} + 1) * width);
    }
    const auto same = [](const Rgb& a, const Rgb& b) { return a.r == b.r && a.g == b.g && a.b == b.b; };
    Bytes file = tga_header(10, width, height, COLOR_BITS);
    for (std::size_t at = 0; at < stored.size();) {
        std::size_t count = 1;
        const std::size_t most = std::min<std::size_t>(128, stored.size() - at);
        if (!one_pixel_packets && most > 1 && same(stored[at], stored[at + 1])) {
            while (count < most && same(stored[at + count], stored[at])) ++count;
            append(file, {static_cast<std::uint8_t>(0x80 | (count - 1)), stored[at].b, stored[at].g, stored[at].r});
        } else {
            while (!one_pixel_packets && count < most &&
                   !(at + count + 1 < stored.size() && same(stored[at + count], stored[at + count + 1]))) {
                ++count;
            }
            file.push_back(static_cast<std::uint8_t>(count - 1));
            for (std::size_t i = at; i < at + count; ++i) append(file, {stored[i].b, stored[i].g, stored[i].r});
        }
        at += count;
    }
    return file;
}

// A TGA file of any type: the header, an image ID, a color map of
// map_length entries of map_bits (its entries' bytes in map), then data,
// which holds the stored pixels, bottom row first, or their packets.
struct TgaParts {
    std::uint8_t type;
    std::uint8_t depth;
    Bytes data;
    std::uint8_t descriptor = 0;
    Bytes id = {};
    std::uint16_t map_first = 0, map_length = 0;
    std::uint8_t map_bits = 0;
    Bytes map = {};
    int width = PICTURE_WIDTH, height = PICTURE_HEIGHT;
};

inline Bytes tga_file(const TgaParts& parts)
{
    // Made whole, then filled: growing the header by insert makes GCC 12
    // warn of a copy out of bounds that is not there (-Warray-bounds).
    const Bytes header = tga_header(parts.type, parts.width, parts.height, parts.depth);
    Bytes file(header.size() + parts.id.size() + parts.map.size() + parts.data.size());
    auto at = std::copy(header.begin(), header.end(), file.begin());
    at = std::copy(parts.id.begin(), parts.id.end(), at);
    at = std::copy(parts.map.begin(), parts.map.end(), at);
    std::copy(parts.data.begin(), parts.data.end(), at);
    file[0] = static_cast<std::uint8_t>(parts.id.size());
    if (parts.map_bits != 0) {
        file[1] = 1;
        file[3] = static_cast<std::uint8_t>(parts.map_first);
        file[4] = static_cast<std::uint8_t>(parts.map_first >> 8);
        file[5] = static_cast<std::uint8_t>(parts.map_length);
        file[6] = static_cast<std::uint8_t>(parts.map_length >> 8);
        file[7] = parts.map_bits;
    }
    file[17] = parts.descriptor;
    return file;
}

// Pixels of size bytes, given top row first, stored bottom row first.
inline Bytes bottom_first(const Bytes& top_first, std::size_t size, int width = PICTURE_WIDTH,
                          int height = PICTURE_HEIGHT)
{
    Bytes stored;
    const std::size_t row = size * static_cast<std::size_t>(width);
    for (int y = height - 1; y >= 0; --y) {
        stored.insert(stored.end(), top_first.begin() + static_cast<std::ptrdiff_t>(row * y),
                      top_first.begin() + static_cast<std::ptrdiff_t>(row * (y + 1)));
    }
    return stored;
}

// Each pixel of the stored bytes in a raw packet of its own: RLE data of any
// pixel size.
inline Bytes one_pixel_packets(const Bytes& stored, std::size_t size)
{
    Bytes packets;
    for (std::size_t at = 0; at < stored.size(); at += size) {
        packets.push_back(0);
        packets.insert(packets.end(), stored.begin() + static_cast<std::ptrdiff_t>(at),
                       stored.begin() + static_cast<std::ptrdiff_t>(at + size));
    }
    return packets;
}
