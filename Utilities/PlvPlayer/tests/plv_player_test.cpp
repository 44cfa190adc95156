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

// Test names and messages show a row by its name.
void PrintTo(const RandomRow& row, std::ostream* out)
{
    *out << row.name;
}

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

// What the player and the checking reader make of a file.
struct Verdict {
    int open = PLV_OK;
    int play = PLV_END;  // the status that ended play in a frame buffer
    int check = PLV_OK;
    int fault = PLV_FAULT_NONE;
    bool finished = true;
};

Verdict judge(const Bytes& file)
{
    Verdict v;
    Play play(file, Options {});
    v.open = play.opened;
    if (v.open == PLV_OK) play.all(&v.play);
    plv_report report;
    // Sized by the header when it opens; the check refuses the rest first.
    const plv_info& info = play.player.info;
    Bytes frame(v.open == PLV_OK ? plv_check_frame_bytes(&info) : 0);
    Bytes map(v.open == PLV_OK ? plv_check_map_bytes(&info) : 0);
    v.check = plv_check_memory(file.data(), file.size(), frame.data(), frame.size(), map.data(), map.size(), &report);
    v.fault = report.fault;
    v.finished = report.finished != 0;
    return v;
}

Video key_only(const Bytes& payload, std::uint32_t window = 4)
{
    Video v;
    v.window = window;
    v.records = {{PLV_KEY, PLV_RGB565BE, payload}};
    return v;
}

Video key_then_delta(const Bytes& delta, std::uint8_t profile = 0, std::uint8_t delta_format = PLV_RGB565BE)
{
    Video v;
    v.window = 4;
    v.profile = profile;
    v.records = {{PLV_KEY, PLV_RGB565BE, repeat(3, A) + literal({B})}, {PLV_DELTA, delta_format, delta}};
    return v;
}

// Byte offsets in the worked example's file.
constexpr std::size_t FRAME1 = 64, FRAME2 = 84, INDEX = 100, TRAILER = 144;

struct CorruptRow {
    const char* name;
    Bytes (*make)();
    Verdict expected;
};

Bytes with_byte(std::size_t at, std::uint8_t value, bool header = false)
{
    Bytes f = worked_example();
    f[at] = value;
    if (header) rehash_header(f);
    return f;
}

