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
#include <bit>
#include <cstring>

#include "frame_store.h"

namespace {

constexpr std::uint8_t RLE_RUN_BIT = 0x80;
constexpr std::uint8_t RLE_COUNT_MASK = 0x7F;

// Packets are copied in whole chunks of 16 pixels, which may write up to a
// chunk past the packet's end: the next packet overwrites that, and after the
// last one it lands in the slack that scratch_buffer keeps behind the largest
// frame. Fixed-size copies compile to a few vector moves.
constexpr std::size_t CHUNK_PIXELS = 16;
constexpr std::size_t CHUNK_SIZE = CHUNK_PIXELS * COLOR_PIXEL_SIZE;
static_assert(SCRATCH_BUFFER_SIZE >= INPUT_BUFFER_SIZE + CHUNK_SIZE);
static_assert(CHUNK_SIZE == 2 * 3 * sizeof(std::uint64_t));

std::size_t whole_chunks(std::size_t pixels)
{
    return (pixels + CHUNK_PIXELS - 1) / CHUNK_PIXELS;
}

// Eight copies of a 24-bit pixel value, cut to 8 bytes: the pixel, the
// pixel and the first two bytes of the pixel.
constexpr std::uint64_t repeat_pixel(std::uint64_t pixel)
{
    return pixel | pixel << 24 | pixel << 48;
}

void fill_run(std::uint8_t* packed, const std::uint8_t* pixel, std::size_t count)
{
    std::uint8_t chunk[CHUNK_SIZE];
    if constexpr (std::endian::native == std::endian::little) {
        // Built in registers: the 8-byte words at chunk bytes 0, 8 and 16
        // start with the pixel's blue, red and green byte.
        const std::uint64_t blue = pixel[0], green = pixel[1], red = pixel[2];
        const std::uint64_t words[] = {
            repeat_pixel(blue | green << 8 | red << 16), repeat_pixel(red | blue << 8 | green << 16),
            repeat_pixel(green | red << 8 | blue << 16),
        };
        std::memcpy(chunk, words, sizeof words);
        std::memcpy(chunk + sizeof words, words, sizeof words);
    } else {
        for (std::size_t i = 0; i < CHUNK_SIZE; ++i) {
            chunk[i] = pixel[i % COLOR_PIXEL_SIZE];
        }
    }
    for (std::size_t i = 0; i < whole_chunks(count); ++i) {
        std::memcpy(packed + i * CHUNK_SIZE, chunk, CHUNK_SIZE);
    }
}

// Copies count pixels. Whole chunks are read only where the data read from
// the file reaches that far; otherwise the copy is exact.
void copy_raw(std::uint8_t* packed, const std::uint8_t* source, std::size_t count, std::size_t source_left)
{
    const std::size_t chunks = whole_chunks(count);
    if (chunks * CHUNK_SIZE > source_left) {
        std::memcpy(packed, source, count * COLOR_PIXEL_SIZE);
        return;
    }
    for (std::size_t i = 0; i < chunks; ++i) {
        std::memcpy(packed + i * CHUNK_SIZE, source + i * CHUNK_SIZE, CHUNK_SIZE);
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
            copy_raw(write_at, input_buffer + read_at, count, bytes_left);
            read_at += COLOR_PIXEL_SIZE * count;
        }
        write_at += COLOR_PIXEL_SIZE * count;
        pixels_left -= count;
    }

    std::memcpy(input_buffer, scratch_buffer, frame_size);
    return true;
}
