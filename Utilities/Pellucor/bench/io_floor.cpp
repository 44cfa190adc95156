// SPDX-License-Identifier: MIT
// The I/O floor for the benchmark: what converting costs with no decoding
// and no packing. Opens each frame file, reads it in one read, and writes
// 2 x width x height bytes per frame from a buffer of real pages, the way
// pellucor does.
//
//   pellucor_io_floor PATTERN OUTPUT FIRST LAST WIDTH HEIGHT
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {
// As large as pellucor's: a 4096 x 4096 frame, and its worst RLE file.
constexpr std::size_t MAX_PIXELS = 4096 * 4096;
constexpr std::size_t INPUT_SIZE = 4 * MAX_PIXELS + 1'000'000;
constexpr std::size_t OUTPUT_SIZE = 2 * MAX_PIXELS;
unsigned char input[INPUT_SIZE];
unsigned char output[OUTPUT_SIZE];
}  // namespace

int main(int argc, char** argv)
{
    if (argc != 7) {
        std::fprintf(stderr, "usage: pellucor_io_floor PATTERN OUTPUT FIRST LAST WIDTH HEIGHT\n");
        return 1;
    }
    const int first = std::atoi(argv[3]);
    const int last = std::atoi(argv[4]);
    const std::size_t frame_bytes = 2 * std::strtoul(argv[5], nullptr, 10) * std::strtoul(argv[6], nullptr, 10);
    std::FILE* out = std::fopen(argv[2], "wb");
    if (out == nullptr || frame_bytes > OUTPUT_SIZE) {
        return 2;
    }
    std::setvbuf(out, nullptr, _IONBF, 0);
    // Written once, so that each frame is written from pages of its own, as
    // pellucor's are: a buffer never written maps one shared page of zeros,
    // which stays in the core's cache however large the frame.
    std::memset(output, 0x55, frame_bytes);
    char name[1000];
    for (int frame = first; frame <= last; ++frame) {
        std::snprintf(name, sizeof name, argv[1], frame);
        std::FILE* in = std::fopen(name, "rb");
        if (in == nullptr) {
            return 3;
        }
        const std::size_t got = std::fread(input, 1, INPUT_SIZE, in);
        std::fclose(in);
        output[0] = input[got / 2];  // keep the read from looking unused
        if (std::fwrite(output, 1, frame_bytes, out) != frame_bytes) {
            return 2;
        }
    }
    return std::fclose(out) == 0 ? 0 : 2;
}
