// SPDX-License-Identifier: MIT
// The size LZ4 HC level 9 gives a raw video, one block per frame: what the
// PLV benchmark sets beside the PLV file's size.
//
//   pellucor_plv_lz4 RAW_FILE FRAME_BYTES
//
// Prints the sum of the frames' compressed sizes, in bytes.
#include <lz4hc.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char** argv)
{
    constexpr int LEVEL = 9;
    if (argc != 3) {
        std::fprintf(stderr, "usage: pellucor_plv_lz4 RAW_FILE FRAME_BYTES\n");
        return 1;
    }
    const long frame_bytes = std::strtol(argv[2], nullptr, 10);
    std::FILE* file = std::fopen(argv[1], "rb");
    if (file == nullptr || frame_bytes <= 0 || frame_bytes > LZ4_MAX_INPUT_SIZE) {
        std::fprintf(stderr, "cannot read %s in frames of %s bytes\n", argv[1], argv[2]);
        return 1;
    }
    std::vector<char> frame(static_cast<std::size_t>(frame_bytes));
    std::vector<char> block(static_cast<std::size_t>(LZ4_compressBound(static_cast<int>(frame_bytes))));
    unsigned long long total = 0;
    while (std::fread(frame.data(), 1, frame.size(), file) == frame.size()) {
        const int size = LZ4_compress_HC(frame.data(), block.data(), static_cast<int>(frame_bytes),
                                         static_cast<int>(block.size()), LEVEL);
        if (size <= 0) {
            std::fprintf(stderr, "LZ4 failed\n");
            return 1;
        }
        total += static_cast<unsigned long long>(size);
    }
    std::fclose(file);
    std::printf("%llu\n", total);
    return 0;
}
