// SPDX-License-Identifier: MIT
// Decode speed of the PLV player on this host: GB/s of frame words (2 x
// width x height bytes a frame, skipped pixels counted) from a file in
// memory, into a frame buffer and through an 8-row ring whose spans are
// copied to a panel picture, CRC checks on and off. The modes run in turn,
// round after round, and each figure is the median of its rounds.
//
//   plv_decode_bench [ROUNDS] [FILE.plv...]
//
// Without files it makes four 320 x 240 videos of 60 frames (a UI screen, a
// flat cartoon, a test pattern and noise that stands for natural video),
// coded by a small greedy coder of its own: SKIP against the frame before,
// REPEAT runs, COPY from the row above, LITERAL otherwise.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "plv_file.h"
#include "plv_player.h"

using namespace plv_test;

namespace {

constexpr std::uint32_t WIDTH = 320, HEIGHT = 240, FRAMES = 60, KEY_EVERY = 30, RING_ROWS = 8;
constexpr std::uint32_t MOST_COUNT = 16384, SHORTEST_RUN = 3;

using Picture = std::vector<std::uint16_t>;

// One frame's codes: greedy, profile 0 (no copy reads a skipped pixel).
Bytes code_frame(const Picture& now, const Picture* before, std::uint32_t width)
{
    const std::uint32_t pixels = static_cast<std::uint32_t>(now.size());
    std::vector<bool> skipped(pixels, false);
    Bytes out;
    std::vector<std::uint16_t> literal_words;
    auto flush = [&] {
        for (std::size_t at = 0; at < literal_words.size(); at += MOST_COUNT) {
            const std::size_t n = std::min<std::size_t>(MOST_COUNT, literal_words.size() - at);
            out =
                out + literal(std::vector<std::uint16_t>(literal_words.begin() + static_cast<std::ptrdiff_t>(at),
                                                         literal_words.begin() + static_cast<std::ptrdiff_t>(at + n)));
        }
        literal_words.clear();
    };
    std::uint32_t pos = 0;
    while (pos < pixels) {
        const std::uint32_t most = std::min(MOST_COUNT, pixels - pos);
        std::uint32_t same = 0, run = 1, above = 0;
        if (before != nullptr)
            while (same < most && now[pos + same] == (*before)[pos + same]) ++same;
        while (run < most && now[pos + run] == now[pos]) ++run;
        if (pos >= width)
            while (above < most && now[pos + above] == now[pos + above - width] && !skipped[pos + above - width])
                ++above;
        if (same >= SHORTEST_RUN && same >= run && same >= above) {
            flush();
            out = out + skip(same);
            for (std::uint32_t i = 0; i < same; ++i) skipped[pos + i] = true;
            pos += same;
        } else if (run >= SHORTEST_RUN && run >= above) {
            flush();
            out = out + repeat(run, static_cast<std::uint16_t>(now[pos] >> 8 | now[pos] << 8));
            pos += run;
        } else if (above >= SHORTEST_RUN) {
            flush();
            out = out + copy(above, width);
            pos += above;
        } else {
            literal_words.push_back(static_cast<std::uint16_t>(now[pos] >> 8 | now[pos] << 8));
            ++pos;
        }
    }
    flush();
    return out;
}

Bytes code_video(const std::vector<Picture>& frames)
{
    Video v;
    v.width = WIDTH;
    v.height = HEIGHT;
    v.window = RING_ROWS * WIDTH;
    for (std::size_t f = 0; f < frames.size(); ++f) {
        const bool key = f % KEY_EVERY == 0;
        v.records.push_back({static_cast<std::uint8_t>(key ? PLV_KEY : PLV_DELTA), PLV_RGB565LE,
                             code_frame(frames[f], key ? nullptr : &frames[f - 1], WIDTH)});
    }
    return build(v);
}

std::uint16_t rgb(unsigned r, unsigned g, unsigned b)
{
    return static_cast<std::uint16_t>((r >> 3) << 11 | (g >> 2) << 5 | b >> 3);
}

void fill_rect(Picture& p, int x0, int y0, int w, int h, std::uint16_t c)
{
    for (int y = std::max(0, y0); y < std::min<int>(HEIGHT, y0 + h); ++y)
        for (int x = std::max(0, x0); x < std::min<int>(WIDTH, x0 + w); ++x) p[y * WIDTH + x] = c;
}

struct Content {
    const char* name;
    std::vector<Picture> frames;
};

std::vector<Content> make_contents()
{
    std::mt19937 random(7);
    std::vector<Content> all;
    Content ui {"UI screen", {}}, cartoon {"flat cartoon", {}}, pattern {"test pattern", {}}, natural {"noise", {}};
    Picture glyphs(WIDTH * HEIGHT);
    for (auto& g : glyphs) g = random() % 3 == 0 ? rgb(20, 20, 20) : rgb(235, 235, 235);
    for (std::uint32_t f = 0; f < FRAMES; ++f) {
        Picture p(WIDTH * HEIGHT, rgb(235, 235, 235));
        fill_rect(p, 0, 0, WIDTH, 24, rgb(40, 90, 200));
        for (int row = 0; row < 6; ++row) {
            for (int y = 40 + row * 30; y < 52 + row * 30; ++y)
                for (int x = 16; x < 200; ++x) p[y * WIDTH + x] = glyphs[y * WIDTH + x];
        }
        fill_rect(p, 16, 220, static_cast<int>(f * 4), 8, rgb(60, 200, 90));         // a progress bar
        fill_rect(p, 220 + static_cast<int>(f % 20), 60, 12, 12, rgb(200, 40, 40));  // a cursor
        ui.frames.push_back(p);

        Picture c(WIDTH * HEIGHT, rgb(120, 190, 240));
        fill_rect(c, 0, 170, WIDTH, 70, rgb(90, 170, 60));
        for (int i = 0; i < 3; ++i) {
            const int cx = 40 + i * 100 + static_cast<int>(f) * (i + 1), cy = 120 + i * 10, r = 25 + i * 5;
            for (int y = cy - r; y < cy + r; ++y)
                for (int x = cx - r; x < cx + r; ++x)
                    if (x >= 0 && y >= 0 && x < static_cast<int>(WIDTH) && y < static_cast<int>(HEIGHT) &&
                        (x - cx) * (x - cx) + (y - cy) * (y - cy) < r * r)
                        c[y * WIDTH + x] = rgb(250, 200 - i * 60, 40 + i * 80);
        }
        cartoon.frames.push_back(c);

        Picture t(WIDTH * HEIGHT);
        const std::uint16_t bars[] = {rgb(255, 255, 255), rgb(255, 255, 0), rgb(0, 255, 255), rgb(0, 255, 0),
                                      rgb(255, 0, 255),   rgb(255, 0, 0),   rgb(0, 0, 255),   rgb(0, 0, 0)};
        for (std::uint32_t y = 0; y < HEIGHT; ++y)
            for (std::uint32_t x = 0; x < WIDTH; ++x)
                t[y * WIDTH + x] = y < 160 ? bars[x / (WIDTH / 8)] : rgb((x + f * 4) % 256, (x + f * 4) % 256, 128);
        pattern.frames.push_back(t);

        Picture n(WIDTH * HEIGHT);
        for (auto& w : n) w = static_cast<std::uint16_t>(random());
        natural.frames.push_back(n);
    }
    all.push_back(ui);
    all.push_back(cartoon);
    all.push_back(pattern);
    all.push_back(natural);
    return all;
}

struct Panel {
    std::uint32_t width;
    std::vector<std::uint8_t> picture;
};

void paint(void* user, std::uint32_t x, std::uint32_t y, const std::uint8_t* words, std::uint32_t count)
{
    auto& panel = *static_cast<Panel*>(user);
    std::memcpy(&panel.picture[2 * (static_cast<std::size_t>(y) * panel.width + x)], words, 2 * std::size_t {count});
}

// Seconds to play the whole file once; frames counted into *frames.
double play(const Bytes& file, bool ring, bool crc, std::uint32_t* frames)
{
    plv_player player;
    if (plv_open_memory(&player, file.data(), file.size()) != PLV_OK) return -1;
    static std::vector<std::uint8_t> frame, ring_words;
    static Panel panel;
    const std::size_t bytes = 2 * std::size_t {player.info.width} * player.info.height;
    frame.resize(bytes);
    panel.width = player.info.width;
    panel.picture.resize(bytes);
    ring_words.resize(2 * std::max<std::size_t>({player.info.window, std::size_t {RING_ROWS} * player.info.width, 1}));
    const int set = ring ? plv_set_ring(&player, ring_words.data(), ring_words.size(), paint, &panel)
                         : plv_set_frame_buffer(&player, frame.data(), frame.size(), nullptr, nullptr);
    if (set != PLV_OK) return -1;
    plv_check_crcs(&player, crc);
    const auto start = std::chrono::steady_clock::now();
    int status;
    *frames = 0;
    while ((status = plv_next_frame(&player)) == PLV_FRAME) ++*frames;
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return status == PLV_END ? seconds : -1;
}

Bytes read_file(const char* path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

int main(int argc, char** argv)
{
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 9;
    std::vector<std::pair<std::string, Bytes>> files;
    if (argc > 2) {
        for (int i = 2; i < argc; ++i) files.emplace_back(argv[i], read_file(argv[i]));
    } else {
        for (const Content& c : make_contents()) files.emplace_back(c.name, code_video(c.frames));
    }
    std::printf("%-16s %9s %7s  %-26s %-26s\n", "content", "file", "ratio", "frame buffer GB/s (crc/off)",
                "ring GB/s (crc/off)");
    for (const auto& [name, file] : files) {
        plv_player player;
        if (plv_open_memory(&player, file.data(), file.size()) != PLV_OK) {
            std::printf("%s: not a PLV file\n", name.c_str());
            return 1;
        }
        const double frame_bytes = 2.0 * player.info.width * player.info.height;
        std::vector<double> rates[4];
        std::uint32_t frames = 0;
        for (int round = 0; round < rounds; ++round) {
            for (int mode = 0; mode < 4; ++mode) {
                const double seconds = play(file, mode >= 2, mode % 2 == 0, &frames);
                if (seconds < 0) {
                    std::printf("%s: does not play in mode %d\n", name.c_str(), mode);
                    return 1;
                }
                rates[mode].push_back(frames * frame_bytes / seconds / 1e9);
            }
        }
        double median[4];
        for (int mode = 0; mode < 4; ++mode) {
            std::sort(rates[mode].begin(), rates[mode].end());
            median[mode] = rates[mode][rates[mode].size() / 2];
        }
        std::printf("%-16s %9zu %6.1fx  %8.2f / %-15.2f %8.2f / %-15.2f\n", name.c_str(), file.size(),
                    frames * frame_bytes / static_cast<double>(file.size()), median[0], median[1], median[2],
                    median[3]);
    }
    return 0;
}
