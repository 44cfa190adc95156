// RLE decoder for TGA image type 10 (24-bit color).
//
// The pixel data after the 18-byte header is a sequence of packets, each led
// by one header byte:
//   1ccccccc  run packet: one pixel (blue, green, red), repeated c + 1 times
//   0ccccccc  raw packet: c + 1 pixels follow, 3 bytes each
// Packets may cross rows. A packet that reaches past the last pixel of the
// frame is cut there; a cut run still consumes its pixel. Bytes after the last
// pixel (a footer, say) are ignored.
#include <algorithm>
#include <cstring>

#include "frame_store.h"

namespace {

constexpr std::uint8_t RLE_RUN_BIT = 0x80;
constexpr std::uint8_t RLE_COUNT_MASK = 0x7F;

// Writes count copies of the pixel at source to packed. Doubling what is
// already written keeps long runs down to a few block copies.
void fill_run(std::uint8_t* packed, const std::uint8_t* source, std::size_t count)
{
    std::memcpy(packed, source, COLOR_PIXEL_SIZE);
    std::size_t done = 1;
    while (done < count) {
        const std::size_t step = std::min(done, count - done);
        std::memcpy(packed + done * COLOR_PIXEL_SIZE, packed, step * COLOR_PIXEL_SIZE);
        done += step;
    }
}

}  // namespace

bool decompress_rle_frame(std::size_t bytes_read)
{
    const std::size_t end = std::min(bytes_read, INPUT_BUFFER_SIZE);
    const std::size_t pixels = video_pixel_count();
    const std::size_t frame_size = TGA_HEADER_SIZE + COLOR_PIXEL_SIZE * pixels;
    if (end < TGA_HEADER_SIZE || frame_size > INPUT_BUFFER_SIZE || frame_size > SCRATCH_BUFFER_SIZE) {
        return false;
    }

    std::memcpy(scratch_buffer, input_buffer, TGA_HEADER_SIZE);
    std::size_t read_at = TGA_HEADER_SIZE;
    std::uint8_t* write_at = scratch_buffer + TGA_HEADER_SIZE;
    std::size_t pixels_left = pixels;

    while (pixels_left > 0) {
        if (read_at == end) {
            return false;
        }
        const std::uint8_t packet = input_buffer[read_at++];
        const std::size_t count = std::min<std::size_t>((packet & RLE_COUNT_MASK) + 1u, pixels_left);
        const std::size_t bytes_left = end - read_at;
        if (packet & RLE_RUN_BIT) {
            if (bytes_left < COLOR_PIXEL_SIZE) {
                return false;
            }
            fill_run(write_at, input_buffer + read_at, count);
            read_at += COLOR_PIXEL_SIZE;
        } else {
            if (bytes_left < COLOR_PIXEL_SIZE * count) {
                return false;
            }
            std::memcpy(write_at, input_buffer + read_at, COLOR_PIXEL_SIZE * count);
            read_at += COLOR_PIXEL_SIZE * count;
        }
        write_at += COLOR_PIXEL_SIZE * count;
        pixels_left -= count;
    }

    std::memcpy(input_buffer, scratch_buffer, frame_size);
    return true;
}
