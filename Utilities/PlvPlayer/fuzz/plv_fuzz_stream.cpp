// SPDX-License-Identifier: MIT
// libFuzzer target: a PLV file handed over by a read callback in chunks of
// random sizes, played with no frame buffer through a ring of random size
// (at least the window). The first two bytes choose the chunk sizes and the
// ring; the rest is the file. Every span must lie in one row of the
// picture; and when the checking reader finds the file sound, the panel
// must show what the frame buffer holds after each frame.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "plv_check.h"
#include "plv_player.h"

namespace {
constexpr std::uint32_t MAX_FUZZ_PIXELS = 1u << 18;
constexpr int MAX_FRAMES = 64;
constexpr std::size_t PARAMETERS = 2;

struct Source {
    const std::uint8_t* file;
    std::size_t size, pos;
    std::uint32_t state;
    std::unique_ptr<std::uint8_t[]> chunk;
};

std::size_t read_chunk(void* user, const std::uint8_t** bytes)
{
    auto& s = *static_cast<Source*>(user);
    if (s.pos >= s.size) return 0;
    s.state = s.state * 1103515245u + 12345u;
    std::size_t n = 1 + (s.state >> 16) % ((s.state >> 8 & 1) != 0 ? 7 : 600);
    if (n > s.size - s.pos) n = s.size - s.pos;
    s.chunk.reset(new std::uint8_t[n]);
    std::memcpy(s.chunk.get(), s.file + s.pos, n);
    s.pos += n;
    *bytes = s.chunk.get();
    return n;
}

int seek_source(void* user, std::uint64_t offset)
{
    auto& s = *static_cast<Source*>(user);
    if (offset > s.size) return 1;
    s.pos = static_cast<std::size_t>(offset);
    return 0;
}

struct Panel {
    std::uint32_t width, height;
    std::vector<std::uint8_t> picture;
};

void paint(void* user, std::uint32_t x, std::uint32_t y, const std::uint8_t* words, std::uint32_t count)
{
    auto& panel = *static_cast<Panel*>(user);
    if (count == 0 || y >= panel.height || x >= panel.width || count > panel.width - x) std::abort();
    std::memcpy(&panel.picture[2 * (static_cast<std::size_t>(y) * panel.width + x)], words, 2 * std::size_t {count});
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < PARAMETERS) return 0;
    const std::vector<std::uint8_t> file(data + PARAMETERS, data + size);
    Source source {file.data(), file.size(), 0, data[0], nullptr};
    plv_player player, reference;
    if (plv_open_stream(&player, read_chunk, seek_source, &source, file.size()) != PLV_OK) return 0;
    const std::uint32_t pixels = player.info.width * player.info.height;
    if (pixels > MAX_FUZZ_PIXELS || player.info.profile != 0) return 0;
    const std::size_t ring_words = std::max<std::size_t>(player.info.window, 1) + data[1] % 5 * (data[1] / 5 + 1);
    std::unique_ptr<std::uint8_t[]> ring(new std::uint8_t[2 * ring_words]);
    Panel panel {player.info.width, player.info.height, std::vector<std::uint8_t>(2 * std::size_t {pixels}, 0)};
    if (plv_set_ring(&player, ring.get(), 2 * ring_words, paint, &panel) != PLV_OK) std::abort();

    // The same file from memory into a frame buffer, and its check.
    std::vector<std::uint8_t> frame(2 * std::size_t {pixels}, 0), scratch(frame.size()), map((pixels + 7) / 8);
    plv_report report;
    const bool sound = plv_check_memory(file.data(), file.size(), scratch.data(), scratch.size(), map.data(),
                                        map.size(), &report) == PLV_OK;
    plv_open_memory(&reference, file.data(), file.size());
    plv_set_frame_buffer(&reference, frame.data(), frame.size(), nullptr, nullptr);

    for (int frames = 0; frames < MAX_FRAMES; ++frames) {
        const int status = plv_next_frame(&player);
        const int expected = plv_next_frame(&reference);
        if (sound && status != expected) std::abort();
        if (status != PLV_FRAME) break;
        if (sound && panel.picture != frame) std::abort();
    }
    if (player.index_trusted && player.index_count > 0) plv_seek_frame(&player, data[1] % player.index_count);
    plv_rewind(&player);
    plv_next_frame(&player);
    return 0;
}
