// SPDX-License-Identifier: MIT
// libFuzzer target: arbitrary frames through the PLV encoder, and back
// through the player library.
//
// Input: byte 0 the width less 1 (modulo 40), byte 1 the height less 1
// (modulo 6), byte 2 bit 0 profile 1, bits 1-2 the key interval less 1,
// bits 3-4 the window in rows less 1, bit 5 pixels from a palette of four
// words (one byte each; runs and copies), bit 6 every second frame in
// another word format. The rest is the frames, up to 8. Every file the
// encoder writes must be sound to the checking reader, never pass raw plus
// its overhead, and play back, in a frame buffer and through a ring of the
// header's window, to exactly the frames given.
#include <cstdlib>
#include <vector>

#include "plv_encode.h"
#include "plv_play.h"

namespace {

constexpr std::size_t OPTION_BYTES = 3;
constexpr unsigned WIDTHS = 40, HEIGHTS = 6, MOST_FRAMES = 8;
constexpr std::uint16_t PALETTE[] = {0x0000, 0xFFFF, 0x1234, 0x1243};
constexpr std::size_t OVERHEAD = 92, FRAME_OVERHEAD = 30;

void check(bool condition)
{
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < OPTION_BYTES) return 0;
    const std::uint32_t width = data[0] % WIDTHS + 1, height = data[1] % HEIGHTS + 1;
    const std::uint8_t flags = data[2];
    const PlvProfile profile = (flags & 1) != 0 ? PlvProfile::frame_buffer : PlvProfile::stream;
    const std::uint32_t key_every = (flags >> 1 & 3) + 1, rows = (flags >> 3 & 3) + 1;
    const bool palette = (flags & 0x20) != 0, two_formats = (flags & 0x40) != 0;
    const std::size_t pixels = std::size_t {width} * height;
    const std::size_t frame_input = palette ? pixels : 2 * pixels;
    const std::size_t frames = std::min<std::size_t>((size - OPTION_BYTES) / frame_input, MOST_FRAMES);

    PlvEncoder encoder;
    check(plv_start(encoder, {width, height, profile, plv_window(profile, rows, width), key_every, 30, 1}, frames));
    std::vector<std::vector<std::uint8_t>> words(frames);
    std::vector<std::uint8_t> file(PLV_HEADER_SIZE);
    for (std::size_t f = 0; f < frames; ++f) {
        const std::uint8_t* in = data + OPTION_BYTES + f * frame_input;
        for (std::size_t i = 0; i < pixels; ++i) {
            const std::uint16_t word =
                palette ? PALETTE[in[i] % 4] : static_cast<std::uint16_t>(in[2 * i] | in[2 * i + 1] << 8);
            words[f].push_back(static_cast<std::uint8_t>(word));
            words[f].push_back(static_cast<std::uint8_t>(word >> 8));
        }
        const PlvRecord record = plv_frame_record(encoder, words[f].data(), two_formats && f % 2 == 1 ? 3 : 0);
        check(record.header != nullptr);
        file.insert(file.end(), record.header, record.header + PLV_RECORD_HEADER_SIZE);
        file.insert(file.end(), record.payload, record.payload + record.payload_size);
        file.insert(file.end(), record.padding, 0);
    }
    const std::vector<std::uint8_t>& end = plv_finish(encoder);
    file.insert(file.end(), end.begin(), end.end());
    plv_write_header(encoder, true, file.data());
    check(file.size() <= OVERHEAD + frames * (FRAME_OVERHEAD + 2 * pixels));

    const plv_play::Played played = plv_play::play(file);
    check(played.opened == PLV_OK && played.checked == PLV_OK && played.report.finished);
    check(played.end == PLV_END && played.frames == words);
    check(profile == PlvProfile::frame_buffer || (played.ring_end == PLV_END && played.panel_frames == words));
    return 0;
}
