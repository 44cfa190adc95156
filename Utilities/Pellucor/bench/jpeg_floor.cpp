// SPDX-License-Identifier: MIT
// The JPEG floor for the benchmark: what converting JPEG frames costs with
// the same library and no packing. Reads each frame file in one read,
// decodes it with libjpeg-turbo's default settings into a buffer, and
// writes 2 x width x height bytes a frame from a buffer of real pages, the
// way pellucor does. A frame the library refuses ends the program through
// the library's own error handler.
//
//   pellucor_jpeg_floor PATTERN OUTPUT FIRST LAST WIDTH HEIGHT
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <jpeglib.h>

int main(int argc, char** argv)
{
    if (argc != 7) {
        std::fprintf(stderr, "usage: pellucor_jpeg_floor PATTERN OUTPUT FIRST LAST WIDTH HEIGHT\n");
        return 1;
    }
    const int first = std::atoi(argv[3]);
    const int last = std::atoi(argv[4]);
    const std::size_t width = std::strtoul(argv[5], nullptr, 10);
    const std::size_t pixels = width * std::strtoul(argv[6], nullptr, 10);
    std::vector<unsigned char> input(8 * pixels + (1 << 20)), decoded(3 * pixels), output(2 * pixels, 0x55);
    std::FILE* out = std::fopen(argv[2], "wb");
    if (out == nullptr) {
        return 2;
    }
    std::setvbuf(out, nullptr, _IONBF, 0);
    char name[1000];
    jpeg_decompress_struct info {};
    jpeg_error_mgr errors {};
    info.err = jpeg_std_error(&errors);
    for (int frame = first; frame <= last; ++frame) {
        std::snprintf(name, sizeof name, argv[1], frame);
        std::FILE* in = std::fopen(name, "rb");
        if (in == nullptr) {
            return 3;
        }
        std::setvbuf(in, nullptr, _IONBF, 0);
        const std::size_t got = std::fread(input.data(), 1, input.size(), in);
        std::fclose(in);
        jpeg_create_decompress(&info);  // as pellucor, once a frame
        jpeg_mem_src(&info, input.data(), static_cast<unsigned long>(got));
        jpeg_read_header(&info, TRUE);
        jpeg_start_decompress(&info);
        const std::size_t row_bytes = width * static_cast<std::size_t>(info.output_components);
        if (info.output_width != width || row_bytes * info.output_height > decoded.size()) {
            return 3;
        }
        while (info.output_scanline < info.output_height) {
            JSAMPROW row = decoded.data() + info.output_scanline * row_bytes;
            jpeg_read_scanlines(&info, &row, 1);
        }
        jpeg_finish_decompress(&info);
        jpeg_destroy_decompress(&info);
        output[0] = decoded[pixels / 2];  // keep the decode from looking unused
        if (std::fwrite(output.data(), 1, output.size(), out) != output.size()) {
            return 2;
        }
    }
    return std::fclose(out) == 0 ? 0 : 2;
}
