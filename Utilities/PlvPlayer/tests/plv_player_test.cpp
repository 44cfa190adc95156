// SPDX-License-Identifier: MIT
// Tests of the PLV player: the format's worked example byte for byte, both
// outputs and every way of handing over bytes against pictures painted
// pixel by pixel, a row per corrupt-file rule, every cut, seeking, looping
// and CRC checking switched off.
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <memory>
#include <random>
#include <string>

#include "plv_check.h"
#include "plv_file.h"
#include "plv_player.h"

using namespace plv_test;

namespace {

constexpr std::uint16_t A = 0xF800, B = 0x001F;

// Hands the file over in chunks whose sizes follow the pattern, each chunk
// in a buffer of its own so that a read past it is caught.
struct Stream {
    const Bytes* file;
    std::vector<std::size_t> pattern;
    std::size_t pos = 0, turn = 0;
    std::unique_ptr<std::uint8_t[]> chunk;
    int seeks = 0;
};

std::size_t read_stream(void* user, const std::uint8_t** bytes)
{
    auto& s = *static_cast<Stream*>(user);
    if (s.pos >= s.file->size()) return 0;
    const std::size_t n = std::min(s.pattern[s.turn++ % s.pattern.size()], s.file->size() - s.pos);
    s.chunk.reset(new std::uint8_t[n]);
    std::memcpy(s.chunk.get(), s.file->data() + s.pos, n);
    s.pos += n;
    *bytes = s.chunk.get();
    return n;
}

int seek_stream(void* user, std::uint64_t offset)
{
    auto& s = *static_cast<Stream*>(user);
    ++s.seeks;
    if (offset > s.file->size()) return 1;
    s.pos = static_cast<std::size_t>(offset);
    return 0;
}

// A panel: the spans painted, each checked to lie in one row.
struct Panel {
    std::uint32_t width = 0, height = 0;
    Bytes picture;
    std::size_t spans = 0, painted = 0;
    bool outside = false;
};

void paint(void* user, std::uint32_t x, std::uint32_t y, const std::uint8_t* words, std::uint32_t count)
{
    auto& panel = *static_cast<Panel*>(user);
    ++panel.spans;
    panel.painted += count;
    if (count == 0 || y >= panel.height || x >= panel.width || count > panel.width - x) {
        panel.outside = true;
        return;
    }
    std::memcpy(&panel.picture[2 * (y * panel.width + x)], words, 2 * count);
}

enum class Output { frame_buffer, ring };

struct Options {
    Output output = Output::frame_buffer;
    std::vector<std::size_t> chunks;  // empty: the file from memory
    std::size_t ring_words = 0;       // 0: the header's window (at least 1)
    bool crc = true;
    bool seekable = true;
};

struct Play {
    Bytes file;
    Stream stream;
    plv_player player;
    Panel panel;
    Bytes frame;
    std::unique_ptr<std::uint8_t[]> ring;
    int opened;
    int output_set = PLV_ERR_ARGUMENT;

    Play(Bytes bytes, const Options& setup) : file(std::move(bytes)), stream {&file, setup.chunks, 0, 0, nullptr, 0}
    {
        if (setup.chunks.empty()) {
            opened = plv_open_memory(&player, file.data(), file.size());
        } else {
            opened =
                plv_open_stream(&player, read_stream, setup.seekable ? seek_stream : nullptr, &stream, file.size());
        }
        if (opened != PLV_OK) return;
        plv_check_crcs(&player, setup.crc);
        panel.width = player.info.width;
        panel.height = player.info.height;
        panel.picture.assign(2 * panel.width * panel.height, 0);
        if (setup.output == Output::frame_buffer) {
            frame.assign(2 * panel.width * panel.height, 0);
            output_set = plv_set_frame_buffer(&player, frame.data(), frame.size(), paint, &panel);
        } else {
            const std::size_t words =
                setup.ring_words != 0 ? setup.ring_words : std::max<std::size_t>(player.info.window, 1);
            ring.reset(new std::uint8_t[2 * words]);
            output_set = plv_set_ring(&player, ring.get(), 2 * words, paint, &panel);
        }
    }

    // The picture after the last frame: the frame buffer, else the panel.
    Bytes picture() const { return frame.empty() ? panel.picture : frame; }