const CorruptRow corrupt_rows[] = {
    // Frames: each rule of the format's corrupt list.
    {"code runs past the last pixel",
     [] { return build(key_only(repeat(5, A))); },
     {PLV_OK, PLV_ERR_CORRUPT, PLV_ERR_CORRUPT, PLV_FAULT_PAST_END, false}},
    {"payload ends inside a code's operand",
     [] {
         return build(key_only(repeat(3, A) + Bytes {0x00, 0x80}));
     },
     {PLV_OK, PLV_ERR_CORRUPT, PLV_ERR_CORRUPT, PLV_FAULT_SHORT, false}},
    {"payload ends inside a code word",
     [] { return build(key_only(repeat(3, A) + Bytes {0x00})); },
     {PLV_OK, PLV_ERR_CORRUPT, PLV_ERR_CORRUPT, PLV_FAULT_SHORT, false}},
    {"payload ends inside a literal",
     [] {
         return build(key_only(repeat(2, A) + Bytes {0x01, 0x40, 0xF8, 0x00}));
     },
     {PLV_OK, PLV_ERR_CORRUPT, PLV_ERR_CORRUPT, PLV_FAULT_SHORT, false}},
    {"payload ends before the last pixel",
     [] { return build(key_only(repeat(3, A))); },
     {PLV_OK, PLV_ERR_CORRUPT, PLV_ERR_CORRUPT, PLV_FAULT_SHORT, false}},
    {"payload goes on after the last pixel",
     [] {
         return build(key_only(repeat(4, A) + Bytes {0, 0}));
     },
     {PLV_OK, PLV_ERR_CORRUPT, PLV_ERR_CORRUPT, PLV_FAULT_LONG, false}},
    {"key frame uses SKIP",
     [] { return build(key_only(repeat(2, A) + skip(2))); },
     {PLV_OK, PLV_ERR_CORRUPT, PLV_ERR_CORRUPT, PLV_FAULT_KEY_SKIP, false}},
    {"raw frame uses no codes, so a SKIP is a word",
     [] {
         Video v;
         v.records = {{PLV_RAW, PLV_RGB565BE, skip(4) + skip(4) + skip(4) + skip(4)}};
         return build(v);
     },
     {}},
    {"delta frame with no frame before it",
     [] {
         Video v;
         v.records = {{PLV_DELTA, PLV_RGB565BE, skip(4)}};
         return build(v);
     },
     {PLV_OK, PLV_ERR_CORRUPT, PLV_ERR_CORRUPT, PLV_FAULT_NO_PREVIOUS, false}},
    {"delta frame in another word format",
     [] { return build(key_then_delta(skip(4), 0, PLV_RGB565LE)); },
     {PLV_OK, PLV_ERR_CORRUPT, PLV_ERR_CORRUPT, PLV_FAULT_NO_PREVIOUS, false}},
    {"delta frame after a non-frame record",
     [] {
         Video v = key_then_delta(skip(4));
         v.records.insert(v.records.begin() + 1, Record {0x90, 0, Bytes {1, 2, 3}});
         return build(v);
     },
     {}},
    {"COPY with D = 0",
     [] { return build(key_only(repeat(1, A) + copy(3, 0))); },
     {PLV_OK, PLV_ERR_CORRUPT, PLV_ERR_CORRUPT, PLV_FAULT_DISTANCE_ZERO, false}},
    {"COPY with D over the window",
     [] { return build(key_only(repeat(2, A) + copy(2, 2), 1)); },
     {PLV_OK, PLV_ERR_CORRUPT, PLV_ERR_CORRUPT, PLV_FAULT_DISTANCE_WINDOW, false}},
    {"COPY with D at the window", [] { return build(key_only(repeat(2, A) + copy(2, 2), 2)); }, {}},
    {"COPY reaching before the first pixel",
     [] { return build(key_only(repeat(1, A) + copy(3, 2))); },
     {PLV_OK, PLV_ERR_CORRUPT, PLV_ERR_CORRUPT, PLV_FAULT_DISTANCE_BEFORE, false}},
    {"COPY from the first pixel", [] { return build(key_only(repeat(1, A) + copy(3, 1))); }, {}},
    {"profile 0: COPY reads a pixel this frame skipped",
     [] { return build(key_then_delta(skip(2) + copy(2, 2))); },
     {PLV_OK, PLV_END, PLV_ERR_CORRUPT, PLV_FAULT_SKIPPED_READ, false}},
    {"profile 0: COPY reads past a skipped pixel",
     [] { return build(key_then_delta(skip(1) + repeat(1, B) + copy(2, 1))); },
     {}},
    {"profile 1: COPY reads a pixel this frame skipped",
     [] { return build(key_then_delta(skip(2) + copy(2, 2), 1)); },
     {}},
    {"raw frame short",
     [] {
         Video v;
         v.records = {{PLV_RAW, PLV_RGB565BE, Bytes(6, 1)}};
         return build(v);
     },
     {PLV_OK, PLV_ERR_CORRUPT, PLV_ERR_CORRUPT, PLV_FAULT_RAW_SIZE, false}},
    {"raw frame long",
     [] {
         Video v;
         v.records = {{PLV_RAW, PLV_RGB565BE, Bytes(10, 1)}};
         return build(v);
     },
     {PLV_OK, PLV_ERR_CORRUPT, PLV_ERR_CORRUPT, PLV_FAULT_RAW_SIZE, false}},
    {"word format 8",
     [] { return with_byte(FRAME1 + 1, 8); },
     {PLV_OK, PLV_ERR_CORRUPT, PLV_ERR_CORRUPT, PLV_FAULT_FORMAT, false}},
    {"reserved frame type 3",
     [] { return with_byte(FRAME2, 3); },
     {PLV_OK, PLV_ERR_FRAME_TYPE, PLV_ERR_FRAME_TYPE, PLV_FAULT_NONE, false}},
    {"reserved frame type 0x7F",
     [] { return with_byte(FRAME1, 0x7F); },
     {PLV_OK, PLV_ERR_FRAME_TYPE, PLV_ERR_FRAME_TYPE, PLV_FAULT_NONE, false}},
    {"frame CRC wrong",
     [] { return with_byte(FRAME2 + 8, 0); },
     {PLV_OK, PLV_ERR_CRC, PLV_ERR_CRC, PLV_FAULT_NONE, false}},
    {"frame payload changed under its CRC",
     [] { return with_byte(FRAME1 + 12 + 2, 0xF0); },
     {PLV_OK, PLV_ERR_CRC, PLV_ERR_CRC, PLV_FAULT_NONE, false}},
    // Reserved bytes and padding: played, refused by the check.
    {"record reserved byte",
     [] { return with_byte(FRAME1 + 2, 1); },
     {PLV_OK, PLV_END, PLV_ERR_CORRUPT, PLV_FAULT_RESERVED, false}},
    {"padding not zero",
     [] { return with_byte(FRAME2 + 12 + 3, 1); },
     {PLV_OK, PLV_END, PLV_ERR_CORRUPT, PLV_FAULT_RESERVED, false}},
    {"header reserved byte 18",
     [] { return with_byte(18, 1, true); },
     {PLV_OK, PLV_END, PLV_ERR_CORRUPT, PLV_FAULT_HEADER, false}},
    {"header reserved byte 59",
     [] { return with_byte(59, 1, true); },
     {PLV_OK, PLV_END, PLV_ERR_CORRUPT, PLV_FAULT_HEADER, false}},
    {"non-frame record passed over",
     [] {
         Video v = worked_video();
         v.records.insert(v.records.begin() + 1, Record {0xFF, 0, Bytes {1, 2, 3, 4, 5}});
         return build(v);
     },
     {}},
    {"non-frame record with a CRC wrong",
     [] {
         Video v = worked_video();
         v.records.insert(v.records.begin() + 1, Record {0x80, 0, Bytes {1, 2, 3}});
         Bytes f = build(v);
         f[FRAME2 + 8] ^= 1;
         return f;
     },
     {PLV_OK, PLV_END, PLV_ERR_CRC, PLV_FAULT_NONE, false}},
    {"non-frame record with a word format",
     [] {
         Video v = worked_video();
         v.records.push_back(Record {0x80, 2, Bytes {1, 2, 3}});
         return build(v);
     },
     {PLV_OK, PLV_END, PLV_ERR_CORRUPT, PLV_FAULT_FORMAT, false}},
    // The index, the trailer and the filled-in header.
    {"index entry's offset wrong",
     [] {
         Bytes f = with_byte(INDEX + 12 + 16, 88);
         rehash_record(f, INDEX);
         return f;
     },
     {PLV_OK, PLV_END, PLV_ERR_CORRUPT, PLV_FAULT_INDEX, false}},
    {"index entry's type wrong",
     [] {
         Bytes f = with_byte(INDEX + 12 + 12, PLV_RAW);
         rehash_record(f, INDEX);
         return f;
     },
     {PLV_OK, PLV_END, PLV_ERR_CORRUPT, PLV_FAULT_INDEX, false}},
    {"index entry's reserved byte",
     [] {
         Bytes f = with_byte(INDEX + 12 + 15, 1);
         rehash_record(f, INDEX);
         return f;
     },
     {PLV_OK, PLV_END, PLV_ERR_CORRUPT, PLV_FAULT_INDEX, false}},
    {"index CRC wrong",
     [] { return with_byte(INDEX + 8, 0); },
     {PLV_OK, PLV_END, PLV_ERR_CORRUPT, PLV_FAULT_INDEX, false}},
    {"trailer's offset wrong",
     [] { return with_byte(TRAILER, 84); },
     {PLV_OK, PLV_END, PLV_ERR_CORRUPT, PLV_FAULT_INDEX, false}},
    {"trailer's frame count wrong",
     [] { return with_byte(TRAILER + 8, 3); },
     {PLV_OK, PLV_END, PLV_ERR_CORRUPT, PLV_FAULT_INDEX, false}},
    {"trailer's tag wrong",
     [] { return with_byte(TRAILER + 15, 0x55); },
     {PLV_OK, PLV_END, PLV_ERR_CORRUPT, PLV_FAULT_INDEX, false}},
    {"bytes after the trailer",
     [] {
         Bytes f = worked_example();
         f.insert(f.end(), 4, 0);
         return f;
     },
     {PLV_OK, PLV_END, PLV_ERR_CORRUPT, PLV_FAULT_INDEX, false}},
    {"header's frame count wrong",
     [] { return with_byte(24, 3, true); },
     {PLV_OK, PLV_END, PLV_ERR_CORRUPT, PLV_FAULT_INDEX, false}},
    {"header's largest payload wrong",
     [] { return with_byte(36, 9, true); },
     {PLV_OK, PLV_END, PLV_ERR_CORRUPT, PLV_FAULT_FILLED_FIELD, true}},
    {"header's key interval wrong",
     [] { return with_byte(40, 1, true); },
     {PLV_OK, PLV_END, PLV_ERR_CORRUPT, PLV_FAULT_FILLED_FIELD, true}},
    {"header's word formats wrong",
     [] { return with_byte(17, 0x0C, true); },
     {PLV_OK, PLV_END, PLV_ERR_CORRUPT, PLV_FAULT_FILLED_FIELD, true}},
    {"header's fields left 0 (a pipe)",
     [] {
         Video v = worked_video();
         v.fill_header = false;
         return build(v);
     },
     {}},
    {"finished file with no frames", [] { return build(Video {}); }, {}},
    {"file with no frames and no index",
     [] {
         Video v;
         v.finished = false;
         return build(v);
     },
     {PLV_OK, PLV_END, PLV_OK, PLV_FAULT_NONE, false}},
    // The header.
    {"magic wrong", [] { return with_byte(3, 'W'); }, {PLV_ERR_NOT_PLV, PLV_END, PLV_ERR_NOT_PLV, 0, false}},
    {"version 2", [] { return with_byte(8, 2, true); }, {PLV_ERR_VERSION, PLV_END, PLV_ERR_VERSION, 0, false}},
    {"profile 2", [] { return with_byte(16, 2, true); }, {PLV_ERR_VERSION, PLV_END, PLV_ERR_VERSION, 0, false}},
    {"header CRC wrong", [] { return with_byte(60, 0); }, {PLV_ERR_CRC, PLV_END, PLV_ERR_CRC, 0, false}},
    {"width 0",
     [] { return with_byte(12, 0, true); },
     {PLV_ERR_CORRUPT, PLV_END, PLV_ERR_CORRUPT, PLV_FAULT_HEADER, false}},
    {"height 0",
     [] { return with_byte(14, 0, true); },
     {PLV_ERR_CORRUPT, PLV_END, PLV_ERR_CORRUPT, PLV_FAULT_HEADER, false}},
    {"width x height over 16,777,216",
     [] {
         Bytes f = worked_example();
         f[12] = 0x01, f[13] = 0x10, f[14] = 0x00, f[15] = 0x10;  // 4097 x 4096
         rehash_header(f);
         return f;
     },
     {PLV_ERR_CORRUPT, PLV_END, PLV_ERR_CORRUPT, PLV_FAULT_HEADER, false}},
    {"header size 66",
     [] { return with_byte(10, 66, true); },
     {PLV_ERR_CORRUPT, PLV_END, PLV_ERR_CORRUPT, PLV_FAULT_HEADER, false}},
    {"header size 60",
     [] { return with_byte(10, 60, true); },
     {PLV_ERR_CORRUPT, PLV_END, PLV_ERR_CORRUPT, PLV_FAULT_HEADER, false}},
    {"header size 72, its extra bytes passed over",
     [] {
         Video v = worked_video();
         v.header_size = 72;
         return build(v);
     },
     {}},
    {"window 65,536",
     [] { return with_byte(22, 1, true); },
     {PLV_ERR_CORRUPT, PLV_END, PLV_ERR_CORRUPT, PLV_FAULT_HEADER, false}},
    {"rate numerator 0",
     [] { return with_byte(28, 0, true); },
     {PLV_ERR_CORRUPT, PLV_END, PLV_ERR_CORRUPT, PLV_FAULT_HEADER, false}},
    {"rate denominator 0",
     [] { return with_byte(32, 0, true); },
     {PLV_ERR_CORRUPT, PLV_END, PLV_ERR_CORRUPT, PLV_FAULT_HEADER, false}},
};

