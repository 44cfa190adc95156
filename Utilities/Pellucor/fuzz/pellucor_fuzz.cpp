// libFuzzer target: arbitrary bytes through the per-frame path of the command
// line (check_frame, the RLE decoder, the packers), in process.
//
// Input: byte 0 and the low bit of byte 1 pick a width of 0 to 511 pixels
// (past every vector chunk of 64 pixels and its tails), byte 2 a height of 0
// to 7 and, in its high bits, the kernels' path where the processor has it;
// byte 1's other bits pick the word format. The rest is the frame file. A
// frame that the path accepts must have packed exactly 2 x width x height
// bytes that match the reference formula; a frame it rejects must have left
// output_buffer alone. RLE frames are also decoded by the reference decoder,
// which must agree on whether the frame is complete and on every pixel.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "frame_store.h"
#include "pixel_pack.h"
#include "rle_decode.h"
#include "vector_path.h"
#include "word_format.h"

namespace {

constexpr std::size_t GEOMETRY_BYTES = 3;
constexpr unsigned MAX_WIDTH = 512;
constexpr unsigned MAX_HEIGHT = 8;
constexpr unsigned FORMAT_SHIFT = 1;
constexpr unsigned PATH_SHIFT = 3;
constexpr std::size_t WATCHED_OUTPUT = PACKED_PIXEL_SIZE * MAX_WIDTH * MAX_HEIGHT + 64;
constexpr std::uint8_t SENTINEL = 0xA5;

std::uint8_t reference_pixels[COLOR_PIXEL_SIZE * MAX_WIDTH * MAX_HEIGHT];

void check(bool condition)
{
    if (!condition) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < GEOMETRY_BYTES) {
        return 0;
    }
    video_width = static_cast<std::int32_t>((data[0] | (data[1] & 1u) << 8) % MAX_WIDTH);
    video_height = data[2] % MAX_HEIGHT;
    color_word_format = gray_word_format = WORD_FORMATS[(data[1] >> FORMAT_SHIFT) % std::size(WORD_FORMATS)];
    const auto table = kernel_table();
    use_vector_path(table[(data[2] >> PATH_SHIFT) % table.size()].path);
    const std::size_t bytes_read = std::min(size - GEOMETRY_BYTES, INPUT_BUFFER_SIZE);
    const std::uint8_t* file = data + GEOMETRY_BYTES;
    std::memcpy(input_buffer, file, bytes_read);
    std::memset(output_buffer, SENTINEL, WATCHED_OUTPUT);

    bool accepted = check_frame(bytes_read) == FrameStatus::ok;
    const std::uint8_t type = accepted ? frame_type() : 0;
    if (accepted && type == TGA_TYPE_RLE_COLOR) {
        const std::size_t pixels = video_pixel_count();
        const bool expected = decode_rle_reference(file + TGA_HEADER_SIZE, bytes_read - TGA_HEADER_SIZE, pixels,
                                                   reference_pixels);
        accepted = decompress_rle_frame(bytes_read);
        check(accepted == expected);
        check(!accepted ||
              std::memcmp(input_buffer + TGA_HEADER_SIZE, reference_pixels, COLOR_PIXEL_SIZE * pixels) == 0);
    }
    const bool gray = type == TGA_TYPE_GRAY;
    if (accepted) {
        gray ? pack_gray_frame() : pack_color_frame();
    }

    const std::size_t width = static_cast<std::size_t>(video_width);
    const std::size_t height = static_cast<std::size_t>(video_height);
    const std::size_t packed = accepted ? PACKED_PIXEL_SIZE * width * height : 0;
    for (std::size_t i = packed; i < WATCHED_OUTPUT; ++i) {
        check(output_buffer[i] == SENTINEL);
    }
    const std::size_t pixel_size = gray ? GRAY_PIXEL_SIZE : COLOR_PIXEL_SIZE;
    for (std::size_t y = 0; accepted && y < height; ++y) {
        for (std::size_t x = 0; x < width; ++x) {
            const std::uint8_t* p = input_buffer + TGA_HEADER_SIZE + ((height - 1 - y) * width + x) * pixel_size;
            std::uint8_t word[PACKED_PIXEL_SIZE];
            store_word(word,
                       gray ? pack_gray_word(p[0], gray_word_format)
                            : pack_word(p[TGA_RED], p[TGA_GREEN], p[TGA_BLUE], color_word_format),
                       gray ? gray_word_format : color_word_format);
            check(std::memcmp(word, output_buffer + PACKED_PIXEL_SIZE * (y * width + x), PACKED_PIXEL_SIZE) == 0);
        }
    }
    return 0;
}