    // Plays to the end: the pictures, and the status that ended play.
    std::vector<Bytes> all(int* end)
    {
        std::vector<Bytes> out;
        int status;
        while ((status = plv_next_frame(&player)) == PLV_FRAME) {
            out.push_back(picture());
            EXPECT_FALSE(panel.outside);
            if (!frame.empty()) {
                EXPECT_EQ(panel.picture, frame) << "spans differ from the frame buffer";
            }
        }
        *end = status;
        return out;
    }
};

// The format document's example, as it lists the bytes (the CRCs computed).
Bytes worked_example()
{
    Bytes f(60, 0);
    const std::uint8_t header[] = {0x89, 0x50, 0x4C, 0x56, 0x0D, 0x0A, 0x1A, 0x0A, 0x01, 0x00, 0x40,
                                   0x00, 0x04, 0x00, 0x01, 0x00, 0x00, 0x08, 0x00, 0x00, 0x00, 0x00,
                                   0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x1E, 0x00, 0x00, 0x00, 0x01,
                                   0x00, 0x00, 0x00, 0x08, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00};
    std::memcpy(f.data(), header, sizeof header);
    put32(f, plv_crc32(0, f.data(), 60));
    const Bytes frame1 = {0x02, 0x80, 0xF8, 0x00, 0x00, 0x40, 0x00, 0x1F};
    const Bytes frame2 = {0x03, 0x00};
    const Bytes index = {64, 0, 0, 0, 0, 0, 0, 0, 8, 0, 0, 0, 1, 3, 0, 0,
                         84, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 2, 3, 0, 0};
    auto record = [&f](std::uint8_t type, std::uint8_t format, const Bytes& payload) {
        f.insert(f.end(), {type, format, 0, 0});
        put32(f, static_cast<std::uint32_t>(payload.size()));
        put32(f, plv_crc32(0, payload.data(), payload.size()));
        f.insert(f.end(), payload.begin(), payload.end());
        while (f.size() % 4 != 0) f.push_back(0);
    };
    record(1, 3, frame1);
    record(2, 3, frame2);
    record(0x81, 0, index);
    f.insert(f.end(), {100, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 0x50, 0x4C, 0x56, 0x54});
    return f;
}

Video worked_video()
{
    Video v;
    v.width = 4;
    v.height = 1;
    v.records = {{PLV_KEY, PLV_RGB565BE, repeat(3, A) + literal({B})}, {PLV_DELTA, PLV_RGB565BE, skip(4)}};
    return v;
}

Bytes pixels(const std::vector<std::uint16_t>& words)
{
    Bytes b;
    for (auto w : words) put_pixel(b, w);
    return b;
}

TEST(Crc, CommonCheckValue)
{
    const std::string text = "123456789";
    EXPECT_EQ(plv_crc32(0, reinterpret_cast<const std::uint8_t*>(text.data()), text.size()), 0xCBF43926u);
    // In two parts, as a stream computes it.
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    EXPECT_EQ(plv_crc32(plv_crc32(0, bytes, 4), bytes + 4, 5), 0xCBF43926u);
}

TEST(WorkedExample, BytesAndPictures)
{
    const Bytes file = worked_example();
    ASSERT_EQ(file.size(), 160u);
    EXPECT_EQ(build(worked_video()), file) << "the test's file builder";
    for (Output output : {Output::frame_buffer, Output::ring}) {
        SCOPED_TRACE(output == Output::ring ? "ring" : "frame buffer");
        Options setup;
        setup.output = output;
        Play play(file, setup);
        ASSERT_EQ(play.opened, PLV_OK);
        ASSERT_EQ(play.output_set, PLV_OK);
        const plv_info& info = play.player.info;
        EXPECT_EQ(info.width, 4u);
        EXPECT_EQ(info.height, 1u);
        EXPECT_EQ(info.formats, 1u << PLV_RGB565BE);
        EXPECT_EQ(info.frame_count, 2u);
        EXPECT_EQ(info.rate_numerator, 30u);
        EXPECT_EQ(info.rate_denominator, 1u);
        EXPECT_EQ(info.largest_payload, 8u);
        EXPECT_EQ(info.key_interval, 2u);
        EXPECT_EQ(play.player.index_trusted, 1);
        ASSERT_EQ(plv_next_frame(&play.player), PLV_FRAME);
        EXPECT_EQ(play.picture(), pixels({A, A, A, B}));
        EXPECT_EQ(play.panel.painted, 4u);
        ASSERT_EQ(plv_next_frame(&play.player), PLV_FRAME);
        EXPECT_EQ(play.picture(), pixels({A, A, A, B}));
        EXPECT_EQ(play.panel.painted, 4u) << "a skipped pixel is painted";
        EXPECT_EQ(plv_next_frame(&play.player), PLV_END);
    }
}

// Random valid videos: codes of every kind and count, copies that reach
// back no further than the window and, in profile 0, never to a pixel
// skipped in the same frame.
Video random_video(unsigned seed, std::uint32_t width, std::uint32_t height, std::uint32_t window, std::uint8_t profile,
                   int frames, int key_every)
{
    std::mt19937 rng(seed);
    Video v;
    v.width = width;
    v.height = height;
    v.window = window;
    v.profile = profile;
    const std::uint32_t pixels = width * height;
    std::uniform_int_distribution<int> coin(0, 99);
    auto below = [&rng](std::uint32_t n) { return std::uniform_int_distribution<std::uint32_t>(0, n - 1)(rng); };
    // Few colours, so that copies and repeats are worth it.
    auto colour = [&] { return static_cast<std::uint16_t>(below(4) * 0x1111 + 0x0102); };
    for (int f = 0; f < frames; ++f) {
        Record r;
        r.format = PLV_RGB565LE;
        if (coin(rng) < 10) {
            r.type = PLV_RAW;
            for (std::uint32_t i = 0; i < pixels; ++i) put_pixel(r.payload, colour());
            v.records.push_back(r);
            continue;
        }
        r.type = f % key_every == 0 ? PLV_KEY : PLV_DELTA;
        std::vector<bool> skipped(pixels, false);
        std::uint32_t pos = 0;
        while (pos < pixels) {
            const std::uint32_t most = std::min<std::uint32_t>(pixels - pos, 16384);
            std::uint32_t n = 1 + below(coin(rng) < 5 ? most : std::min<std::uint32_t>(most, 40));
            const int pick = coin(rng);
            const std::uint32_t reach = std::min(window, pos);
            if (pick < 25 && r.type == PLV_DELTA) {
                r.payload = r.payload + skip(n);
                for (std::uint32_t i = 0; i < n; ++i) skipped[pos + i] = true;
            } else if (pick < 50 && reach > 0) {
                const std::uint32_t d = 1 + below(reach);
                std::uint32_t clean = 0;
                while (clean < std::min(n, d) && !(profile == 0 && skipped[pos - d + clean])) ++clean;
                if (clean == 0) {
                    r.payload = r.payload + repeat(n, colour());
                } else {
                    n = clean < d ? clean : n;
                    r.payload = r.payload + copy(n, d);
                }
            } else if (pick < 75) {
                r.payload = r.payload + repeat(n, colour());
            } else {
                std::vector<std::uint16_t> words(std::min<std::uint32_t>(n, 64));
                for (auto& w : words) w = colour();
                n = static_cast<std::uint32_t>(words.size());
                r.payload = r.payload + literal(words);
            }
            pos += n;
        }
        v.records.push_back(r);
        if (coin(rng) < 10) v.records.push_back({0x90, 0, Bytes(below(9), 0x5A)});  // not a frame: passed over
    }
    return v;
}

struct RandomRow {
    const char* name;
    unsigned seed;
    std::uint32_t width, height, window;
    std::uint8_t profile;
    int frames, key_every;
};

const RandomRow random_rows[] = {
    {"one pixel", 1, 1, 1, 0, 0, 6, 3},
    {"one column", 2, 1, 37, 3, 0, 12, 4},
    {"one row", 3, 97, 1, 50, 0, 12, 5},
    {"window one row", 4, 24, 16, 24, 0, 20, 7},
    {"window below a row", 5, 33, 9, 7, 0, 20, 4},
    {"window eight rows", 6, 40, 30, 320, 0, 16, 30},
    {"longest codes", 7, 300, 120, 2400, 0, 4, 2},
    {"profile 1 copies skipped pixels", 8, 19, 13, 65535, 1, 16, 5},
};

class RandomVideo : public ::testing::TestWithParam<RandomRow> {};

TEST_P(RandomVideo, EveryOutputAndChunkingPaintsThePictures)
{
    const RandomRow& row = GetParam();
    const Video v = random_video(row.seed, row.width, row.height, row.window, row.profile, row.frames, row.key_every);
    const Bytes file = build(v);
    const std::vector<Bytes> expected = pictures(v);
    const std::vector<std::vector<std::size_t>> chunkings = {{}, {1}, {2}, {3, 1, 7}, {512}, {5, 64, 13, 1000}};
    for (const auto& chunks : chunkings) {
        for (Output output : {Output::frame_buffer, Output::ring}) {
            const std::vector<std::size_t> rings =
                output == Output::ring
                    ? std::vector<std::size_t> {0, row.window + 1, 3 * row.window + 5, row.width * row.height}
                    : std::vector<std::size_t> {0};
            for (std::size_t ring_words : rings) {
                SCOPED_TRACE(testing::Message() << (output == Output::ring ? "ring " : "frame buffer ") << ring_words
                                                << ", chunks " << (chunks.empty() ? 0 : chunks[0]));
                Options setup;
                setup.output = output;
                setup.chunks = chunks;
                setup.ring_words = ring_words;
                Play play(file, setup);
                ASSERT_EQ(play.opened, PLV_OK);
                if (output == Output::ring && row.profile == 1) {
                    EXPECT_EQ(play.output_set, PLV_ERR_ARGUMENT) << "a ring for a profile 1 file";
                    continue;
                }
                ASSERT_EQ(play.output_set, PLV_OK);
                int end = 0;
                const std::vector<Bytes> got = play.all(&end);
                EXPECT_EQ(end, PLV_END);
                ASSERT_EQ(got.size(), expected.size());
                for (std::size_t f = 0; f < got.size(); ++f) ASSERT_EQ(got[f], expected[f]) << "frame " << f;
            }
        }
    }
    // The checking reader finds the file sound, and its facts.
    Bytes frame(2 * row.width * row.height), map((row.width * row.height + 7) / 8);
    plv_report report;
    EXPECT_EQ(plv_check_memory(file.data(), file.size(), frame.data(), frame.size(), map.data(), map.size(), &report),
              PLV_OK)
        << "fault " << report.fault << " at frame " << report.frame;
    EXPECT_TRUE(report.finished);
    EXPECT_EQ(report.frames, static_cast<std::uint32_t>(row.frames));
}

INSTANTIATE_TEST_SUITE_P(Rows, RandomVideo, ::testing::ValuesIn(random_rows), [](const auto& info) {
    std::string name = info.param.name;
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return name;
});

}  // namespace