// Test names and messages show a row by its name.
void PrintTo(const CorruptRow& row, std::ostream* out)
{
    *out << row.name;
}

class Corrupt : public ::testing::TestWithParam<CorruptRow> {};

TEST_P(Corrupt, PlayerAndCheckSayWhatIsWrong)
{
    const Verdict expected = GetParam().expected;
    const Bytes file = GetParam().make();
    const Verdict got = judge(file);
    EXPECT_EQ(got.open, expected.open);
    if (expected.open == PLV_OK) {
        EXPECT_EQ(got.play, expected.play);
    }
    EXPECT_EQ(got.check, expected.check);
    EXPECT_EQ(got.fault, expected.fault);
    EXPECT_EQ(got.finished, expected.finished);
}

std::string row_name(const char* text)
{
    std::string name = text;
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return name;
}

INSTANTIATE_TEST_SUITE_P(Rows, Corrupt, ::testing::ValuesIn(corrupt_rows),
                         [](const auto& info) { return row_name(info.param.name); });

// A small file with a raw, a key, a delta with copies and a non-frame
// record, cut after every byte: play stops cleanly at the cut, having
// painted every whole frame before it, and the check calls it cut short.
TEST(Truncation, EveryCutStopsCleanly)
{
    Video v;
    v.width = 3;
    v.height = 2;
    v.window = 3;
    v.records = {{PLV_RAW, PLV_BGR565LE, pixels({A, B, A, B, A, B})},
                 {PLV_KEY, PLV_BGR565LE, repeat(2, A) + literal({B, 0x1234}) + copy(2, 3)},
                 {0x90, 0, Bytes {9, 9, 9, 9, 9}},
                 {PLV_DELTA, PLV_BGR565LE, skip(1) + repeat(2, B) + copy(3, 2)}};
    std::vector<std::size_t> offsets;
    const Bytes whole = build(v, &offsets);
    const std::vector<Bytes> expected = pictures(v);
    // A frame whose payload is whole plays, its padding cut off or not.
    std::vector<std::size_t> frame_ends;
    for (std::size_t r = 0; r < v.records.size(); ++r)
        if (v.records[r].type < 0x80) frame_ends.push_back(offsets[r] + 12 + v.records[r].payload.size());
    for (std::size_t size = 0; size < whole.size(); ++size) {
        const Bytes cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(size));
        std::size_t whole_frames = 0;
        for (std::size_t end : frame_ends) whole_frames += size >= end;
        for (const auto& chunks : {std::vector<std::size_t> {}, std::vector<std::size_t> {1}}) {
            for (Output output : {Output::frame_buffer, Output::ring}) {
                SCOPED_TRACE(testing::Message() << "cut at " << size << (chunks.empty() ? " memory" : " stream")
                                                << (output == Output::ring ? " ring" : " frame buffer"));
                Options options;
                options.chunks = chunks;
                options.output = output;
                Play play(cut, options);
                if (size < HEADER) {
                    EXPECT_EQ(play.opened, PLV_ERR_CUT);
                    continue;
                }
                ASSERT_EQ(play.opened, PLV_OK);
                int end = 0;
                const std::vector<Bytes> got = play.all(&end);
                EXPECT_TRUE(end == PLV_END || end == PLV_ERR_CUT) << end;
                ASSERT_EQ(got.size(), whole_frames);
                for (std::size_t f = 0; f < got.size(); ++f) EXPECT_EQ(got[f], expected[f]);
                EXPECT_EQ(plv_next_frame(&play.player), end) << "play stays stopped";
            }
        }
        Bytes frame(12), map(1);
        plv_report report;
        const int status = plv_check_memory(cut.data(), cut.size(), frame.data(), frame.size(), map.data(), 1, &report);
        if (size < HEADER) {
            EXPECT_EQ(status, PLV_ERR_CUT);
        } else {
            EXPECT_EQ(status, PLV_OK) << "cut at " << size << ": fault " << report.fault;
            EXPECT_TRUE(report.cut_short);
            EXPECT_EQ(report.frames, whole_frames);
        }
    }
}

