// SPDX-License-Identifier: MIT
// libFuzzer target: a PLV file from memory, played into a frame buffer,
// then checked, sought through its index and looped. Nothing may be read
// or written outside the buffers, whatever the bytes.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "plv_check.h"
#include "plv_player.h"

namespace {
// Larger pictures are refused here only to keep each run fast.
constexpr std::uint32_t MAX_FUZZ_PIXELS = 1u << 20;
constexpr int MAX_FRAMES = 64;
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // An exact copy, so that a read past the end is caught.
    const std::vector<std::uint8_t> file(data, data + size);
    plv_player player;
    if (plv_open_memory(&player, file.data(), file.size()) != PLV_OK) return 0;
    const std::uint32_t pixels = player.info.width * player.info.height;
    if (pixels > MAX_FUZZ_PIXELS) return 0;
    std::vector<std::uint8_t> frame(2 * static_cast<std::size_t>(pixels)), map((pixels + 7) / 8);
    if (plv_set_frame_buffer(&player, frame.data(), frame.size(), nullptr, nullptr) != PLV_OK) std::abort();
    int frames = 0;
    while (frames < MAX_FRAMES && plv_next_frame(&player) == PLV_FRAME) ++frames;
    if (player.index_trusted && player.index_count > 0) {
        plv_seek_frame(&player, player.index_count - 1 - (size % player.index_count));
        plv_next_frame(&player);
    }
    plv_rewind(&player);
    plv_check_crcs(&player, 0);
    plv_next_frame(&player);

    plv_report report;
    plv_check_memory(file.data(), file.size(), frame.data(), frame.size(), map.data(), map.size(), &report);
    return 0;
}
