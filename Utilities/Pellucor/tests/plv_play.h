// SPDX-License-Identifier: MIT
// A PLV file as the player library plays it, for the tests: the checking
// reader's report, every frame decoded into a frame buffer, and, for a
// profile 0 file, every frame as a panel shows it when the player has only a
// ring of the header's window.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "plv_check.h"
#include "plv_player.h"

namespace plv_play {

using Bytes = std::vector<std::uint8_t>;

struct Played {
    int opened = PLV_ERR_ARGUMENT;
    plv_report report {};
    int checked = PLV_ERR_ARGUMENT;
    std::vector<Bytes> frames;        // through a frame buffer
    int end = 0;                      // what plv_next_frame returned last
    std::vector<Bytes> panel_frames;  // through a ring, profile 0 only
    int ring_end = 0;

    // Every frame's words one after another, as the raw output holds them.
    Bytes words() const
    {
        Bytes all;
        for (const Bytes& frame : frames) all.insert(all.end(), frame.begin(), frame.end());
        return all;
    }
};

struct Panel {
    Bytes pixels;
    std::uint32_t width;
};

inline void paint(void* user, std::uint32_t x, std::uint32_t y, const std::uint8_t* words, std::uint32_t count)
{
    Panel& panel = *static_cast<Panel*>(user);
    const std::size_t at = 2 * (std::size_t {y} * panel.width + x);
    if (at + 2 * std::size_t {count} <= panel.pixels.size()) {
        std::copy(words, words + 2 * std::size_t {count}, panel.pixels.begin() + static_cast<std::ptrdiff_t>(at));
    } else {
        panel.pixels.clear();  // a span off the panel: shows as a mismatch
    }
}

inline Played play(const Bytes& file)
{
    Played played;
    plv_player player;
    played.opened = plv_open_memory(&player, file.data(), file.size());
    if (played.opened != PLV_OK) {
        return played;
    }
    const plv_info info = player.info;
    Bytes frame(plv_check_frame_bytes(&info)), map(plv_check_map_bytes(&info));
    played.checked =
        plv_check_memory(file.data(), file.size(), frame.data(), frame.size(), map.data(), map.size(), &played.report);

    Bytes buffer(2 * std::size_t {info.width} * info.height);
    plv_set_frame_buffer(&player, buffer.data(), buffer.size(), nullptr, nullptr);
    while ((played.end = plv_next_frame(&player)) == PLV_FRAME) played.frames.push_back(buffer);

    if (info.profile == 0) {
        plv_player ring_player;
        plv_open_memory(&ring_player, file.data(), file.size());
        Bytes ring(2 * std::max<std::size_t>(info.window, 1));
        Panel panel {Bytes(buffer.size()), info.width};
        plv_set_ring(&ring_player, ring.data(), ring.size(), paint, &panel);
        while ((played.ring_end = plv_next_frame(&ring_player)) == PLV_FRAME)
            played.panel_frames.push_back(panel.pixels);
    }
    return played;
}

}  // namespace plv_play
