// SPDX-License-Identifier: MIT
// The PNG floor for the benchmark: what converting PNG frames costs with the
// same library and no packing. Reads each frame file in one read, decodes it
// with libspng as stored into a buffer, and writes 2 x width x height bytes
// a frame from a buffer of real pages, the way pellucor does.
//
//   pellucor_png_floor PATTERN OUTPUT FIRST LAST WIDTH HEIGHT
#include <spng.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

int main(int argc, char** argv)
{
    if (argc != 7) {
        std::fprintf(stderr, "usage: pellucor_png_floor PATTERN OUTPUT FIRST LAST WIDTH HEIGHT\n");
        return 1;
    }
    const int first = std::atoi(argv[3]);
    const int last = std::atoi(argv[4]);
    const std::size_t pixels = std::strtoul(argv[5], nullptr, 10) * std::strtoul(argv[6], nullptr, 10);
    std::vector<unsigned char> input(8 * pixels + (1 << 20)), decoded(8 * pixels), output(2 * pixels, 0x55);
    std::FILE* out = std::fopen(argv[2], "wb");
    if (out == nullptr) {
        return 2;
    }
    std::setvbuf(out, nullptr, _IONBF, 0);
    char name[1000];
    for (int frame = first; frame <= last; ++frame) {
        std::snprintf(name, sizeof name, argv[1], frame);
        std::FILE* in = std::fopen(name, "rb");
        if (in == nullptr) {
            return 3;
        }
        std::setvbuf(in, nullptr, _IONBF, 0);
        const std::size_t got = std::fread(input.data(), 1, input.size(), in);
        std::fclose(in);
        spng_ctx* png = spng_ctx_new(SPNG_CTX_IGNORE_ADLER32);  // as pellucor
        std::size_t size = 0;
        if (spng_set_png_buffer(png, input.data(), got) != 0 ||
            spng_decoded_image_size(png, SPNG_FMT_PNG, &size) != 0 || size > decoded.size() ||
            spng_decode_image(png, decoded.data(), size, SPNG_FMT_PNG, 0) != 0) {
            return 3;
        }
        spng_ctx_free(png);
        output[0] = decoded[size / 2];  // keep the decode from looking unused
        if (std::fwrite(output.data(), 1, output.size(), out) != output.size()) {
            return 2;
        }
    }
    return std::fclose(out) == 0 ? 0 : 2;
}
