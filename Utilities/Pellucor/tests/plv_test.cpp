// SPDX-License-Identifier: MIT
// Unit tests of the PLV encoder: the format's worked example byte for byte,
// the codes it chooses, and round trips through the player library.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "plv_encode.h"
#include "png_input_kernels.h"
#include "plv_play.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

std::uint32_t reference_crc(const std::uint8_t* data, std::size_t size)
{
    std::uint32_t c = ~0u;
    for (std::size_t i = 0; i < size; ++i) {
        c ^= data[i];
        for (int bit = 0; bit < 8; ++bit) c = (c & 1) != 0 ? c >> 1 ^ 0xEDB88320 : c >> 1;
    }
    return ~c;
}

void append(Bytes& out, std::initializer_list<std::uint8_t> bytes)
{
    out.insert(out.end(), bytes);
}

void append_32(Bytes& out, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

// A whole file as the writer lays it out: the finished header, the records,
// the index and the trailer.
Bytes encode(const PlvSettings& settings, const std::vector<Bytes>& frames, const std::vector<std::uint8_t>& formats)
{
    PlvEncoder encoder;
    EXPECT_TRUE(plv_start(encoder, settings, frames.size()));
    Bytes file(PLV_HEADER_SIZE);
    for (std::size_t i = 0; i < frames.size(); ++i) {
        const PlvRecord record = plv_frame_record(encoder, frames[i].data(), formats[i]);
        EXPECT_NE(record.header, nullptr);
        file.insert(file.end(), record.header, record.header + PLV_RECORD_HEADER_SIZE);
        file.insert(file.end(), record.payload, record.payload + record.payload_size);
        file.insert(file.end(), record.padding, 0);
    }
    const Bytes& end = plv_finish(encoder);
    file.insert(file.end(), end.begin(), end.end());
    plv_write_header(encoder, true, file.data());
    return file;
}

// The format's example: a 4 x 1 video in rgb565be, A A A B twice.
TEST(PlvWriter, WorkedExampleByteForByte)
{
    const PlvSettings settings {4, 1, PlvProfile::stream, plv_window(PlvProfile::stream, 8, 4), 30, 30, 1};
    const Bytes frame = {0xF8, 0x00, 0xF8, 0x00, 0xF8, 0x00, 0x00, 0x1F};
    constexpr std::uint8_t RGB565BE = 3;
    const Bytes file = encode(settings, {frame, frame}, {RGB565BE, RGB565BE});

    Bytes expected = {0x89, 0x50, 0x4C, 0x56, 0x0D, 0x0A, 0x1A, 0x0A, 1, 0, 64, 0, 4, 0, 1, 0, 0, 0x08, 0, 0};
    append_32(expected, 0);   // window: no COPY
    append_32(expected, 2);   // frames
    append_32(expected, 30);  // rate
    append_32(expected, 1);
    append_32(expected, 8);  // largest payload
    append_32(expected, 2);  // key interval
    expected.resize(60);
    append_32(expected, reference_crc(expected.data(), 60));
    const Bytes key_codes = {0x02, 0x80, 0xF8, 0x00, 0x00, 0x40, 0x00, 0x1F};
    append(expected, {1, 3, 0, 0, 8, 0, 0, 0});
    append_32(expected, reference_crc(key_codes.data(), key_codes.size()));
    expected.insert(expected.end(), key_codes.begin(), key_codes.end());
    const Bytes delta_codes = {0x03, 0x00};
    append(expected, {2, 3, 0, 0, 2, 0, 0, 0});
    append_32(expected, reference_crc(delta_codes.data(), delta_codes.size()));
    append(expected, {0x03, 0x00, 0, 0});
    const Bytes entries = {64, 0, 0, 0, 0, 0, 0, 0, 8, 0, 0, 0, 1, 3, 0, 0,
                           84, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 2, 3, 0, 0};
    append(expected, {0x81, 0, 0, 0, 32, 0, 0, 0});
    append_32(expected, reference_crc(entries.data(), entries.size()));
    expected.insert(expected.end(), entries.begin(), entries.end());
    append(expected, {100, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 0x50, 0x4C, 0x56, 0x54});

    ASSERT_EQ(expected.size(), 160u);
    EXPECT_EQ(file, expected);
}

// The header as the run begins it: the window the run keeps, the fields
// known only at the end 0; and a finished run of no frames.
TEST(PlvWriter, HeaderBeforeTheEndAndWithNoFrames)
{
    const PlvSettings settings {320, 240, PlvProfile::stream, plv_window(PlvProfile::stream, 8, 320), 30, 30000, 1001};
    PlvEncoder encoder;
    ASSERT_TRUE(plv_start(encoder, settings, 0));
    Bytes header(PLV_HEADER_SIZE);
    plv_write_header(encoder, false, header.data());
    Bytes expected = {0x89, 0x50, 0x4C, 0x56, 0x0D, 0x0A, 0x1A, 0x0A, 1, 0, 64, 0, 0x40, 0x01, 0xF0, 0, 0, 0, 0, 0};
    append_32(expected, 2560);
    append_32(expected, 0);
    append_32(expected, 30000);
    append_32(expected, 1001);
    expected.resize(60);
    append_32(expected, reference_crc(expected.data(), 60));
    EXPECT_EQ(header, expected);

    const Bytes& end = plv_finish(encoder);
    Bytes empty_end = {0x81, 0, 0, 0, 0, 0, 0, 0};
    append_32(empty_end, reference_crc(nullptr, 0));
    append(empty_end, {64, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x50, 0x4C, 0x56, 0x54});
    EXPECT_EQ(end, empty_end);
    plv_write_header(encoder, true, header.data());
    EXPECT_EQ(header[20], 0) << "window of a file with no COPY";
    EXPECT_EQ(header[17], 0) << "word formats of a file with no frames";
}

// Windows: 8 rows, capped at 65535 words; profile 1 always the cap.
TEST(PlvWriter, Window)
{
    EXPECT_EQ(plv_window(PlvProfile::stream, 8, 320), 2560u);
    EXPECT_EQ(plv_window(PlvProfile::stream, 1, 1), 1u);
    EXPECT_EQ(plv_window(PlvProfile::stream, 205, 320), 65535u);
    EXPECT_EQ(plv_window(PlvProfile::stream, 4294967295u, 65535), 65535u);
    EXPECT_EQ(plv_window(PlvProfile::frame_buffer, 1, 4), 65535u);
}

// The words of a frame, from a list of 16-bit values, low byte first.
Bytes words_of(const std::vector<std::uint16_t>& values)
{
    Bytes words;
    for (std::uint16_t value : values) {
        words.push_back(static_cast<std::uint8_t>(value));
        words.push_back(static_cast<std::uint8_t>(value >> 8));
    }
    return words;
}

std::vector<std::uint16_t> repeated(std::uint16_t value, std::size_t count)
{
    return std::vector<std::uint16_t>(count, value);
}

std::vector<std::uint16_t> operator+(std::vector<std::uint16_t> a, const std::vector<std::uint16_t>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

struct CodeCase {
    const char* name;
    std::vector<std::uint16_t> frame;
    std::vector<std::uint16_t> previous;  // empty: a key frame
    std::size_t width;
    std::uint32_t window;
    PlvProfile profile;
    std::vector<std::uint16_t> codes;  // code words and operands as 16-bit values
};

// The codes chosen for small frames: each operation, the splits at 16384,
// and what the window and the profile forbid.
TEST(PlvCodes, ChosenCodes)
{
    constexpr std::uint16_t L = 0x4000, R = 0x8000, C = 0xC000;
    const PlvProfile stream = PlvProfile::stream, frame_buffer = PlvProfile::frame_buffer;
    const std::vector<std::uint16_t> abcd = {0xA, 0xB, 0xC, 0xD};
    const CodeCase cases[] = {
        {"one pixel", {7}, {}, 1, 8, stream, {L, 7}},
        {"two equal pixels stay literal", {7, 7}, {}, 2, 8, stream, {L | 1, 7, 7}},
        {"three equal pixels repeat", {7, 7, 7}, {}, 3, 8, stream, {R | 2, 7}},
        {"repeat splits at 16384", repeated(5, 16385), {}, 16385, 8, stream, {R | 0x3FFF, 5, R, 5}},
        {"literals split at 16384", {}, {}, 0, 0, stream, {}},  // filled below
        {"row above copied", abcd + abcd, {}, 4, 8, stream, {L | 3, 0xA, 0xB, 0xC, 0xD, C | 3, 4}},
        {"row above past the window stays literal",
         abcd + abcd,
         {},
         4,
         3,
         stream,
         {L | 7, 0xA, 0xB, 0xC, 0xD, 0xA, 0xB, 0xC, 0xD}},
        {"pattern shorter than the copy", {1, 2, 1, 2, 1, 2, 1, 2}, {}, 8, 8, stream, {L | 1, 1, 2, C | 5, 2}},
        {"delta: unchanged frame one skip", abcd, abcd, 4, 8, stream, {3}},
        {"delta: skip, literal, skip", {1, 2, 9, 4, 5}, {1, 2, 3, 4, 5}, 5, 8, stream, {1, L, 9, 1}},
        {"delta: one unchanged pixel is no skip", {1, 9, 9, 4}, {1, 2, 3, 4}, 4, 8, stream, {L | 3, 1, 9, 9, 4}},
        {"stream: no copy over skipped pixels",
         abcd + abcd,
         abcd + repeated(0, 4),
         4,
         8,
         stream,
         {3, L | 3, 0xA, 0xB, 0xC, 0xD}},
        {"frame buffer: copy over skipped pixels",
         abcd + abcd,
         abcd + repeated(0, 4),
         4,
         8,
         frame_buffer,
         {3, C | 3, 4}},
        {"stream: copy from just after the skipped pixels",
         std::vector<std::uint16_t> {5, 5} + abcd + abcd,
         std::vector<std::uint16_t> {5, 5} + repeated(0, 8),
         10,
         8,
         stream,
         {1, L | 3, 0xA, 0xB, 0xC, 0xD, C | 3, 4}},
    };
    for (CodeCase c : cases) {
        if (std::string(c.name) == "literals split at 16384") {
            for (std::uint16_t i = 0; i < 16385; ++i) c.frame.push_back(static_cast<std::uint16_t>(i * 7 + 1));
            c.width = c.frame.size();
            c.window = 8;
            c.codes = {L | 0x3FFF};
            c.codes.insert(c.codes.end(), c.frame.begin(), c.frame.begin() + 16384);
            c.codes.push_back(L);
            c.codes.push_back(c.frame.back());
        }
        const Bytes frame = words_of(c.frame);
        const Bytes previous = words_of(c.previous);
        std::vector<std::uint32_t> positions(PLV_SEARCH_TABLE_SIZE);
        Bytes codes(frame.size() + 64);
        const PlvCodes coded =
            plv_code_frame(frame.data(), c.previous.empty() ? nullptr : previous.data(), c.frame.size(), c.width,
                           c.window, c.profile, positions.data(), codes.data(), codes.size());
        ASSERT_TRUE(coded.fits) << c.name;
        codes.resize(coded.size);
        EXPECT_EQ(codes, words_of(c.codes)) << c.name;
    }
}

// Contents that the encoder meets, as sequences of frames of 16-bit values.
enum class Content { flat_ui, noise, gradient, pattern, scroll, mostly_still_noise };

std::vector<std::vector<std::uint16_t>> make_frames(Content content, std::size_t width, std::size_t height,
                                                    std::size_t count, std::uint32_t seed)
{
    std::mt19937 random(seed);
    std::vector<std::vector<std::uint16_t>> frames;
    std::vector<std::uint16_t> base(width * height);
    for (std::size_t i = 0; i < base.size(); ++i) base[i] = static_cast<std::uint16_t>(random());
    for (std::size_t f = 0; f < count; ++f) {
        std::vector<std::uint16_t> frame(width * height);
        for (std::size_t y = 0; y < height; ++y) {
            for (std::size_t x = 0; x < width; ++x) {
                std::uint16_t& v = frame[y * width + x];
                switch (content) {
                case Content::flat_ui:  // background, a panel, a box that moves, a changing counter
                    v = 0x1234;
                    if (y > height / 4 && x > width / 5 && x < width - 3) v = 0x7BEF;
                    if (x >= f % width && x < f % width + 3 && y < 4) v = 0xF800;
                    if (y == height - 1 && x < 4) v = static_cast<std::uint16_t>(f * 31 + x);
                    break;
                case Content::noise:
                    v = static_cast<std::uint16_t>(random());
                    break;
                case Content::gradient:
                    v = static_cast<std::uint16_t>((x * 7 + y * 3 + f) & 0xFFFF);
                    break;
                case Content::pattern:
                    v = static_cast<std::uint16_t>(((x + f) % 3) * 0x1111 + (y % 2));
                    break;
                case Content::scroll:
                    v = base[((y + f) % height) * width + x];
                    break;
                case Content::mostly_still_noise:
                    v = base[y * width + x];
                    if ((x + y + f) % 17 == 0) v = static_cast<std::uint16_t>(random());
                    break;
                }
            }
        }
        frames.push_back(frame);
    }
    return frames;
}

struct RoundTrip {
    const char* name;
    Content content;
    std::size_t width, height, frames;
    PlvProfile profile;
    std::uint32_t rows;
    std::uint32_t key_every;
    bool mixed_formats;  // frames alternate between two word formats, two at a time
};

// Every frame of every file decodes to its words through the player, in a
// frame buffer and through a ring; the checking reader finds each file
// sound and finished; no file passes raw plus its overhead.
TEST(PlvRoundTrip, EveryContentWindowAndKeyInterval)
{
    const PlvProfile stream = PlvProfile::stream, frame_buffer = PlvProfile::frame_buffer;
    const RoundTrip cases[] = {
        {"ui", Content::flat_ui, 40, 30, 12, stream, 8, 30, false},
        {"ui, key every frame", Content::flat_ui, 40, 30, 6, stream, 8, 1, false},
        {"ui, key every 2", Content::flat_ui, 40, 30, 7, stream, 8, 2, false},
        {"ui, one-row window", Content::flat_ui, 40, 30, 5, stream, 1, 30, false},
        {"ui, frame buffer", Content::flat_ui, 40, 30, 8, frame_buffer, 8, 30, false},
        {"ui, mixed formats", Content::flat_ui, 40, 30, 9, stream, 8, 30, true},
        {"noise stays raw", Content::noise, 33, 7, 4, stream, 8, 30, false},
        {"noise, odd pixel count", Content::noise, 3, 3, 3, stream, 8, 30, false},
        {"gradient", Content::gradient, 64, 16, 5, stream, 8, 30, false},
        {"pattern", Content::pattern, 31, 9, 6, stream, 8, 30, false},
        {"scroll", Content::scroll, 24, 20, 8, stream, 8, 30, false},
        {"scroll, frame buffer", Content::scroll, 24, 20, 8, frame_buffer, 8, 30, false},
        {"mostly still noise", Content::mostly_still_noise, 50, 20, 6, stream, 8, 30, false},
        {"mostly still noise, frame buffer", Content::mostly_still_noise, 50, 20, 6, frame_buffer, 8, 30, false},
        {"one pixel", Content::flat_ui, 1, 1, 4, stream, 8, 30, false},
        {"one column", Content::pattern, 1, 300, 3, stream, 8, 30, false},
        {"the longest row", Content::flat_ui, 65535, 1, 3, stream, 1, 30, false},
        {"wide: the window caps 8 rows", Content::scroll, 40000, 3, 3, stream, 8, 30, false},
        {"runs past 16384", Content::flat_ui, 300, 200, 3, stream, 8, 30, false},
        {"no frames", Content::flat_ui, 5, 5, 0, stream, 8, 30, false},
    };
    for (const RoundTrip& c : cases) {
        SCOPED_TRACE(c.name);
        const auto values = make_frames(c.content, c.width, c.height, c.frames, 7);
        std::vector<Bytes> frames;
        std::vector<std::uint8_t> formats;
        for (std::size_t f = 0; f < values.size(); ++f) {
            frames.push_back(words_of(values[f]));
            formats.push_back(static_cast<std::uint8_t>(c.mixed_formats && f / 2 % 2 == 1 ? 6 : 2));
        }
        const PlvSettings settings {static_cast<std::uint32_t>(c.width),
                                    static_cast<std::uint32_t>(c.height),
                                    c.profile,
                                    plv_window(c.profile, c.rows, static_cast<std::uint32_t>(c.width)),
                                    c.key_every,
                                    30,
                                    1};
        const Bytes file = encode(settings, frames, formats);
        const plv_play::Played played = plv_play::play(file);
        ASSERT_EQ(played.opened, PLV_OK);
        EXPECT_EQ(played.checked, PLV_OK) << "fault " << played.report.fault << " at frame " << played.report.frame;
        EXPECT_TRUE(played.report.finished);
        EXPECT_EQ(played.end, PLV_END);
        ASSERT_EQ(played.frames.size(), frames.size());
        for (std::size_t f = 0; f < frames.size(); ++f) ASSERT_EQ(played.frames[f], frames[f]) << "frame " << f;
        if (c.profile == stream) {
            EXPECT_EQ(played.ring_end, PLV_END);
            ASSERT_EQ(played.panel_frames.size(), frames.size());
            for (std::size_t f = 0; f < frames.size(); ++f) {
                ASSERT_EQ(played.panel_frames[f], frames[f]) << "frame " << f << " through a ring";
            }
        }
        EXPECT_LE(played.report.key_interval, c.key_every);
        EXPECT_LE(file.size(), 92 + 30 * c.frames + 2 * c.width * c.height * c.frames);
        if (c.content == Content::noise) {
            EXPECT_EQ(played.report.raw_frames, c.frames);
        }
        if (c.key_every == 1) {
            EXPECT_EQ(played.report.delta_frames, 0u);
        }
    }
}

// The kept record: coded only where it saves 1/16 of the raw payload.
TEST(PlvRecords, RawUnlessCodingSavesItsShare)
{
    struct Case {
        const char* name;
        std::size_t repeated;  // of 64 pixels, the first this many the same, the rest all different
        std::uint8_t type;
    };
    // 64 pixels, 128 bytes raw: coded must be at most 120 bytes.
    const Case cases[] = {
        {"all different", 0, PLV_RAW},
        {"4 the same: 4 + 2 + 120 bytes", 4, PLV_RAW},
        {"5 the same: 4 + 2 + 118 bytes", 5, PLV_RAW},
        {"6 the same: 4 + 2 + 116 bytes", 6, PLV_RAW},
        {"7 the same: 4 + 2 + 114 bytes", 7, PLV_KEY},
        {"all the same", 64, PLV_KEY},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::uint16_t> values(64);
        for (std::size_t i = 0; i < values.size(); ++i) {
            values[i] = static_cast<std::uint16_t>(i < c.repeated ? 0x5555 : 0x100 + i * 0x101);
        }
        PlvEncoder encoder;
        ASSERT_TRUE(plv_start(encoder, {64, 1, PlvProfile::stream, 64, 30, 30, 1}, 1));
        const Bytes words = words_of(values);
        const PlvRecord record = plv_frame_record(encoder, words.data(), 0);
        EXPECT_EQ(record.header[0], c.type) << record.payload_size << " bytes";
    }
}

// A frame that does not code is given up on partway, and stored raw; one
// that does not code at first but does further on is coded whole.
TEST(PlvRecords, GivesUpOnlyOnFramesThatDoNotCode)
{
    constexpr std::uint32_t WIDTH = 128, HEIGHT = 64;
    struct Case {
        const char* name;
        std::uint32_t noise_rows;  // from the top; flat below
        std::uint8_t type;
    };
    const Case cases[] = {
        {"all noise", HEIGHT, PLV_RAW},
        {"noise in the top eighth", HEIGHT / 8, PLV_KEY},
        {"noise in the top half", HEIGHT / 2, PLV_KEY},
        {"noise but the last rows", HEIGHT - 6, PLV_RAW},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::mt19937 random(11);
        std::vector<std::uint16_t> values(WIDTH * HEIGHT, 0x1234);
        for (std::size_t i = 0; i < WIDTH * c.noise_rows; ++i) values[i] = static_cast<std::uint16_t>(random());
        PlvEncoder encoder;
        ASSERT_TRUE(plv_start(encoder, {WIDTH, HEIGHT, PlvProfile::stream, 8 * WIDTH, 30, 30, 1}, 1));
        const Bytes words = words_of(values);
        const PlvRecord record = plv_frame_record(encoder, words.data(), 0);
        EXPECT_EQ(record.header[0], c.type) << record.payload_size << " bytes";
    }
}

// The CRC every build computes where the kernel table has no loop of its own.
TEST(PlvWriter, TableCrcMatchesTheDefinition)
{
    Bytes data(1000);
    std::mt19937 random(3);
    for (std::uint8_t& byte : data) byte = static_cast<std::uint8_t>(random());
    for (std::size_t size : {0, 1, 3, 63, 64, 65, 999}) {
        EXPECT_EQ(~run_crc_table(~0u, data.data(), size), reference_crc(data.data(), size)) << size;
        EXPECT_EQ(plv_crc(data.data(), size), reference_crc(data.data(), size)) << size;
    }
}

}  // namespace
