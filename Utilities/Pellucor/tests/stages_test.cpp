// SPDX-License-Identifier: MIT
// Unit tests of the checks, the RLE decoder and the packers, run on the frame store.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "dither.h"
#include "frame_input.h"
#include "frame_kind.h"
#include "frame_store.h"
#include "pixel_pack.h"
#include "rle_decode.h"
#include "pixel_pack_kernels.h"
#include "vector_path.h"
#include "png.h"
#include "png_inflate.h"
#include "png_input.h"
#include "jpeg.h"
#include "jpeg_input.h"
#include "tga.h"

// Test names and messages show a path by its name.
void PrintTo(const Kernels& kernels, std::ostream* out)
{
    *out << kernels.name;
}

namespace {

// Buffers for the largest frame, reserved once for every test.
class FrameStore : public ::testing::Environment {
public:
    void SetUp() override { ASSERT_TRUE(reserve_frame_store(4096, 4096)); }
};
const auto* const frame_store = ::testing::AddGlobalTestEnvironment(new FrameStore);

// An uncompressed frame as read, in the packers' layout already.
SourceFrame read_frame(FrameKind kind)
{
    return {input_buffer + TGA_HEADER_SIZE,
            input_buffer_size - TGA_HEADER_SIZE,
            kind,
            kind == FrameKind::gray ? GRAY_PIXEL_SIZE : COLOR_PIXEL_SIZE,
            false,
            false,
            false};
}

void pack_color_frame()
{
    pack_frame(read_frame(FrameKind::color));
}

void pack_gray_frame()
{
    pack_frame(read_frame(FrameKind::gray));
}

void load(const Bytes& file, int width, int height)
{
    std::memcpy(input_buffer, file.data(), file.size());
    video_width = width;
    video_height = height;
}

Bytes packed(std::size_t pixels)
{
    return Bytes(output_buffer, output_buffer + PACKED_PIXEL_SIZE * pixels);
}

Bytes tga_pixels(std::size_t pixels)
{
    return Bytes(input_buffer + TGA_HEADER_SIZE, input_buffer + TGA_HEADER_SIZE + COLOR_PIXEL_SIZE * pixels);
}

TEST(Packers, PictureComesOutTopRowFirstWithChannelsInPlace)
{
    load(color_tga(PICTURE, PICTURE_WIDTH, PICTURE_HEIGHT), PICTURE_WIDTH, PICTURE_HEIGHT);
    pack_color_frame();
    EXPECT_EQ(packed(6), PICTURE_WORDS);

    load(gray_tga(GRAY_PICTURE, PICTURE_WIDTH, PICTURE_HEIGHT), PICTURE_WIDTH, PICTURE_HEIGHT);
    pack_gray_frame();
    EXPECT_EQ(packed(6), GRAY_WORDS);
}

TEST(Packers, ZeroSizeWritesNothing)
{
    output_buffer[0] = 0xAB;
    video_width = 0;
    video_height = 5;
    pack_color_frame();
    pack_gray_frame();
    EXPECT_EQ(output_buffer[0], 0xAB);
}

// The picture in every kind of frame a TGA header can describe: the words
// are written out by hand. Frames of 5-bit channels pack back to their own
// bits, with bit 15 clear.
Bytes picture_bytes(std::size_t alpha_every)  // top row first, blue green red [alpha]
{
    Bytes bytes;
    for (std::size_t i = 0; i < PICTURE.size(); ++i) {
        append(bytes, {PICTURE[i].b, PICTURE[i].g, PICTURE[i].r});
        if (alpha_every) bytes.push_back(static_cast<std::uint8_t>(i * 51));
    }
    return bytes;
}

// 16-bit pixels xRRRRRGG GGGBBBBB, top row first, two with the top bit set.
const Bytes PICTURE_16 = {0x00, 0xFC, 0xE0, 0x03, 0x1F, 0x80, 0xFF, 0x7F, 0x21, 0x04, 0x01, 0x00};
const Bytes WORDS_16 = {0x00, 0x7C, 0xE0, 0x03, 0x1F, 0x00, 0xFF, 0x7F, 0x21, 0x04, 0x01, 0x00};
// The same in rgb565le: a 5-bit green g widened to (g << 3) | (g >> 2) keeps
// its top bit as the 6-bit field's lowest.
const Bytes WORDS_16_RGB565 = {0x00, 0xF8, 0xE0, 0x07, 0x1F, 0x00, 0xFF, 0xFF, 0x41, 0x08, 0x01, 0x00};
// The picture's rows the other way up, and each row right to left.
const Bytes WORDS_FLIPPED = {0xFF, 0x7F, 0x21, 0x04, 0x0A, 0x00, 0x00, 0x7C, 0xE0, 0x03, 0x1F, 0x00};
const Bytes WORDS_MIRRORED = {0x1F, 0x00, 0xE0, 0x03, 0x00, 0x7C, 0x0A, 0x00, 0x21, 0x04, 0xFF, 0x7F};

Bytes gray_with_alpha()
{
    Bytes bytes;
    for (const std::uint8_t v : GRAY_PICTURE) append(bytes, {v, static_cast<std::uint8_t>(255 - v)});
    return bytes;
}

Bytes indices(std::size_t first, bool wide)
{
    Bytes bytes;
    for (std::size_t i = 0; i < PICTURE.size(); ++i) {
        bytes.push_back(static_cast<std::uint8_t>(first + i));
        if (wide) bytes.push_back(static_cast<std::uint8_t>((first + i) >> 8));
    }
    return bytes;
}

// Each row's pixels of size bytes right to left.
Bytes mirrored(const Bytes& top_first, std::size_t size)
{
    Bytes bytes = top_first;
    const std::size_t row = size * PICTURE_WIDTH;
    for (std::size_t y = 0; y < PICTURE_HEIGHT; ++y) {
        for (std::size_t x = 0; x < PICTURE_WIDTH; ++x) {
            std::copy_n(top_first.begin() + static_cast<std::ptrdiff_t>(y * row + size * x), size,
                        bytes.begin() + static_cast<std::ptrdiff_t>(y * row + size * (PICTURE_WIDTH - 1 - x)));
        }
    }
    return bytes;
}

struct InputCase {
    const char* name;
    Bytes file;
    bool honor_origin;
    bool gray;
    Bytes words;
    const char* format = "rgb555le";
};

TEST(FrameInput, EveryTypeAndDepthBecomesThePicture)
{
    const Bytes bgr = picture_bytes(0), bgra = picture_bytes(1);
    const Bytes map24 = bgr, map32 = bgra;   // the picture's pixels, one entry each
    Bytes spaced_map = Bytes(3 * 10, 0x99);  // entries 10 to 15 of a map that starts at 0
    spaced_map.insert(spaced_map.end(), bgr.begin(), bgr.end());
    const Bytes gray16 = gray_with_alpha();
    const InputCase cases[] = {
        {"type 2, 24 bits", tga_file({2, 24, bottom_first(bgr, 3)}), false, false, PICTURE_WORDS},
        {"type 2, 32 bits", tga_file({2, 32, bottom_first(bgra, 4)}), false, false, PICTURE_WORDS},
        {"type 2, 16 bits, top bit set", tga_file({2, 16, bottom_first(PICTURE_16, 2)}), false, false, WORDS_16},
        {"type 2, 15 bits", tga_file({2, 15, bottom_first(PICTURE_16, 2)}), false, false, WORDS_16},
        {"type 2, 16 bits, in rgb565le", tga_file({2, 16, bottom_first(PICTURE_16, 2)}), false, false, WORDS_16_RGB565,
         "rgb565le"},
        {"type 1, 16-bit map, in rgb565le",
         tga_file({1, 8, bottom_first(indices(0, false), 1), 0, {}, 0, 6, 16, PICTURE_16}), false, false,
         WORDS_16_RGB565, "rgb565le"},
        {"type 200, 24 bits", tga_file({200, 24, bottom_first(bgr, 3)}), false, false, PICTURE_WORDS},
        {"type 10, 24 bits", tga_file({10, 24, one_pixel_packets(bottom_first(bgr, 3), 3)}), false, false,
         PICTURE_WORDS},
        {"type 10, 32 bits", tga_file({10, 32, one_pixel_packets(bottom_first(bgra, 4), 4)}), false, false,
         PICTURE_WORDS},
        {"type 10, 16 bits", tga_file({10, 16, one_pixel_packets(bottom_first(PICTURE_16, 2), 2)}), false, false,
         WORDS_16},
        {"type 3, 8 bits", tga_file({3, 8, bottom_first(GRAY_PICTURE, 1)}), false, true, GRAY_WORDS},
        {"type 3, 16 bits", tga_file({3, 16, bottom_first(gray16, 2)}), false, true, GRAY_WORDS},
        {"type 11, 8 bits", tga_file({11, 8, one_pixel_packets(bottom_first(GRAY_PICTURE, 1), 1)}), false, true,
         GRAY_WORDS},
        {"type 11, 16 bits", tga_file({11, 16, one_pixel_packets(bottom_first(gray16, 2), 2)}), false, true,
         GRAY_WORDS},
        {"type 1, 8-bit indices, 24-bit map",
         tga_file({1, 8, bottom_first(indices(0, false), 1), 0, {}, 0, 6, 24, map24}), false, false, PICTURE_WORDS},
        {"type 1, 8-bit indices, 32-bit map",
         tga_file({1, 8, bottom_first(indices(0, false), 1), 0, {}, 0, 6, 32, map32}), false, false, PICTURE_WORDS},
        {"type 1, 16-bit indices, 16-bit map from 300",
         tga_file({1, 16, bottom_first(indices(300, true), 2), 0, {}, 300, 6, 16, PICTURE_16}), false, false, WORDS_16},
        {"type 1, 15-bit map, first index 10, map from 0",
         tga_file({1,
                   8,
                   bottom_first(indices(10, false), 1),
                   0,
                   {},
                   0,
                   16,
                   15,
                   [] {
                       Bytes map(2 * 10, 0x77);
                       map.insert(map.end(), PICTURE_16.begin(), PICTURE_16.end());
                       return map;
                   }()}),
         false, false, WORDS_16},
        {"type 1, map from 10", tga_file({1, 8, bottom_first(indices(10, false), 1), 0, {}, 10, 6, 24, map24}), false,
         false, PICTURE_WORDS},
        {"type 1, map from 0 read at 10",
         tga_file({1, 8, bottom_first(indices(10, false), 1), 0, {}, 0, 16, 24, spaced_map}), false, false,
         PICTURE_WORDS},
        {"type 9, 8-bit indices",
         tga_file({9, 8, one_pixel_packets(bottom_first(indices(0, false), 1), 1), 0, {}, 0, 6, 24, map24}), false,
         false, PICTURE_WORDS},
        {"image ID", tga_file({2, 24, bottom_first(bgr, 3), 0, {'n', 'a', 'm', 'e'}}), false, false, PICTURE_WORDS},
        {"image ID, RLE", tga_file({10, 24, one_pixel_packets(bottom_first(bgr, 3), 3), 0, Bytes(255, 0x80)}), false,
         false, PICTURE_WORDS},
        {"map skipped for type 2", tga_file({2, 24, bottom_first(bgr, 3), 0, {'i', 'd'}, 5, 2, 32, Bytes(8, 0x55)}),
         false, false, PICTURE_WORDS},
        {"top row first, header not honored", tga_file({2, 24, bgr, 0x20}), false, false, WORDS_FLIPPED},
        {"top row first, honored", tga_file({2, 24, bgr, 0x20}), true, false, PICTURE_WORDS},
        {"top row first, RLE, honored", tga_file({10, 24, one_pixel_packets(bgr, 3), 0x20}), true, false,
         PICTURE_WORDS},
        {"right to left, not honored", tga_file({2, 24, bottom_first(mirrored(bgr, 3), 3), 0x10}), false, false,
         WORDS_MIRRORED},
        {"right to left, honored", tga_file({2, 24, bottom_first(mirrored(bgr, 3), 3), 0x10}), true, false,
         PICTURE_WORDS},
        {"top right, gray, honored", tga_file({3, 8, mirrored(GRAY_PICTURE, 1), 0x30}), true, true, GRAY_WORDS},
        {"top right, 32 bits, honored", tga_file({2, 32, mirrored(bgra, 4), 0x30}), true, false, PICTURE_WORDS},
    };
    for (const InputCase& c : cases) {
        SCOPED_TRACE(c.name);
        load(c.file, PICTURE_WIDTH, PICTURE_HEIGHT);
        TgaHeader header {};
        ASSERT_TRUE(read_tga_header(c.file.size(), header));
        SourceFrame frame {};
        const FrameCheck check = decode_frame(header, c.file.size(), c.honor_origin, frame);
        ASSERT_EQ(check.problem, InputProblem::none);
        EXPECT_EQ(frame.kind == FrameKind::gray, c.gray);
        color_word_format = *find_word_format(c.format);
        pack_frame(frame);
        color_word_format = DEFAULT_COLOR_FORMAT;
        EXPECT_EQ(packed(6), c.words);
    }
}

// What cannot be converted, and the value that says why.
TEST(FrameInput, RefusesWhatItCannotConvert)
{
    struct Case {
        const char* name;
        Bytes file;
        InputProblem problem;
        unsigned value;
    };
    const Bytes gray = bottom_first(GRAY_PICTURE, 1), bgr = bottom_first(picture_bytes(0), 3);
    const Bytes map24 = picture_bytes(0);
    Bytes id_past_end = tga_file({2, 24, {}});
    id_past_end[0] = 20;
    const Case cases[] = {
        {"8-bit color", tga_file({2, 8, gray}), InputProblem::color_depth, 8},
        {"24-bit gray", tga_file({3, 24, bgr}), InputProblem::gray_depth, 24},
        {"24-bit indices", tga_file({1, 24, bgr, 0, {}, 0, 6, 24, map24}), InputProblem::index_depth, 24},
        {"color-mapped without a map", tga_file({1, 8, gray}), InputProblem::no_color_map, 0},
        {"8-bit map entries", tga_file({2, 24, bgr, 0, {}, 0, 2, 8, {1, 2}}), InputProblem::map_entry_size, 8},
        {"index past the map", tga_file({1, 8, {0, 1, 2, 3, 4, 6}, 0, {}, 0, 6, 24, map24}),
         InputProblem::index_outside_map, 6},
        {"index before the map", tga_file({1, 8, {10, 11, 12, 9, 13, 14}, 0, {}, 10, 6, 24, map24}),
         InputProblem::index_outside_map, 9},
        {"RLE index past the map", tga_file({9, 8, {0x85, 6}, 0, {}, 0, 6, 24, map24}), InputProblem::index_outside_map,
         6},
        {"ID past the end", id_past_end, InputProblem::incomplete, 0},
        {"map past the end", tga_file({1, 8, {}, 0, {}, 0, 600, 24, map24}), InputProblem::incomplete, 0},
        {"16-bit pixels cut short", tga_file({2, 16, Bytes(11, 0)}), InputProblem::incomplete, 0},
        {"RLE gray cut short", tga_file({11, 8, {0x84, 1}}), InputProblem::incomplete, 0},
        {"type 32", tga_file({32, 24, bgr}), InputProblem::tga_type, 32},
        {"type 33, 8-bit indices", tga_file({33, 8, gray, 0, {}, 0, 6, 24, map24}), InputProblem::tga_type, 33},
        {"rows interleaved two ways", tga_file({2, 24, bgr, 0x40}), InputProblem::interleaved_rows, 0},
        {"rows interleaved four ways, top first", tga_file({3, 8, gray, 0xA0}), InputProblem::interleaved_rows, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        load(c.file, PICTURE_WIDTH, PICTURE_HEIGHT);
        output_buffer[0] = 0xAB;
        TgaHeader header {};
        ASSERT_TRUE(read_tga_header(c.file.size(), header));
        SourceFrame frame {};
        const FrameCheck check = decode_frame(header, c.file.size(), false, frame);
        EXPECT_EQ(check.problem, c.problem);
        EXPECT_EQ(check.value, c.value);
    }
    // The header's size against the run's, each way, and swapped.
    for (const auto& [width, height] : {std::pair {4, 2}, {3, 1}, {2, 3}, {2, 2}}) {
        const Bytes file = tga_file({2, 24, Bytes(3 * 8, 0), 0, {}, 0, 0, 0, {}, width, height});
        load(file, PICTURE_WIDTH, PICTURE_HEIGHT);
        TgaHeader header {};
        ASSERT_TRUE(read_tga_header(file.size(), header));
        SourceFrame frame {};
        const FrameCheck check = decode_frame(header, file.size(), false, frame);
        EXPECT_EQ(check.problem, InputProblem::wrong_size);
        EXPECT_EQ(check.width, static_cast<unsigned>(width));
        EXPECT_EQ(check.height, static_cast<unsigned>(height));
    }
}

// A file's kind from its first bytes: each signature, whole and cut short,
// and what comes near one without being it. Every TGA is read as one.
TEST(FrameInput, KindOfFileFromItsFirstBytes)
{
    const auto bytes = [](const auto& text) { return Bytes(std::begin(text), std::end(text) - 1); };
    Bytes bmp = bytes("BM\x46\0\0\0\0\0\0\0\x36\0\0\0\x28\0\0\0");
    Bytes bmp_other_header = bmp;
    bmp_other_header[14] = 41;
    struct Case {
        const char* name;
        Bytes file;
        FileKind kind;
    };
    const Case cases[] = {
        {"TGA", color_tga(PICTURE, PICTURE_WIDTH, PICTURE_HEIGHT), FileKind::tga},
        {"TGA with a map", tga_file({1, 8, Bytes(6, 0), 0, {}, 0, 1, 24, {1, 2, 3}}), FileKind::tga},
        {"empty", {}, FileKind::tga},
        {"PNG", bytes("\x89PNG\r\n\x1A\n\0\0\0\x0DIHDR"), FileKind::png},
        {"PNG signature cut short", bytes("\x89PNG\r\n\x1A"), FileKind::tga},
        {"JPEG", bytes("\xFF\xD8\xFF\xDB"), FileKind::jpeg},
        {"JPEG cut short", bytes("\xFF\xD8"), FileKind::tga},
        {"BMP", bmp, FileKind::bmp},
        {"BM and no known header size", bmp_other_header, FileKind::tga},
        {"GIF87a", bytes("GIF87a\x03\0"), FileKind::gif},
        {"GIF89a", bytes("GIF89a\x03\0"), FileKind::gif},
        {"WebP", bytes("RIFF\x20\0\0\0WEBPVP8 "), FileKind::webp},
        {"RIFF of WAVE", bytes("RIFF\x20\0\0\0WAVEfmt "), FileKind::tga},
        {"TIFF, Intel", bytes("II*\0\x08\0\0\0"), FileKind::tiff},
        {"TIFF, Motorola", bytes("MM\0*\0\0\0\x08"), FileKind::tiff},
        {"QOI", bytes("qoif\0\0\0\x03"), FileKind::qoi},
        {"text", bytes("P3\n3 2\n255\n"), FileKind::text},
        {"text with CR LF and a tab", bytes("a\tb\r\n"), FileKind::text},
        {"UTF-8 text", bytes("\xC3\xA9t\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x8E\x9E\n"), FileKind::text},
        {"text, one byte", bytes("a"), FileKind::tga},
        {"text with a NUL", bytes("abc\0def"), FileKind::tga},
        {"a stray UTF-8 continuation",
         bytes("ab\x89"
               "cd"),
         FileKind::tga},
        {"a UTF-8 lead without its continuation",
         bytes("ab\xC3"
               "cd"),
         FileKind::tga},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(kind_of_file(c.file.data(), c.file.size()), c.kind);
        const bool read = c.kind == FileKind::tga || c.kind == FileKind::png;
        EXPECT_EQ(name_of_kind(c.kind) == nullptr, read);
    }
}

// Dithering, with the words written out by hand: a flat color just below a
// step of each field (red 7, green 250, blue 15) over 8 x 2 pixels, and the
// gray ramp 0 to 255 across 8 columns, two rows.
TEST(Dither, WordsWrittenOut)
{
    const std::vector<Rgb> flat(16, Rgb {7, 250, 15});
    const Bytes ramp = {0, 36, 73, 109, 146, 182, 219, 255};
    Bytes ramp_rows = ramp;
    ramp_rows.insert(ramp_rows.end(), ramp.begin(), ramp.end());
    struct Case {
        const char* name;
        Bytes file;
        const char* format;
        Bytes words;
    };
    const Case cases[] = {
        {"flat color, rgb555le", color_tga(flat, 8, 2), "rgb555le", {0xE1, 0x03, 0xE2, 0x07, 0xE2, 0x07, 0xE2, 0x07,
                                                                     0xE1, 0x03, 0xE2, 0x07, 0xE2, 0x07, 0xE2, 0x07,
                                                                     0xE2, 0x07, 0xE2, 0x07, 0xE2, 0x07, 0xE2, 0x07,
                                                                     0xE2, 0x07, 0xE2, 0x07, 0xE2, 0x07, 0xE2, 0x07}},
        {"flat color, rgb565le", color_tga(flat, 8, 2), "rgb565le", {0xC1, 0x07, 0xE2, 0x0F, 0xC2, 0x0F, 0xE2, 0x0F,
                                                                     0xC1, 0x07, 0xE2, 0x0F, 0xC2, 0x0F, 0xE2, 0x0F,
                                                                     0xE2, 0x0F, 0xC2, 0x0F, 0xE2, 0x0F, 0xC2, 0x0F,
                                                                     0xE2, 0x0F, 0xC2, 0x0F, 0xE2, 0x0F, 0xC2, 0x0F}},
        {"gray ramp, rgb565le",
         gray_tga(ramp_rows, 8, 2),
         "rgb565le",
         {0x00, 0x00, 0x25, 0x29, 0x49, 0x4A, 0x6E, 0x73, 0x92, 0x94, 0xD7, 0xBD, 0xDB, 0xDE, 0xFF, 0xFF,
          0x00, 0x00, 0x24, 0x21, 0x6A, 0x52, 0x6E, 0x73, 0xB3, 0x9C, 0xB7, 0xBD, 0xFC, 0xE6, 0xFF, 0xFF}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        color_word_format = gray_word_format = *find_word_format(c.format);
        load(c.file, 8, 2);
        TgaHeader header {};
        ASSERT_TRUE(read_tga_header(c.file.size(), header));
        SourceFrame frame {};
        ASSERT_EQ(decode_frame(header, c.file.size(), false, frame).problem, InputProblem::none);
        pack_frame(frame, true);
        EXPECT_EQ(packed(16), c.words);
    }
    color_word_format = DEFAULT_COLOR_FORMAT;
    gray_word_format = DEFAULT_GRAY_FORMAT;
}

// A channel of 255 never wraps; the pattern repeats every 8 pixels across
// and down; the same picture gives the same words every time.
TEST(Dither, Properties)
{
    constexpr int SIDE = 24;
    const std::vector<Rgb> picture(SIDE * SIDE, Rgb {255, 131, 3});
    for (const WordFormat& format : WORD_FORMATS) {
        SCOPED_TRACE(format.name);
        color_word_format = format;
        Bytes first;
        for (int time = 0; time < 2; ++time) {
            load(color_tga(picture, SIDE, SIDE), SIDE, SIDE);
            SourceFrame frame = read_frame(FrameKind::color);
            pack_frame(frame, true);
            const Bytes words = packed(SIDE * SIDE);
            if (time == 1) {
                EXPECT_EQ(words, first);
            }
            first = words;
        }
        const auto word = [&](int x, int y) {
            const std::uint8_t* at = &first[PACKED_PIXEL_SIZE * static_cast<std::size_t>(y * SIDE + x)];
            return format.big_endian ? at[0] << 8 | at[1] : at[1] << 8 | at[0];
        };
        const unsigned red_field = (1u << FIELD_BITS) - 1;
        const unsigned red_shift = format.blue_high ? 0 : FIELD_BITS + format.green_bits;
        for (int y = 0; y < SIDE; ++y) {
            for (int x = 0; x < SIDE; ++x) {
                EXPECT_EQ(static_cast<unsigned>(word(x, y)) >> red_shift & red_field, red_field);
                EXPECT_EQ(word(x, y), word((x + 8) % SIDE, y));
                EXPECT_EQ(word(x, y), word(x, (y + 8) % SIDE));
            }
        }
    }
    color_word_format = DEFAULT_COLOR_FORMAT;
}

#ifdef PELLUCOR_PNG
// The picture as a PNG of every color type at every bit depth, interlaced
// and not: the words are written out by hand. 16-bit samples keep their
// high byte; 1-, 2- and 4-bit gray is scaled to 8 bits; tRNS is ignored.
TEST(PngInput, EveryColorTypeAndDepthBecomesThePicture)
{
    const std::vector<Rgb> four(PICTURE.begin(), PICTURE.begin() + 4), two(PICTURE.begin(), PICTURE.begin() + 2);
    // The words of palette pictures of 4 and 2 colors, by index.
    const auto words_of = [](const std::vector<unsigned>& indices) {
        Bytes words;
        for (const unsigned i : indices)
            words.insert(words.end(), PICTURE_WORDS.begin() + 2 * i, PICTURE_WORDS.begin() + 2 * i + 2);
        return words;
    };
    struct Case {
        const char* name;
        PngParts png;
        Bytes words;
    };
    const Case cases[] = {
        {"RGB 8", {SPNG_COLOR_TYPE_TRUECOLOR, 8, picture_samples(8, false, false)}, PICTURE_WORDS},
        {"RGB 16", {SPNG_COLOR_TYPE_TRUECOLOR, 16, picture_samples(16, false, false)}, PICTURE_WORDS},
        {"RGBA 8", {SPNG_COLOR_TYPE_TRUECOLOR_ALPHA, 8, picture_samples(8, true, false)}, PICTURE_WORDS},
        {"RGBA 16", {SPNG_COLOR_TYPE_TRUECOLOR_ALPHA, 16, picture_samples(16, true, false)}, PICTURE_WORDS},
        {"gray 8", {SPNG_COLOR_TYPE_GRAYSCALE, 8, picture_samples(8, false, true)}, GRAY_WORDS},
        {"gray 16", {SPNG_COLOR_TYPE_GRAYSCALE, 16, picture_samples(16, false, true)}, GRAY_WORDS},
        {"gray and alpha 8", {SPNG_COLOR_TYPE_GRAYSCALE_ALPHA, 8, picture_samples(8, true, true)}, GRAY_WORDS},
        {"gray and alpha 16", {SPNG_COLOR_TYPE_GRAYSCALE_ALPHA, 16, picture_samples(16, true, true)}, GRAY_WORDS},
        {"gray 4",
         {SPNG_COLOR_TYPE_GRAYSCALE, 4, {15, 8, 1, 2, 0, 12}},  // 255 136 17 34 0 204
         {0xFF, 0xFF, 0x51, 0x8C, 0x82, 0x10, 0x04, 0x21, 0x00, 0x00, 0x79, 0xCE}},
        {"gray 2",
         {SPNG_COLOR_TYPE_GRAYSCALE, 2, {3, 2, 1, 0, 1, 3}},  // 255 170 85 0 85 255
         {0xFF, 0xFF, 0x55, 0xAD, 0xAA, 0x52, 0x00, 0x00, 0xAA, 0x52, 0xFF, 0xFF}},
        {"gray 1",
         {SPNG_COLOR_TYPE_GRAYSCALE, 1, {1, 0, 1, 1, 0, 0}},
         {0xFF, 0xFF, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00}},
        {"palette 8, tRNS",
         {SPNG_COLOR_TYPE_INDEXED, 8, {0, 1, 2, 3, 4, 5}, false, PICTURE, {0, 50, 255}},
         PICTURE_WORDS},
        {"palette 4", {SPNG_COLOR_TYPE_INDEXED, 4, {0, 1, 2, 3, 4, 5}, false, PICTURE}, PICTURE_WORDS},
        {"palette 2", {SPNG_COLOR_TYPE_INDEXED, 2, {0, 1, 2, 3, 1, 0}, false, four}, words_of({0, 1, 2, 3, 1, 0})},
        {"palette 1", {SPNG_COLOR_TYPE_INDEXED, 1, {0, 1, 1, 0, 0, 1}, false, two}, words_of({0, 1, 1, 0, 0, 1})},
    };
    // The work area holds whatever the last frame left there: clear bits or
    // set bits.
    struct Pass {
        bool interlaced;
        std::uint8_t left_over;
    };
    constexpr Pass PASSES[] = {{false, 0xFF}, {true, 0x00}, {true, 0xFF}};
    for (const Case& c : cases) {
        for (const auto& [interlaced, left_over] : PASSES) {
            for (const PngDecoder decoder : {PngDecoder::fast, PngDecoder::libspng}) {
                if (!use_png_decoder(decoder)) continue;
                SCOPED_TRACE(std::string(c.name) + (interlaced ? ", interlaced" : "") + ", after " +
                             std::to_string(left_over) + (decoder == PngDecoder::fast ? "" : ", libspng"));
                PngParts parts = c.png;
                parts.interlaced = interlaced;
                const Bytes file = png_file(parts);
                ASSERT_FALSE(file.empty());
                load(file, PICTURE_WIDTH, PICTURE_HEIGHT);
                std::memset(scratch_buffer, left_over, scratch_buffer_size);
                ASSERT_TRUE(is_png(file.size()));
                SourceFrame frame {};
                const FrameCheck check = decode_png_frame(file.size(), file.size(), nullptr, frame, false);
                ASSERT_EQ(check.problem, InputProblem::none) << (check.reason ? check.reason : "");
                EXPECT_EQ(frame.kind == FrameKind::gray,
                          c.words == GRAY_WORDS || c.png.color_type == SPNG_COLOR_TYPE_GRAYSCALE);
                pack_frame(frame);
                EXPECT_EQ(packed(6), c.words);
                // The same rows in stored blocks of 7 bytes, across the rows;
                // with a byte past the last row in the stream, and with bytes
                // after the stream, both of which libspng lets be: the picture.
                if (c.png.bit_depth == 8 && !interlaced) {
                    const Bytes rows = unfiltered_rows(c.png.samples, c.png.samples.size() / PICTURE_HEIGHT);
                    Bytes longer = rows, trailed = stored_zlib(rows);
                    longer.push_back(0);
                    trailed.insert(trailed.end(), {1, 2});
                    for (const Bytes& stream : {stored_zlib(rows, 7), stored_zlib(longer), trailed}) {
                        const Bytes stored = with_image_data(file, stream);
                        load(stored, PICTURE_WIDTH, PICTURE_HEIGHT);
                        const FrameCheck stored_check =
                            decode_png_frame(stored.size(), stored.size(), nullptr, frame, false);
                        ASSERT_EQ(stored_check.problem, InputProblem::none)
                            << (stored_check.reason ? stored_check.reason : "");
                        pack_frame(frame);
                        EXPECT_EQ(packed(6), c.words);
                    }
                }
                // The same kind of PNG with its zlib checksum damaged, and
                // taller and shorter than the run's frames: each refused.
                const Bytes damaged = with_idat_byte_flipped(file, 1, 0x01);
                load(damaged, PICTURE_WIDTH, PICTURE_HEIGHT);
                EXPECT_EQ(decode_png_frame(damaged.size(), damaged.size(), nullptr, frame, false).problem,
                          InputProblem::invalid_png);
                const std::size_t row_samples = c.png.samples.size() / PICTURE_HEIGHT;
                for (const int height : {PICTURE_HEIGHT + 1, PICTURE_HEIGHT - 1}) {
                    SCOPED_TRACE(height);
                    parts.height = height;
                    parts.samples.resize(row_samples * static_cast<std::size_t>(height), 1);
                    const Bytes other = png_file(parts);
                    load(other, PICTURE_WIDTH, PICTURE_HEIGHT);
                    const FrameCheck size_check = decode_png_frame(other.size(), other.size(), nullptr, frame, false);
                    EXPECT_EQ(size_check.problem, InputProblem::wrong_size);
                    EXPECT_EQ(size_check.height, static_cast<unsigned>(height));
                }
            }
        }
    }
    use_png_decoder(PngDecoder::fast);
}

// The one difference between the decoders: zlib refuses a stream with an
// incomplete Huffman code, which ISA-L inflates. The picture where the
// fast path takes the frame; libspng's words for zlib's refusal otherwise.
TEST(PngInput, IncompleteCodesAreTheDecodersOneDifference)
{
    const Bytes png = png_file({SPNG_COLOR_TYPE_GRAYSCALE, 8, {0}, false, {}, {}, 1, 1});
    for (int which = 0; which < 3; ++which) {
        const Bytes file = with_image_data(png, incomplete_code_stream(which));
        for (const PngDecoder decoder : {PngDecoder::fast, PngDecoder::libspng}) {
            if (!use_png_decoder(decoder)) continue;
            SCOPED_TRACE("code " + std::to_string(which) + (decoder == PngDecoder::fast ? "" : ", libspng"));
            load(file, 1, 1);
            SourceFrame frame {};
            const FrameCheck check = decode_png_frame(file.size(), file.size(), nullptr, frame, false);
            if (decoder == PngDecoder::fast) {
                ASSERT_EQ(check.problem, InputProblem::none);
                EXPECT_EQ(packed(1), Bytes({0, 0}));
            } else {
                ASSERT_EQ(check.problem, InputProblem::invalid_png);
                EXPECT_STREQ(check.reason, "IDAT stream error");
            }
        }
    }
    use_png_decoder(PngDecoder::fast);
}

// Frames whose rows are decoded and packed a band at a time give the words
// of the same frame decoded whole (interlaced, which is never banded), in
// every band, plain and dithered: rows wide enough for several bands, the
// last one short; every 8-bit color type, at zlib's fastest, default and
// best levels and stored, whose rows the encoder filters each its own way;
// decoded by the fast path and by libspng.
TEST(PngFrame, BandsPackAsTheWholeFrame)
{
    constexpr int WIDTH = 20000, HEIGHT = 23;
    struct Type {
        std::uint8_t type;
        std::size_t channels;
    };
    constexpr Type TYPES[] = {{SPNG_COLOR_TYPE_TRUECOLOR, 3},
                              {SPNG_COLOR_TYPE_GRAYSCALE, 1},
                              {SPNG_COLOR_TYPE_TRUECOLOR_ALPHA, 4},
                              {SPNG_COLOR_TYPE_GRAYSCALE_ALPHA, 2},
                              {SPNG_COLOR_TYPE_INDEXED, 1}};
    std::vector<Rgb> palette(256);
    for (std::size_t i = 0; i < palette.size(); ++i) {
        palette[i] = {static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i * 7), static_cast<std::uint8_t>(~i)};
    }
    for (const auto& [type, channels] : TYPES) {
        for (const int level : {-1, 1, 9, 0}) {
            std::vector<unsigned> samples(channels * WIDTH * HEIGHT);
            // Smooth runs, so that each filter wins some rows, with noise.
            for (std::size_t i = 0; i < samples.size(); ++i) {
                samples[i] = (i / channels % WIDTH / 50 + i / (channels * WIDTH) * 3 + (i * 7919 % 13)) % 256;
            }
            PngParts parts {type, 8, samples};
            parts.width = WIDTH;
            parts.height = HEIGHT;
            parts.compression = level;
            if (type == SPNG_COLOR_TYPE_INDEXED) parts.palette = palette;
            const Bytes banded = png_file(parts);
            parts.interlaced = true;
            const Bytes whole = png_file(parts);
            for (const bool dither : {false, true}) {
                for (const PngDecoder decoder : {PngDecoder::fast, PngDecoder::libspng}) {
                    if (!use_png_decoder(decoder)) continue;
                    SCOPED_TRACE("type " + std::to_string(type) + ", level " + std::to_string(level) +
                                 (dither ? ", dithered" : "") + (decoder == PngDecoder::fast ? "" : ", libspng"));
                    if (decoder == PngDecoder::fast) {
                        load(banded, WIDTH, HEIGHT);
                        SourceFrame frame {};
                        EXPECT_TRUE(decode_png_fast(banded.size(), frame, dither));  // not handed to libspng
                    }
                    Bytes words[2];
                    for (int i = 0; i < 2; ++i) {
                        const Bytes& file = i == 0 ? banded : whole;
                        load(file, WIDTH, HEIGHT);
                        SourceFrame frame {};
                        ASSERT_EQ(decode_png_frame(file.size(), file.size(), nullptr, frame, dither).problem,
                                  InputProblem::none);
                        const bool as_stored = channels == 3 ? type == SPNG_COLOR_TYPE_TRUECOLOR
                                                             : type == SPNG_COLOR_TYPE_GRAYSCALE && channels == 1;
                        EXPECT_EQ(frame.packed, i == 0 && (decoder == PngDecoder::fast || as_stored));
                        pack_frame(frame, dither);
                        words[i] = packed(std::size_t {WIDTH} * HEIGHT);
                    }
                    EXPECT_TRUE(words[0] == words[1]);
                }
            }
        }
    }
    // Image data in IDAT chunks of any size, and a last band of a few flat
    // rows: the inflate may take in the last chunk, and decode the last
    // rows ahead into its own buffer, before the last band. Taken by the
    // fast path all the same, and the same words as libspng's.
    if (use_png_decoder(PngDecoder::fast)) {
        constexpr int NARROW = 1920, TALL = 23;
        std::vector<unsigned> samples(std::size_t {3} * NARROW * TALL, 0);
        for (std::size_t i = 0; i < samples.size() - 3 * 3 * NARROW; ++i) samples[i] = (i * 7919 + i / 97) % 256;
        PngParts parts {SPNG_COLOR_TYPE_TRUECOLOR, 8, samples};
        parts.width = NARROW;
        parts.height = TALL;
        for (const std::size_t chunk :
             {std::size_t {1} << 20, std::size_t {4096}, std::size_t {1000}, std::size_t {7}}) {
            SCOPED_TRACE("IDAT chunks of " + std::to_string(chunk));
            const Bytes file = with_idat_chunks_of(png_file(parts), chunk);
            load(file, NARROW, TALL);
            SourceFrame frame {};
            EXPECT_TRUE(decode_png_fast(file.size(), frame, false));
            const Bytes fast = packed(samples.size() / 3);
            use_png_decoder(PngDecoder::libspng);
            ASSERT_EQ(decode_png_frame(file.size(), file.size(), nullptr, frame, false).problem, InputProblem::none);
            pack_frame(frame);
            use_png_decoder(PngDecoder::fast);
            EXPECT_TRUE(fast == packed(samples.size() / 3));
        }
    }
}
#endif

#ifdef PELLUCOR_JPEG
// Each fixture becomes the picture djpeg decodes from it, in two word
// formats of either channel order and byte order, and dithered as the
// reference says; read from input_buffer, and read again from the file where
// input_buffer holds only its start. The wide frames take several bands of
// rows, the last one short.
TEST(JpegInput, EveryKindBecomesDjpegsPicture)
{
    struct Case {
        const char* name;
        const Bytes& file;
        const Bytes& pixels;
        bool gray;
        int width = JPEG_WIDTH, height = JPEG_HEIGHT;
    };
    const Case cases[] = {
        {"baseline 4:2:0", JPEG_BASELINE_420, JPEG_BASELINE_420_PIXELS, false},
        {"baseline 4:2:2", JPEG_BASELINE_422, JPEG_BASELINE_422_PIXELS, false},
        {"baseline 4:4:4", JPEG_BASELINE_444, JPEG_BASELINE_444_PIXELS, false},
        {"progressive 4:2:0", JPEG_PROGRESSIVE_420, JPEG_PROGRESSIVE_420_PIXELS, false},
        {"restart markers", JPEG_RESTARTS_420, JPEG_RESTARTS_420_PIXELS, false},
        {"arithmetic coded", JPEG_ARITHMETIC_420, JPEG_ARITHMETIC_420_PIXELS, false},
        {"gray baseline", JPEG_GRAY_BASELINE, JPEG_GRAY_BASELINE_PIXELS, true},
        {"gray progressive", JPEG_GRAY_PROGRESSIVE, JPEG_GRAY_PROGRESSIVE_PIXELS, true},
        {"3 x 2 progressive", JPEG_SMALL, JPEG_SMALL_PIXELS, false, 3, 2},
        {"3 x 2 gray", JPEG_SMALL_GRAY, JPEG_SMALL_GRAY_PIXELS, true, 3, 2},
        {"wide gray", JPEG_WIDE_GRAY, JPEG_WIDE_GRAY_ROW_PIXELS, true, JPEG_WIDE_GRAY_WIDTH, JPEG_WIDE_GRAY_HEIGHT},
        {"wide 4:4:4", JPEG_WIDE_444, JPEG_WIDE_444_ROW_PIXELS, false, JPEG_WIDE_444_WIDTH, JPEG_WIDE_444_HEIGHT},
    };
    const WordFormat& bgr565be = *find_word_format("bgr565be");
    for (const Case& c : cases) {
        const std::size_t size = c.gray ? 1 : 3, width = static_cast<std::size_t>(c.width);
        const std::size_t pixels = width * static_cast<std::size_t>(c.height);
        // The wide fixtures give one pixel for each row.
        const bool one_a_row = c.pixels.size() < size * pixels;
        const auto pixel = [&](std::size_t i) { return c.pixels.data() + size * (one_a_row ? i / width : i); };
        for (const WordFormat* format : {&DEFAULT_COLOR_FORMAT, &bgr565be}) {
            for (const bool from_file : {false, true}) {
                for (const bool dither : {false, true}) {
                    SCOPED_TRACE(std::string(c.name) + ", " + format->name + (from_file ? ", from the file" : "") +
                                 (dither ? ", dithered" : ""));
                    color_word_format = gray_word_format = *format;
                    load(c.file, c.width, c.height);
                    std::FILE* file = from_file ? std::tmpfile() : nullptr;
                    if (from_file) {
                        ASSERT_NE(file, nullptr);
                        ASSERT_EQ(std::fwrite(c.file.data(), 1, c.file.size(), file), c.file.size());
                    }
                    const std::size_t bytes_read = from_file ? 100 : c.file.size();
                    ASSERT_TRUE(is_jpeg(bytes_read));
                    SourceFrame frame {};
                    const FrameCheck check = decode_jpeg_frame(bytes_read, c.file.size(), file, frame, dither);
                    if (file != nullptr) std::fclose(file);
                    ASSERT_EQ(check.problem, InputProblem::none) << (check.reason ? check.reason : "");
                    EXPECT_EQ(frame.kind == FrameKind::gray, c.gray);
                    EXPECT_TRUE(frame.packed);
                    pack_frame(frame, dither);  // nothing: packed already
                    Bytes words(2 * pixels);
                    for (std::size_t i = 0; i < pixels; ++i) {
                        const std::uint8_t* p = pixel(i);
                        const unsigned t = BAYER[i / width % 8][i % width % 8];
                        const unsigned red = p[0], green = p[size / 2], blue = p[size - 1];
                        store_word(words.data() + 2 * i,
                                   dither ? pack_dithered_word(red, green, blue, t, *format)
                                          : pack_word(red, green, blue, *format),
                                   *format);
                    }
                    EXPECT_TRUE(packed(pixels) == words);
                }
            }
        }
    }
    color_word_format = DEFAULT_COLOR_FORMAT;
    gray_word_format = DEFAULT_GRAY_FORMAT;
}

// What is refused, and how: the library's reason for a damaged file, a line
// of its own for CMYK and for samples of other than 8 bits, the frame's own
// size where it is not the run's.
TEST(JpegInput, RefusesWhatItCannotConvert)
{
    const Bytes& good = JPEG_BASELINE_420;
    const auto cut = [](const Bytes& file, std::size_t size) { return Bytes(file.begin(), file.begin() + size); };
    // Bytes no marker begins, after the start of image and before the end.
    Bytes garbage(40);
    for (std::size_t i = 0; i < garbage.size(); ++i) garbage[i] = static_cast<std::uint8_t>(i * 37 % 251);
    Bytes after_start = good, before_end = good;
    after_start.insert(after_start.begin() + 2, garbage.begin(), garbage.end());
    before_end.insert(before_end.end() - 2, garbage.begin(), garbage.end());
    // The first Huffman table, for DC coefficients, made one for AC.
    const Bytes table_marker = {0xFF, 0xC4};
    Bytes wrong_huffman = good;
    const auto table = std::search(good.begin(), good.end(), table_marker.begin(), table_marker.end());
    wrong_huffman[static_cast<std::size_t>(table - good.begin()) + 4] ^= 0x10;
    struct Case {
        const char* name;
        Bytes file;
        InputProblem problem;
        unsigned value = 0;
        const char* reason = nullptr;  // the start of it
    };
    const Case cases[] = {
        {"CMYK", jpeg_header_only(JPEG_BASELINE, 8, 4, JPEG_WIDTH, JPEG_HEIGHT), InputProblem::cmyk_jpeg},
        {"CMYK of another size", jpeg_header_only(JPEG_BASELINE, 8, 4, 1, 1), InputProblem::cmyk_jpeg},
        {"Adobe CMYK", jpeg_header_only(JPEG_BASELINE, 8, 4, JPEG_WIDTH, JPEG_HEIGHT, 0), InputProblem::cmyk_jpeg},
        {"YCCK", jpeg_header_only(JPEG_BASELINE, 8, 4, JPEG_WIDTH, JPEG_HEIGHT, 2), InputProblem::cmyk_jpeg},
        {"12-bit", jpeg_header_only(JPEG_EXTENDED, 12, 3, JPEG_WIDTH, JPEG_HEIGHT), InputProblem::jpeg_precision, 12},
        {"12-bit gray", jpeg_header_only(JPEG_EXTENDED, 12, 1, 1, 1), InputProblem::jpeg_precision, 12},
        {"another size", jpeg_header_only(JPEG_BASELINE, 8, 3, JPEG_WIDTH + 1, JPEG_HEIGHT), InputProblem::wrong_size},
        {"two components", jpeg_header_only(JPEG_BASELINE, 8, 2, JPEG_WIDTH, JPEG_HEIGHT), InputProblem::invalid_jpeg,
         0, "2 components of no known color space"},
        {"no tables", jpeg_header_only(JPEG_BASELINE, 8, 3, JPEG_WIDTH, JPEG_HEIGHT), InputProblem::invalid_jpeg},
        {"start of image alone", {0xFF, 0xD8}, InputProblem::invalid_jpeg},
        {"garbage after the start of image", after_start, InputProblem::invalid_jpeg, 0,
         "Corrupt JPEG data: 40 extraneous bytes before marker 0xe0"},
        {"cut in the coded data", cut(good, good.size() - 40), InputProblem::invalid_jpeg, 0,
         "Premature end of JPEG file"},
        {"cut before the end of image", cut(good, good.size() - 2), InputProblem::invalid_jpeg, 0,
         "Premature end of JPEG file"},
        {"progressive cut between scans", cut(JPEG_PROGRESSIVE_420, JPEG_PROGRESSIVE_420.size() / 2),
         InputProblem::invalid_jpeg},
        {"garbage before the end of image", before_end, InputProblem::invalid_jpeg, 0, "Corrupt JPEG data: "},
        {"a Huffman table of the wrong class", wrong_huffman, InputProblem::invalid_jpeg},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        load(c.file, JPEG_WIDTH, JPEG_HEIGHT);
        ASSERT_TRUE(is_jpeg(c.file.size()));
        SourceFrame frame {};
        const FrameCheck check = decode_jpeg_frame(c.file.size(), c.file.size(), nullptr, frame, false);
        EXPECT_EQ(check.problem, c.problem);
        EXPECT_EQ(check.value, c.value);
        if (c.problem == InputProblem::wrong_size) {
            EXPECT_EQ(check.width, static_cast<unsigned>(JPEG_WIDTH + 1));
            EXPECT_EQ(check.height, static_cast<unsigned>(JPEG_HEIGHT));
        }
        if (c.problem == InputProblem::invalid_jpeg) {
            ASSERT_NE(check.reason, nullptr);
            EXPECT_GT(std::strlen(check.reason), 0u);
            if (c.reason != nullptr) {
                EXPECT_EQ(std::string(check.reason).rfind(c.reason, 0), 0u) << check.reason;
            }
        }
    }
    // Every prefix of a whole file, from its start-of-image marker on, is
    // refused with the library's reason.
    for (std::size_t size = 2; size < JPEG_SMALL.size(); ++size) {
        SCOPED_TRACE(std::to_string(size) + " bytes");
        const Bytes prefix = cut(JPEG_SMALL, size);
        load(prefix, 3, 2);
        ASSERT_TRUE(is_jpeg(size));
        SourceFrame frame {};
        const FrameCheck check = decode_jpeg_frame(size, size, nullptr, frame, false);
        EXPECT_EQ(check.problem, InputProblem::invalid_jpeg);
        ASSERT_NE(check.reason, nullptr);
        EXPECT_GT(std::strlen(check.reason), 0u);
    }
    // A TGA never starts so: a color map type of 0xD8 is none.
    load(color_tga(PICTURE, 3, 2), 3, 2);
    EXPECT_FALSE(is_jpeg(color_tga(PICTURE, 3, 2).size()));
    load({0xFF}, 3, 2);
    EXPECT_FALSE(is_jpeg(1));
}
#endif

struct RleCase {
    const char* name;
    int width, height;
    Bytes data;    // after the header
    Bytes pixels;  // decoded, bottom row first; empty when decoding must fail
};

TEST(Rle, DecodesPacketsAndRejectsShortData)
{
    Bytes raw_128 = {0x7F};
    for (int i = 0; i < 128 * 3; ++i) raw_128.push_back(static_cast<std::uint8_t>(i));
    const Bytes footer(26, 0);
    Bytes run_with_footer = {0x81, 1, 2, 3};
    run_with_footer.insert(run_with_footer.end(), footer.begin(), footer.end());

    const RleCase cases[] = {
        {"run of 2 with footer", 2, 1, run_with_footer, {1, 2, 3, 1, 2, 3}},
        {"run of 2, no footer", 2, 1, {0x81, 1, 2, 3}, {1, 2, 3, 1, 2, 3}},
        {"raw 128 cut to 5", 5, 1, raw_128, Bytes(raw_128.begin() + 1, raw_128.begin() + 16)},
        {"cut raw needs only missing pixels", 2, 1, {0x7F, 1, 2, 3, 4, 5, 6}, {1, 2, 3, 4, 5, 6}},
        {"run 100 cut to 3, then footer", 3, 1, {0xE3, 9, 8, 7, 0}, {9, 8, 7, 9, 8, 7, 9, 8, 7}},
        {"raw 2 then run 3",
         5,
         1,
         {0x01, 1, 1, 1, 2, 2, 2, 0x82, 3, 3, 3},
         {1, 1, 1, 2, 2, 2, 3, 3, 3, 3, 3, 3, 3, 3, 3}},
        {"run crosses a row", 2, 2, {0x82, 5, 6, 7, 0x00, 1, 2, 3}, {5, 6, 7, 5, 6, 7, 5, 6, 7, 1, 2, 3}},
        {"long run",
         200,
         1,
         {0xFF, 4, 5, 6, 0xC7, 4, 5, 6},
         [] {
             Bytes b;
             for (int i = 0; i < 200; ++i) append(b, {4, 5, 6});
             return b;
         }()},
        {"header only", 1, 1, {}, {}},
        {"run pixel cut off", 1, 1, {0x80, 1, 2}, {}},
        {"raw pixels cut off", 2, 1, {0x01, 1, 2, 3, 4}, {}},
        {"too few packets", 3, 1, {0x81, 1, 2, 3}, {}},
    };
    for (const RleCase& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes file = tga_header(TGA_TYPE_RLE_COLOR, c.width, c.height, COLOR_BITS);
        file.insert(file.end(), c.data.begin(), c.data.end());
        std::memset(input_buffer, 0xEE, TGA_HEADER_SIZE + COLOR_PIXEL_SIZE * 256);  // past every case's pixels
        load(file, c.width, c.height);
        const std::size_t pixels = static_cast<std::size_t>(c.width * c.height);
        const bool decoded = decompress_rle_frame(file.size());
        EXPECT_EQ(decoded, !c.pixels.empty());
        if (decoded) {
            EXPECT_EQ(tga_pixels(pixels), c.pixels);
        }
        EXPECT_EQ(Bytes(input_buffer, input_buffer + TGA_HEADER_SIZE),
                  Bytes(file.begin(), file.begin() + TGA_HEADER_SIZE));
    }
}

// Every packet length, run and raw: whole and followed by a 1-pixel run, or
// after a 1-pixel run and cut short by the frame's end.
TEST(Rle, EveryPacketLength)
{
    const Bytes other = {0x80, 9, 9, 9};
    for (int count = 1; count <= 128; ++count) {
        for (const bool run : {true, false}) {
            Bytes packet = {static_cast<std::uint8_t>((run ? 0x80 : 0) | (count - 1))}, pixels;
            for (int i = 0; i < count; ++i) {
                const Bytes pixel = {static_cast<std::uint8_t>(run ? 1 : i), 2, static_cast<std::uint8_t>(count)};
                if (!run || i == 0) packet.insert(packet.end(), pixel.begin(), pixel.end());
                pixels.insert(pixels.end(), pixel.begin(), pixel.end());
            }
            for (const bool cut : {false, true}) {
                SCOPED_TRACE(std::to_string(count) + (run ? " run" : " raw") + (cut ? " cut" : ""));
                const int width = cut ? count : count + 1;
                Bytes file = tga_header(TGA_TYPE_RLE_COLOR, width, 1, COLOR_BITS);
                Bytes expected = cut ? Bytes {9, 9, 9} : Bytes {};
                const Bytes& first = cut ? other : packet;
                const Bytes& second = cut ? packet : other;
                file.insert(file.end(), first.begin(), first.end());
                file.insert(file.end(), second.begin(), second.end());
                expected.insert(expected.end(), pixels.begin(), pixels.end() - (cut ? 3 : 0));
                if (!cut) append(expected, {9, 9, 9});
                load(file, width, 1);
                ASSERT_TRUE(decompress_rle_frame(file.size()));
                EXPECT_EQ(tga_pixels(static_cast<std::size_t>(width)), expected);
            }
        }
    }
}

// Every kernel of the table against the references, one test per path. A
// path that this build or processor lacks is reported as skipped, by name.
class Kernel : public ::testing::TestWithParam<Kernels> {
protected:
    void SetUp() override
    {
        best = kernels().path;
        if (!use_vector_path(GetParam().path)) {
            GTEST_SKIP() << "vector path " << GetParam().name << ": skipped, not in this build or processor";
        }
        std::printf("vector path %s: ran\n", GetParam().name);
    }
    void TearDown() override
    {
        use_vector_path(best);
        color_word_format = DEFAULT_COLOR_FORMAT;
        gray_word_format = DEFAULT_GRAY_FORMAT;
    }
    VectorPath best = VectorPath::plain;
};

// The words of width pixels at source, by the reference formula.
Bytes reference_row(const std::uint8_t* source, std::size_t width, bool gray, const WordFormat& format)
{
    Bytes words(PACKED_PIXEL_SIZE * width);
    for (std::size_t x = 0; x < width; ++x) {
        const std::uint8_t* p = source + x * (gray ? GRAY_PIXEL_SIZE : COLOR_PIXEL_SIZE);
        store_word(&words[PACKED_PIXEL_SIZE * x],
                   gray ? pack_gray_word(p[0], format) : pack_word(p[TGA_RED], p[TGA_GREEN], p[TGA_BLUE], format),
                   format);
    }
    return words;
}

void fill_pseudo_random(std::uint8_t* at, std::size_t bytes)
{
    for (std::size_t i = 0; i < bytes; ++i) at[i] = static_cast<std::uint8_t>(i * 131 + (i >> 9) * 7 + 5);
}

// Widths 1 to 130 cover every tail of every vector chunk (up to 64 pixels)
// and rows of two chunks; in every format, two rows of a frame, then a row
// whose last pixel ends input_buffer, which is all the kernel may read. The
// bytes after the frame's words stay as they were.
TEST_P(Kernel, PackersMatchReferenceInEveryFormat)
{
    constexpr int MAX_WIDTH = 130, HEIGHT = 2;
    constexpr std::uint8_t UNTOUCHED = 0xA5;
    fill_pseudo_random(input_buffer, TGA_HEADER_SIZE + COLOR_PIXEL_SIZE * MAX_WIDTH * HEIGHT);
    std::uint8_t* buffer_end = input_buffer + input_buffer_size;
    fill_pseudo_random(buffer_end - COLOR_PIXEL_SIZE * MAX_WIDTH, COLOR_PIXEL_SIZE * MAX_WIDTH);
    for (const WordFormat& format : WORD_FORMATS) {
        for (const bool gray : {false, true}) {
            const std::size_t pixel_size = gray ? GRAY_PIXEL_SIZE : COLOR_PIXEL_SIZE;
            for (int width = 1; width <= MAX_WIDTH; ++width) {
                SCOPED_TRACE(std::string(format.name) + (gray ? " gray" : " color") + " width " +
                             std::to_string(width));
                const auto w = static_cast<std::size_t>(width);
                color_word_format = gray_word_format = format;
                video_width = width;
                video_height = HEIGHT;
                std::memset(output_buffer, UNTOUCHED, PACKED_PIXEL_SIZE * (w * HEIGHT + MAX_WIDTH));
                gray ? pack_gray_frame() : pack_color_frame();
                const std::uint8_t* rows = input_buffer + TGA_HEADER_SIZE;
                Bytes expected = reference_row(rows + pixel_size * w, w, gray, format);  // the top row first
                const Bytes bottom = reference_row(rows, w, gray, format);
                expected.insert(expected.end(), bottom.begin(), bottom.end());
                expected.resize(expected.size() + PACKED_PIXEL_SIZE * MAX_WIDTH, UNTOUCHED);
                ASSERT_EQ(packed(expected.size() / PACKED_PIXEL_SIZE), expected);

                const std::uint8_t* last_row = buffer_end - pixel_size * w;
                const FramePacker pack_rows = gray ? GetParam().pack_gray_frame : GetParam().pack_color_frame;
                pack_rows(last_row, output_buffer, w, 1, pixel_size * w, false, format);
                ASSERT_EQ(packed(w), reference_row(last_row, w, gray, format));
            }
        }
    }
}

// With dithering, on every path, width and format: each word against the
// reference formula at its position, top row first and bottom row first.
TEST_P(Kernel, DitheredPackersMatchReference)
{
    constexpr int MAX_WIDTH = 130, HEIGHT = 9;
    std::vector<std::uint8_t> source(COLOR_PIXEL_SIZE * MAX_WIDTH * HEIGHT);
    fill_pseudo_random(source.data(), source.size());
    for (const WordFormat& format : WORD_FORMATS) {
        for (const bool gray : {false, true}) {
            for (const bool top_first : {false, true}) {
                const std::size_t size = gray ? GRAY_PIXEL_SIZE : COLOR_PIXEL_SIZE;
                for (int width = 1; width <= MAX_WIDTH; ++width) {
                    SCOPED_TRACE(std::string(format.name) + (gray ? " gray" : " color") + " width " +
                                 std::to_string(width) + (top_first ? " top first" : ""));
                    const auto w = static_cast<std::size_t>(width);
                    color_word_format = gray_word_format = format;
                    video_width = width;
                    video_height = HEIGHT;
                    std::memcpy(input_buffer + TGA_HEADER_SIZE, source.data(), size * w * HEIGHT);
                    SourceFrame frame = read_frame(gray ? FrameKind::gray : FrameKind::color);
                    frame.top_first = top_first;
                    pack_frame(frame, true);
                    Bytes expected(PACKED_PIXEL_SIZE * w * HEIGHT);
                    for (std::size_t y = 0; y < HEIGHT; ++y) {
                        const std::size_t row = top_first ? y : HEIGHT - 1 - y;
                        for (std::size_t x = 0; x < w; ++x) {
                            const std::uint8_t* p = source.data() + size * (row * w + x);
                            const unsigned t = BAYER[y % 8][x % 8];
                            store_word(&expected[PACKED_PIXEL_SIZE * (y * w + x)],
                                       gray ? pack_dithered_word(p[0], p[0], p[0], t, format)
                                            : pack_dithered_word(p[TGA_RED], p[TGA_GREEN], p[TGA_BLUE], t, format),
                                       format);
                        }
                    }
                    ASSERT_EQ(packed(w * HEIGHT), expected);
                }
            }
        }
    }
}

// The largest frame, whose row offsets need the full size arithmetic.
TEST_P(Kernel, PackersMatchReferenceOnTheLargestFrame)
{
    constexpr int SIDE = 4096;
    fill_pseudo_random(input_buffer, TGA_HEADER_SIZE + COLOR_PIXEL_SIZE * MAX_VIDEO_PIXELS);
    video_width = video_height = SIDE;
    for (const bool gray : {false, true}) {
        gray ? pack_gray_frame() : pack_color_frame();
        const std::size_t pixel_size = gray ? GRAY_PIXEL_SIZE : COLOR_PIXEL_SIZE;
        for (std::size_t row = 0; row < SIDE; ++row) {
            const std::uint8_t* source = input_buffer + TGA_HEADER_SIZE + (SIDE - 1 - row) * SIDE * pixel_size;
            const Bytes expected = reference_row(source, SIDE, gray, gray ? gray_word_format : color_word_format);
            ASSERT_TRUE(std::equal(expected.begin(), expected.end(), output_buffer + row * SIDE * PACKED_PIXEL_SIZE))
                << (gray ? "gray" : "color") << " row " << row;
        }
    }
}

// A long frame whose packets take every length in turn, run and raw, through
// the kernel's unchecked loop, and its last packets through the checked one:
// with a footer, and ending at the file's last byte.
TEST_P(Kernel, DecoderMatchesReference)
{
    constexpr int WIDTH = 333327;
    for (const bool last_is_run : {true, false}) {
        for (const bool footer : {true, false}) {
            SCOPED_TRACE(std::string(last_is_run ? "last a run" : "last raw") + (footer ? ", footer" : ""));
            Bytes file = tga_header(TGA_TYPE_RLE_COLOR, WIDTH, 1, COLOR_BITS);
            for (int packet = 0, left = WIDTH; left > 0; ++packet) {
                const int count = std::min(left, packet % static_cast<int>(RLE_MAX_COUNT) + 1);
                left -= count;
                const bool run = (packet % 2 == 0) == last_is_run;
                file.push_back(static_cast<std::uint8_t>((run ? RLE_RUN_BIT : 0) | (count - 1)));
                for (int i = 0; i < (run ? 1 : count) * 3; ++i) file.push_back(static_cast<std::uint8_t>(i + packet));
            }
            if (footer) file.resize(file.size() + 64);
            Bytes expected(COLOR_PIXEL_SIZE * WIDTH);
            ASSERT_TRUE(decode_rle_reference(file.data() + TGA_HEADER_SIZE, file.size() - TGA_HEADER_SIZE, WIDTH,
                                             expected.data()));
            load(file, WIDTH, 1);
            ASSERT_TRUE(decompress_rle_frame(file.size()));
            EXPECT_EQ(tga_pixels(WIDTH), expected);
        }
    }
}

// The chunk CRC, where the path has one, against the bit-at-a-time
// definition: every length up to a few folding steps past the 64-byte one,
// at every alignment, and a long run.
TEST_P(Kernel, ChunkCrcMatchesReference)
{
    if (GetParam().chunk_crc == nullptr) {
        GTEST_SKIP() << "chunk CRC on " << GetParam().name << ": none, the PNG library checks CRCs";
    }
    const auto reference = [](const std::uint8_t* data, std::size_t size) {
        std::uint32_t c = ~0u;
        for (std::size_t i = 0; i < size; ++i) {
            c ^= data[i];
            for (int bit = 0; bit < 8; ++bit) c = (c & 1) != 0 ? c >> 1 ^ 0xEDB88320 : c >> 1;
        }
        return ~c;
    };
    Bytes data((1 << 20) + 77);
    fill_pseudo_random(data.data(), data.size());
    EXPECT_EQ(GetParam().chunk_crc(reinterpret_cast<const std::uint8_t*>("IEND"), 4), 0xAE426082u);
    for (std::size_t offset = 0; offset < 4; ++offset) {
        for (std::size_t size = 0; size <= 300; ++size) {
            ASSERT_EQ(GetParam().chunk_crc(data.data() + offset, size), reference(data.data() + offset, size))
                << "offset " << offset << ", " << size << " bytes";
        }
    }
    EXPECT_EQ(GetParam().chunk_crc(data.data() + 1, data.size() - 1), reference(data.data() + 1, data.size() - 1));
}

// The PNG row filters undone, against their definition: every filter type
// (5, past the last, refused), 1 to 4 bytes a pixel, every width up to a few
// vector steps, rows of any bytes. Each row lies at the end of its buffer,
// all that the kernel may read or write; the row above is as undone.
TEST_P(Kernel, UnfilterMatchesDefinition)
{
    const auto reference = [](std::uint8_t type, const Bytes& in, const Bytes& above, std::size_t bpp) {
        Bytes row(in.size());
        for (std::size_t i = 0; i < in.size(); ++i) {
            const int a = i >= bpp ? row[i - bpp] : 0, b = above[i], c = i >= bpp ? above[i - bpp] : 0;
            const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
            const int paeth = pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
            const int predicted[] = {0, a, b, (a + b) / 2, paeth};
            row[i] = static_cast<std::uint8_t>(in[i] + predicted[type]);
        }
        return row;
    };
    for (std::size_t bpp = 1; bpp <= 4; ++bpp) {
        for (std::size_t width = 1; width <= 70; ++width) {
            const std::size_t size = width * bpp;
            Bytes filtered(1 + size), above(size), row(size);
            fill_pseudo_random(filtered.data(), filtered.size());
            for (std::size_t i = 0; i < size; ++i) above[i] = static_cast<std::uint8_t>(i * 37 + width);
            for (std::uint8_t type = 0; type <= 5; ++type) {
                SCOPED_TRACE("filter " + std::to_string(type) + ", " + std::to_string(bpp) + " bytes a pixel, width " +
                             std::to_string(width));
                filtered[0] = type;
                const bool known = GetParam().unfilter_png_row(filtered.data(), above.data(), row.data(), size, bpp);
                ASSERT_EQ(known, type <= 4);
                if (known) {
                    ASSERT_EQ(row, reference(type, Bytes(filtered.begin() + 1, filtered.end()), above, bpp));
                }
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Paths, Kernel, ::testing::ValuesIn(kernel_table().begin(), kernel_table().end()),
                         [](const ::testing::TestParamInfo<Kernels>& info) { return std::string(info.param.name); });

}  // namespace