struct SeekRow {
    const char* name;
    Output output;
    std::vector<std::size_t> chunks;
};

const SeekRow seek_rows[] = {
    {"frame buffer from memory", Output::frame_buffer, {}},
    {"ring from memory", Output::ring, {}},
    {"frame buffer from a stream", Output::frame_buffer, {7}},
    {"ring from a stream", Output::ring, {1, 100}},
};

// Test names and messages show a row by its name.
void PrintTo(const SeekRow& row, std::ostream* out)
{
    *out << row.name;
}

class Seek : public ::testing::TestWithParam<SeekRow> {};

TEST_P(Seek, EveryFrameThroughTheIndexAndLoops)
{
    const Video v = random_video(11, 21, 7, 21, 0, 13, 4);
    const Bytes file = build(v);
    const std::vector<Bytes> expected = pictures(v);
    Options options;
    options.output = GetParam().output;
    options.chunks = GetParam().chunks;
    for (std::uint32_t target = 0; target < expected.size(); ++target) {
        Play play(file, options);
        ASSERT_EQ(play.opened, PLV_OK);
        ASSERT_EQ(play.output_set, PLV_OK);
        ASSERT_EQ(play.player.info.frame_count, expected.size());
        ASSERT_EQ(plv_seek_frame(&play.player, target), PLV_OK) << target;
        for (std::uint32_t f = target; f < expected.size(); ++f) {
            ASSERT_EQ(plv_next_frame(&play.player), PLV_FRAME);
            EXPECT_EQ(play.picture(), expected[f]) << "seek to " << target << ", frame " << f;
        }
        EXPECT_EQ(plv_next_frame(&play.player), PLV_END);
        // Looping: back to the first frame, twice.
        for (int loop = 0; loop < 2; ++loop) {
            ASSERT_EQ(plv_rewind(&play.player), PLV_OK);
            int end = 0;
            EXPECT_EQ(play.all(&end), expected);
            EXPECT_EQ(end, PLV_END);
        }
    }
    Play play(file, options);
    EXPECT_EQ(plv_seek_frame(&play.player, static_cast<std::uint32_t>(expected.size())), PLV_ERR_ARGUMENT);
}

