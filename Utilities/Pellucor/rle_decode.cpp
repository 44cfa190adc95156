// RLE decoder for TGA image type 10 (24-bit color).
//
// The pixel data after the 18-byte header is a sequence of packets, each led
// by one header byte:
//   1ccccccc  run packet: one pixel (blue, green, red), repeated c + 1 times
//   0ccccccc  raw packet: c + 1 pixels follow, 3 bytes each
// Packets may cross rows. A packet that reaches past the last pixel of the
// frame is cut there; a cut run still consumes its pixel. Bytes after the last
// pixel (a footer, say) are ignored.
//
// The packets are first moved to scratch_buffer; the pixels are then decoded
// from there straight behind the header in input_buffer, where the packers
// expect an uncompressed frame.
#include <algorithm>
#include <bit>
#include <cstring>

#include "frame_store.h"
#include "rle_decode.h"

namespace {

constexpr std::uint8_t RLE_RUN_BIT = 0x80;
constexpr std::uint8_t RLE_COUNT_MASK = 0x7F;

// Packets are copied in whole chunks of 16 pixels where there is room, which
// may write up to a chunk past the packet's end for the next packet to
// overwrite. Fixed-size copies compile to a few vector moves.
constexpr std::size_t CHUNK_PIXELS = 16;
constexpr std::size_t CHUNK_SIZE = CHUNK_PIXELS * COLOR_PIXEL_SIZE;
static_assert(CHUNK_SIZE == 2 * COLOR_PIXEL_SIZE * sizeof(std::uint64_t));
static_assert(SCRATCH_BUFFER_SIZE >= INPUT_BUFFER_SIZE);

std::size_t chunked_size(std::size_t pixels)
{
    return (pixels + CHUNK_PIXELS - 1) / CHUNK_PIXELS * CHUNK_SIZE;
}

// A 24-bit pixel value repeated over 8 bytes, which hold 2 2/3 pixels: the
// pixel, the pixel again and the first two bytes of a third.
constexpr std::uint64_t repeat_pixel(std::uint64_t pixel)
{
    return pixel | pixel << 24 | pixel << 48;
}

// Writes count copies of pixel; room is how many bytes packed may take.
void fill_run(std::uint8_t* packed, const std::uint8_t* pixel, std::size_t count, std::size_t room)
{
    if (chunked_size(count) > room) {
        for (std::size_t i = 0; i < count; ++i) {
            std::memcpy(packed + i * COLOR_PIXEL_SIZE, pixel, COLOR_PIXEL_SIZE);
        }
        return;
    }
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
    for (std::size_t done = 0; done < count; done += CHUNK_PIXELS) {
        std::memcpy(packed + done * COLOR_PIXEL_SIZE, chunk, CHUNK_SIZE);
    }
}

// Copies count pixels. Whole chunks are used only where both the packets
// (source_left bytes) and the frame (room bytes) reach that far.
void copy_raw(std::uint8_t* packed, const std::uint8_t* source, std::size_t count, std::size_t source_left,
              std::size_t room)
{
    const std::size_t size = chunked_size(count);
    if (size > source_left || size > room) {
        std::memcpy(packed, source, count * COLOR_PIXEL_SIZE);
        return;
    }
    for (std::size_t offset = 0; offset < size; offset += CHUNK_SIZE) {
        std::memcpy(packed + offset, source + offset, CHUNK_SIZE);
    }
}

}  // namespace

bool decompress_rle_frame(std::size_t bytes_read)
{
    const std::size_t end = std::min(bytes_read, INPUT_BUFFER_SIZE);
    const std::size_t pixels = video_pixel_count();
    if (end < TGA_HEADER_SIZE || TGA_HEADER_SIZE + COLOR_PIXEL_SIZE * pixels > INPUT_BUFFER_SIZE) {
        return false;
    }

    const std::size_t packet_bytes = end - TGA_HEADER_SIZE;
    std::memcpy(scratch_buffer, input_buffer + TGA_HEADER_SIZE, packet_bytes);
    std::size_t read_at = 0;
    std::size_t write_at = TGA_HEADER_SIZE;
    std::size_t pixels_left = pixels;

    while (pixels_left > 0) {
        if (read_at == packet_bytes) {
            return false;
        }
        const std::uint8_t packet = scratch_buffer[read_at++];
        const std::size_t count = std::min<std::size_t>((packet & RLE_COUNT_MASK) + 1u, pixels_left);
        const std::size_t bytes_left = packet_bytes - read_at;
        const std::size_t room = INPUT_BUFFER_SIZE - write_at;
        if (packet & RLE_RUN_BIT) {
            if (bytes_left < COLOR_PIXEL_SIZE) {
                return false;
            }
            fill_run(input_buffer + write_at, scratch_buffer + read_at, count, room);
            read_at += COLOR_PIXEL_SIZE;
        } else {
            if (bytes_left < COLOR_PIXEL_SIZE * count) {
                return false;
            }
            copy_raw(input_buffer + write_at, scratch_buffer + read_at, count, bytes_left, room);
            read_at += COLOR_PIXEL_SIZE * count;
        }
        write_at += COLOR_PIXEL_SIZE * count;
        pixels_left -= count;
    }
    return true;
}
