// Unit tests of the checks, the RLE decoder and the packers, run on the frame store.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "frame_store.h"
#include "pixel_pack.h"
#include "rle_decode.h"
#include "vector_path.h"
#include "tga.h"

namespace {

// Runs check on every path that this build and processor have, then goes back
// to the best one.
template <typename Check>
void on_every_path(Check check)
{
    const VectorPath best = vector_path();
    for (const VectorPath path : VECTOR_PATHS) {
        if (use_vector_path(path)) {
            SCOPED_TRACE("path " + std::to_string(static_cast<int>(path)));
            check();
        }
    }
    use_vector_path(best);
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
    load(color_tga(PICTURE, 3, 2), 3, 2);
    pack_color_frame();
    EXPECT_EQ(packed(6), PICTURE_WORDS);

    load(gray_tga(GRAY_PICTURE, 3, 2), 3, 2);
    pack_gray_frame();
    EXPECT_EQ(packed(6), GRAY_WORDS);
}

// Every row loop this processor runs against a plain reference: each tail
// length of the vector chunks, rows of several chunks, and the largest frame.
TEST(Packers, EveryPathMatchesReference)
{
    std::vector<std::pair<int, int>> sizes = {{333, 3}, {4096, 4096}};
    for (int width = 1; width <= 40; ++width) sizes.emplace_back(width, 3);
    for (std::size_t i = 0; i < TGA_HEADER_SIZE + COLOR_PIXEL_SIZE * MAX_VIDEO_PIXELS; ++i) {
        input_buffer[i] = static_cast<std::uint8_t>(i * 131 + 7);
    }
    on_every_path([&] {
        for (const bool gray : {false, true}) {
            for (const auto& [width, height] : sizes) {
                video_width = width;
                video_height = height;
                gray ? pack_gray_frame() : pack_color_frame();
                for (int y = 0; y < height; ++y) {
                    for (int x = 0; x < width; ++x) {
                        const std::size_t index = static_cast<std::size_t>((height - 1 - y) * width + x);
                        const std::uint8_t* p = input_buffer + 18 + index * (gray ? 1 : 3);
                        const unsigned word = gray ? (p[0] >> 3) << 11 | (p[0] >> 2) << 5 | p[0] >> 3
                                                   : (p[2] >> 3) << 10 | (p[1] >> 3) << 5 | p[0] >> 3;
                        const std::uint8_t* out = output_buffer + (y * width + x) * 2;
                        ASSERT_EQ(out[0] | out[1] << 8, word) << (gray ? "gray " : "color ") << width << "x"
                                                              << height << " at " << x << "," << y;
                    }
                }
            }
        }
    });
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

struct RleCase {
    const char* name;
    int width, height;
    Bytes data;     // after the header
    Bytes pixels;   // decoded, bottom row first; empty when decoding must fail
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
        {"raw 2 then run 3", 5, 1, {0x01, 1, 1, 1, 2, 2, 2, 0x82, 3, 3, 3}, {1, 1, 1, 2, 2, 2, 3, 3, 3, 3, 3, 3, 3, 3, 3}},
        {"run crosses a row", 2, 2, {0x82, 5, 6, 7, 0x00, 1, 2, 3}, {5, 6, 7, 5, 6, 7, 5, 6, 7, 1, 2, 3}},
        {"long run", 200, 1, {0xFF, 4, 5, 6, 0xC7, 4, 5, 6}, [] { Bytes b; for (int i = 0; i < 200; ++i) append(b, {4, 5, 6}); return b; }()},
        {"header only", 1, 1, {}, {}},
        {"run pixel cut off", 1, 1, {0x80, 1, 2}, {}},
        {"raw pixels cut off", 2, 1, {0x01, 1, 2, 3, 4}, {}},
        {"too few packets", 3, 1, {0x81, 1, 2, 3}, {}},
    };
    for (const RleCase& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes file = tga_header(10, c.width, c.height, 24);
        file.insert(file.end(), c.data.begin(), c.data.end());
        std::memset(input_buffer, 0xEE, TGA_HEADER_SIZE + COLOR_PIXEL_SIZE * 256);  // past every case's pixels
        load(file, c.width, c.height);
        const std::size_t pixels = static_cast<std::size_t>(c.width * c.height);
        const bool decoded = decompress_rle_frame(file.size());
        EXPECT_EQ(decoded, !c.pixels.empty());
        if (decoded) {
            EXPECT_EQ(tga_pixels(pixels), c.pixels);
        }
        EXPECT_EQ(Bytes(input_buffer, input_buffer + TGA_HEADER_SIZE), Bytes(file.begin(), file.begin() + 18));
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
                Bytes file = tga_header(10, width, 1, 24);
                Bytes expected = cut ? Bytes{9, 9, 9} : Bytes{};
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

// A long frame whose packets take every length in turn, through the
// unchecked loop of every path; its last packets go through the checked
// loop, and a footer gives the packets slack.
TEST(Rle, EveryPacketLengthOnEveryPath)
{
    constexpr int width = 333327;
    on_every_path([&] {
        for (const bool last_is_run : {true, false}) {
            Bytes file = tga_header(10, width, 1, 24), expected;
            for (int packet = 0, left = width; left > 0; ++packet) {
                const int count = std::min(left, packet % 128 + 1);  // every length, in the unchecked loop too
                left -= count;
                if ((packet % 2 == 0) == last_is_run) {
                    append(file, {static_cast<std::uint8_t>(0x80 | (count - 1)), static_cast<std::uint8_t>(packet), 1, 2});
                    for (int i = 0; i < count; ++i) expected.insert(expected.end(), file.end() - 3, file.end());
                } else {
                    file.push_back(static_cast<std::uint8_t>(count - 1));
                    for (int i = 0; i < count * 3; ++i) file.push_back(static_cast<std::uint8_t>(i + packet));
                    expected.insert(expected.end(), file.end() - count * 3, file.end());
                }
            }
            file.resize(file.size() + 64);
            load(file, width, 1);
            ASSERT_TRUE(decompress_rle_frame(file.size()));
            EXPECT_EQ(tga_pixels(width), expected);
        }
    });
}

}  // namespace