INSTANTIATE_TEST_SUITE_P(Rows, Seek, ::testing::ValuesIn(seek_rows),
                         [](const auto& info) { return row_name(info.param.name); });

TEST(Seek, NeedsATrustedIndexAndASeekableSource)
{
    Video unfinished = worked_video();
    unfinished.finished = false;
    Play walk(build(unfinished), Options {});
    EXPECT_EQ(walk.player.info.frame_count, 0u) << "the header's count, left 0 while unknown";
    EXPECT_EQ(plv_seek_frame(&walk.player, 0), PLV_ERR_ARGUMENT);
    EXPECT_EQ(plv_rewind(&walk.player), PLV_OK) << "looping needs no index";

    Options pipe;
    pipe.chunks = {5};
    pipe.seekable = false;
    Play stream(worked_example(), pipe);
    ASSERT_EQ(stream.opened, PLV_OK);
    EXPECT_EQ(stream.player.index_trusted, 0);
    EXPECT_EQ(plv_seek_frame(&stream.player, 1), PLV_ERR_ARGUMENT);
    int end = 0;
    EXPECT_EQ(stream.all(&end).size(), 2u);
    EXPECT_EQ(plv_rewind(&stream.player), PLV_ERR_SEEK);
}

// A literal word changed under its record's CRC.
TEST(Crc, CheckedBeforePaintingFromMemoryAfterFromAStreamOrNotAtAll)
{
    Bytes file = worked_example();
    file[FRAME1 + 12 + 6] = 0x7C;  // B's first byte
    struct Row {
        const char* name;
        std::vector<std::size_t> chunks;
        bool crc;
        int status;
        Bytes picture;
    } rows[] = {
        {"memory: refused, nothing painted", {}, true, PLV_ERR_CRC, pixels({0, 0, 0, 0})},
        {"stream: refused when the record ends", {3}, true, PLV_ERR_CRC, pixels({A, A, A, 0x7C1F})},
        {"whole record in one read: refused, nothing painted", {4096}, true, PLV_ERR_CRC, pixels({0, 0, 0, 0})},
        {"checking off: played", {}, false, PLV_FRAME, pixels({A, A, A, 0x7C1F})},
        {"checking off, stream: played", {1}, false, PLV_FRAME, pixels({A, A, A, 0x7C1F})},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Options options;
        options.chunks = row.chunks;
        options.crc = row.crc;
        Play play(file, options);
        ASSERT_EQ(play.opened, PLV_OK);
        EXPECT_EQ(plv_next_frame(&play.player), row.status);
        EXPECT_EQ(play.frame, row.picture);
    }
}

