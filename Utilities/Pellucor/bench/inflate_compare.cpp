// SPDX-License-Identifier: MIT
// How fast three inflates take one PNG frame's image data, whole: zlib (what
// libspng calls), libdeflate and ISA-L. It answers which inflate a target
// should use for PNG frames; on a cross target, run it under qemu-user, as
// a rough guide only (the emulator's cost per instruction is not the chip's).
//
//   pellucor_inflate_compare FRAME.png [RUNS]
//
// Prints each inflate's best time over RUNS (default 10), and its ratio to zlib's.
#include <isa-l.h>
#include <libdeflate.h>
#include <zlib.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

std::uint32_t big_endian_32(const unsigned char* at)
{
    return std::uint32_t {at[0]} << 24 | std::uint32_t {at[1]} << 16 | std::uint32_t {at[2]} << 8 | at[3];
}

double seconds()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: pellucor_inflate_compare FRAME.png [RUNS]\n");
        return 1;
    }
    const int runs = argc == 3 ? std::atoi(argv[2]) : 10;
    std::vector<unsigned char> file;
    if (std::FILE* in = std::fopen(argv[1], "rb")) {
        unsigned char block[1 << 16];
        for (std::size_t got; (got = std::fread(block, 1, sizeof block, in)) > 0;) {
            file.insert(file.end(), block, block + got);
        }
        std::fclose(in);
    }
    // The IDAT chunks' data joined, and the size IHDR gives the rows, with
    // their filter bytes (8-bit samples, not interlaced).
    std::vector<unsigned char> stream;
    std::size_t inflated = 0;
    for (std::size_t at = 8; file.size() >= 12 && at <= file.size() - 12;) {
        const std::uint32_t length = big_endian_32(&file[at]);
        if (length > file.size() - 12 - at) {
            break;
        }
        const unsigned char* data = &file[at + 8];
        if (std::memcmp(&file[at + 4], "IHDR", 4) == 0 && length == 13) {
            static constexpr unsigned channels[] = {1, 0, 3, 1, 2, 0, 4};
            const unsigned type = data[9] < 7 ? data[9] : 1;
            inflated = (std::size_t {big_endian_32(data)} * channels[type] + 1) * big_endian_32(data + 4);
        } else if (std::memcmp(&file[at + 4], "IDAT", 4) == 0) {
            stream.insert(stream.end(), data, data + length);
        }
        at += 12 + length;
    }
    if (stream.empty() || inflated == 0 || runs <= 0) {
        std::fprintf(stderr, "%s: not an 8-bit PNG frame this reads\n", argv[1]);
        return 1;
    }

    std::vector<unsigned char> out(inflated);
    libdeflate_decompressor* libdeflate = libdeflate_alloc_decompressor();
    static inflate_state isal;
    double best[3] = {1e9, 1e9, 1e9};
    for (int run = 0; run < runs; ++run) {
        bool sound = true;
        double start = seconds();
        uLongf size = static_cast<uLongf>(out.size());
        sound &= uncompress(out.data(), &size, stream.data(), static_cast<uLong>(stream.size())) == Z_OK &&
                 size == out.size();
        double time = seconds() - start;
        best[0] = time < best[0] ? time : best[0];

        start = seconds();
        sound &= libdeflate_zlib_decompress(libdeflate, stream.data(), stream.size(), out.data(), out.size(),
                                            nullptr) == LIBDEFLATE_SUCCESS;
        time = seconds() - start;
        best[1] = time < best[1] ? time : best[1];

        start = seconds();
        isal_inflate_init(&isal);
        isal.crc_flag = ISAL_ZLIB;
        isal.next_in = stream.data();
        isal.avail_in = static_cast<std::uint32_t>(stream.size());
        isal.next_out = out.data();
        isal.avail_out = static_cast<std::uint32_t>(out.size());
        sound &= isal_inflate(&isal) == ISAL_DECOMP_OK && isal.block_state == ISAL_BLOCK_FINISH;
        time = seconds() - start;
        best[2] = time < best[2] ? time : best[2];
        if (!sound) {
            std::fprintf(stderr, "%s: an inflate failed on its image data\n", argv[1]);
            return 1;
        }
    }
    libdeflate_free_decompressor(libdeflate);
    std::printf("%zu bytes inflated, best of %d: zlib %.1f ms, libdeflate %.1f ms (%.2f), ISA-L %.1f ms (%.2f)\n",
                out.size(), runs, best[0] * 1e3, best[1] * 1e3, best[1] / best[0], best[2] * 1e3, best[2] / best[0]);
    return 0;
}
