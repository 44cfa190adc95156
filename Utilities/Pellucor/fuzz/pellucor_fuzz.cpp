// libFuzzer target: arbitrary bytes through the per-frame path of the command
// line (check_frame, the RLE decoder, the packers), in process.
//
// Input: byte 0 picks a width of 0 to 63 pixels (wide enough for every
// vector row loop), byte 1 a height of 0 to 15 and, in its high bits, the
// row loops' instruction set where the processor has it; the rest is the
// frame file. A frame that the path accepts must have packed
// exactly 2 x width x height bytes that match a plain reference; a frame it
// rejects must have left output_buffer alone. RLE frames are also decoded by
// a plain pixel-at-a-time reference, which must agree on whether the frame is
// complete and on every pixel.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "frame_store.h"
#include "pixel_pack.h"
#include "rle_decode.h"
#include "vector_path.h"

namespace {

constexpr std::size_t GEOMETRY_BYTES = 2;
constexpr unsigned MAX_WIDTH = 64;
constexpr unsigned MAX_HEIGHT = 16;
constexpr unsigned PATH_SHIFT = 4;
constexpr std::size_t WATCHED_OUTPUT = PACKED_PIXEL_SIZE * MAX_WIDTH * MAX_HEIGHT + 64;
constexpr std::uint8_t SENTINEL = 0xA5;

unsigned reference_word(const std::uint8_t* pixel, bool gray)
{
    if (gray) {
        const unsigned v = pixel[0];
        return (v >> 3) << 11 | (v >> 2) << 5 | v >> 3;
    }
    return (pixel[2] >> 3) << 10 | (pixel[1] >> 3) << 5 | pixel[0] >> 3;
}

std::uint8_t reference_pixels[COLOR_PIXEL_SIZE * MAX_WIDTH * MAX_HEIGHT];

bool reference_rle(const std::uint8_t* file, std::size_t size, std::size_t pixels)
{
    std::size_t at = TGA_HEADER_SIZE;
    std::size_t done = 0;
    while (done < pixels) {
        if (at >= size) {
            return false;
        }
        const std::uint8_t packet = file[at++];
        const bool run = packet & 0x80;
        for (std::size_t i = 0; i <= (packet & 0x7Fu) && done < pixels; ++i, ++done) {
            if (size - at < COLOR_PIXEL_SIZE) {
                return false;
            }
            std::memcpy(reference_pixels + COLOR_PIXEL_SIZE * done, file + at, COLOR_PIXEL_SIZE);
            at += run ? 0 : COLOR_PIXEL_SIZE;
        }
        at += run ? COLOR_PIXEL_SIZE : 0;
    }
    return true;
}

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
    video_width = data[0] % MAX_WIDTH;
    video_height = data[1] % MAX_HEIGHT;
    use_vector_path(static_cast<VectorPath>((data[1] >> PATH_SHIFT) % std::size(VECTOR_PATHS)));
    const std::size_t bytes_read = std::min(size - GEOMETRY_BYTES, INPUT_BUFFER_SIZE);
    std::memcpy(input_buffer, data + GEOMETRY_BYTES, bytes_read);
    std::memset(output_buffer, SENTINEL, WATCHED_OUTPUT);

    bool accepted = check_frame(bytes_read) == FrameStatus::ok;
    const std::uint8_t type = accepted ? frame_type() : 0;
    if (accepted && type == TGA_TYPE_RLE_COLOR) {
        const std::size_t pixels = video_pixel_count();
        const bool expected = reference_rle(data + GEOMETRY_BYTES, bytes_read, pixels);
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
            const std::uint8_t* pixel = input_buffer + TGA_HEADER_SIZE + ((height - 1 - y) * width + x) * pixel_size;
            const std::uint8_t* word = output_buffer + PACKED_PIXEL_SIZE * (y * width + x);
            check((word[0] | word[1] << 8) == static_cast<int>(reference_word(pixel, gray)));
        }
    }
    return 0;
}
