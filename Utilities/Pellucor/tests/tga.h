// Builders for small TGA frames, shared by the unit and end-to-end tests.
#pragma once

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
inline const std::vector<Rgb> PICTURE = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255},
                                         {255, 255, 255}, {8, 10, 13}, {7, 7, 80}};
// Its packed 5-5-5 words, low byte first, top row first.
inline const Bytes PICTURE_WORDS = {0x00, 0x7C, 0xE0, 0x03, 0x1F, 0x00, 0xFF, 0x7F, 0x21, 0x04, 0x0A, 0x00};

// A 3 x 2 gray picture, top row first, and its 5-6-5 words.
inline const Bytes GRAY_PICTURE = {255, 128, 4, 8, 0, 200};
inline const Bytes GRAY_WORDS = {0xFF, 0xFF, 0x10, 0x84, 0x20, 0x00, 0x41, 0x08, 0x00, 0x00, 0x59, 0xCE};

constexpr int PICTURE_WIDTH = 3;
constexpr int PICTURE_HEIGHT = 2;

inline Bytes tga_header(std::uint8_t type, int width, int height, std::uint8_t depth)
{
    return {0, 0, type, 0, 0, 0, 0, 0, 0, 0, 0, 0,
            static_cast<std::uint8_t>(width), static_cast<std::uint8_t>(width >> 8),
            static_cast<std::uint8_t>(height), static_cast<std::uint8_t>(height >> 8), depth, 0};
}

inline void append(Bytes& to, std::initializer_list<std::uint8_t> bytes)
{
    to.insert(to.end(), bytes);
}

// Uncompressed color frame (type 2 unless told otherwise), rows stored bottom first.
inline Bytes color_tga(const std::vector<Rgb>& top_first, int width, int height, std::uint8_t type = 2)
{
    Bytes file = tga_header(type, width, height, 24);
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
    Bytes file = tga_header(3, width, height, 8);
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
    Bytes file = tga_header(10, PICTURE_WIDTH, PICTURE_HEIGHT, 24);
    append(file, {0x01, 255, 255, 255, 13, 10, 8});              // raw 2: bottom row, first two
    append(file, {0x02, 80, 7, 7, 0, 0, 255, 0, 255, 0});        // raw 3: crosses into the top row
    append(file, {0x80, 255, 0, 0});                             // run 1: last pixel
    return file;
}