TEST(Outputs, RefusedWhenTooSmallOrTheProfileNeedsAFrameBuffer)
{
    Play play(worked_example(), Options {});
    plv_player& p = play.player;
    std::uint8_t words[16];
    EXPECT_EQ(plv_set_frame_buffer(&p, words, 7, nullptr, nullptr), PLV_ERR_ARGUMENT);
    EXPECT_EQ(plv_set_frame_buffer(&p, nullptr, 8, nullptr, nullptr), PLV_ERR_ARGUMENT);
    EXPECT_EQ(plv_set_frame_buffer(&p, words, 8, nullptr, nullptr), PLV_OK);
    EXPECT_EQ(plv_set_ring(&p, words, 1, paint, &play.panel), PLV_ERR_ARGUMENT) << "no whole word";
    EXPECT_EQ(plv_set_ring(&p, words, 2, nullptr, nullptr), PLV_ERR_ARGUMENT) << "nowhere to paint";
    EXPECT_EQ(plv_set_ring(&p, words, 2, paint, &play.panel), PLV_OK);

    Video v = key_only(repeat(4, A), 3);
    Play windowed(build(v), Options {});
    EXPECT_EQ(plv_set_ring(&windowed.player, words, 4, paint, &windowed.panel), PLV_ERR_ARGUMENT) << "under the window";
    EXPECT_EQ(plv_set_ring(&windowed.player, words, 6, paint, &windowed.panel), PLV_OK);
    v.profile = 1;
    Play profile1(build(v), Options {});
    EXPECT_EQ(plv_set_ring(&profile1.player, words, 16, paint, &profile1.panel), PLV_ERR_ARGUMENT);

    plv_player none;
    EXPECT_EQ(plv_open_memory(&none, nullptr, 0), PLV_ERR_CUT);
    EXPECT_EQ(plv_next_frame(&none), PLV_ERR_CUT);
    EXPECT_EQ(plv_open_stream(&none, nullptr, nullptr, nullptr, 0), PLV_ERR_ARGUMENT);
}

}  // namespace
