// SPDX-License-Identifier: MIT
// RLE decoder for TGA image types 9, 10 and 11.
//
// The pixel data is a sequence of packets, each led by one header byte:
//   1ccccccc  run packet: one pixel, repeated c + 1 times
//   0ccccccc  raw packet: c + 1 pixels follow
// A pixel is the frame's own size: 1 to 4 bytes (3 for 24-bit color, blue,
// green, red). Packets may cross rows. A packet that reaches past the last
// pixel of the frame is cut there; a cut run still consumes its pixel. Bytes
// after the last pixel (a footer, say) are ignored.
//
// 24-bit color frames, the common case, go through the kernel table: the
// packets are first moved to scratch_buffer; the pixels are then decoded
// from there straight behind the header in input_buffer. While neither the
// packets nor the frame are near their end, the kernel table's unchecked
// loop decodes; the rest goes packet by packet with every check.
#include "rle_decode.h"

#include <algorithm>
#include <cstring>

#include "frame_store.h"
#include "rle_chunks.h"
#include "vector_path.h"

namespace {

// One packet, read as the rules above say, where the frame still needs
// pixels_left pixels.
struct Packet {
    bool run;
    std::size_t count;  // the pixels it gives: cut to pixels_left
    std::size_t size;   // its bytes, header included, uncut
};

// Reads the packet that starts at packets, of which bytes_left are there;
// false when they end inside the part of it that the frame needs.
bool read_packet(const std::uint8_t* packets, std::size_t bytes_left, std::size_t pixels_left, std::size_t pixel_size,
                 Packet& packet)
{
    if (bytes_left == 0) {
        return false;
    }
    const PacketHeader header = packet_header(packets[0]);
    packet.run = header.run;
    packet.count = std::min(header.count, pixels_left);
    packet.size = 1 + pixel_size * (packet.run ? 1 : header.count);
    // A cut raw packet ends the frame: it needs only the pixels it gives.
    return bytes_left - 1 >= pixel_size * (packet.run ? 1 : packet.count);
}

}  // namespace

bool decode_rle_reference(const std::uint8_t* packets, std::size_t packet_bytes, std::size_t pixel_count,
                          std::uint8_t* pixels, std::size_t pixel_size)
{
    std::size_t at = 0;
    for (std::size_t done = 0; done < pixel_count;) {
        Packet packet {};
        if (!read_packet(packets + at, packet_bytes - at, pixel_count - done, pixel_size, packet)) {
            return false;
        }
        for (std::size_t i = 0; i < packet.count; ++i, ++done) {
            const std::uint8_t* pixel = packets + at + 1 + (packet.run ? 0 : pixel_size * i);
            std::memcpy(pixels + pixel_size * done, pixel, pixel_size);
        }
        at += packet.size;  // past the packets only after a cut packet, which ends the frame
    }
    return true;
}

namespace {

// The checked loop for pixels of PIXEL_SIZE bytes: whole copies of a known
// size, which compilers turn into plain loads and stores.
template <std::size_t PIXEL_SIZE>
bool decode_pixels(const std::uint8_t* packets, std::size_t packet_bytes, std::size_t pixel_count, std::uint8_t* pixels)
{
    std::size_t at = 0;
    for (std::size_t done = 0; done < pixel_count;) {
        Packet packet {};
        if (!read_packet(packets + at, packet_bytes - at, pixel_count - done, PIXEL_SIZE, packet)) {
            return false;
        }
        const std::uint8_t* source = packets + at + 1;
        std::uint8_t* target = pixels + PIXEL_SIZE * done;
        if (!packet.run) {
            std::memcpy(target, source, PIXEL_SIZE * packet.count);
        } else {
            for (std::size_t i = 0; i < packet.count; ++i) {
                std::memcpy(target + PIXEL_SIZE * i, source, PIXEL_SIZE);
            }
        }
        done += packet.count;
        at += packet.size;
    }
    return true;
}

}  // namespace

bool decode_rle_pixels(const std::uint8_t* packets, std::size_t packet_bytes, std::size_t pixel_count,
                       std::size_t pixel_size, std::uint8_t* pixels)
{
    switch (pixel_size) {
    case 1:
        return decode_pixels<1>(packets, packet_bytes, pixel_count, pixels);
    case 2:
        return decode_pixels<2>(packets, packet_bytes, pixel_count, pixels);
    case 3:
        return decode_pixels<3>(packets, packet_bytes, pixel_count, pixels);
    default:
        return decode_pixels<4>(packets, packet_bytes, pixel_count, pixels);
    }
}

RleCursor decode_packets(RleCursor at, const std::uint8_t* read_limit, const std::uint8_t* write_limit)
{
    return decode_unchecked<Chunks>(at, read_limit, write_limit);
}

bool decompress_rle_frame(std::size_t bytes_read, std::size_t data_offset)
{
    const std::size_t end = std::min(bytes_read, input_buffer_size);
    if (end < data_offset || data_offset < TGA_HEADER_SIZE) {
        return false;
    }
    // The frame store holds a frame of this many pixels with LONGEST_WRITE to
    // spare in input_buffer, and every packet with as much to spare in
    // scratch_buffer (rle_chunks.h).
    const std::size_t frame_end = TGA_HEADER_SIZE + COLOR_PIXEL_SIZE * video_pixel_count();
    const std::size_t packet_bytes = end - data_offset;
    std::memcpy(scratch_buffer, input_buffer + data_offset, packet_bytes);
    std::size_t read_at = 0;
    std::size_t write_at = TGA_HEADER_SIZE;

    // While the packets hold more than the longest packet and the frame needs
    // more than the longest write, no packet can run short, be cut or write
    // past the frame.
    if (packet_bytes > LONGEST_PACKET && frame_end - write_at > LONGEST_WRITE) {
        const RleCursor at = kernels().decode_packets({scratch_buffer, input_buffer + write_at},
                                                      scratch_buffer + packet_bytes - LONGEST_PACKET,
                                                      input_buffer + frame_end - LONGEST_WRITE);
        read_at = static_cast<std::size_t>(at.read - scratch_buffer);
        write_at = static_cast<std::size_t>(at.write - input_buffer);
    }

    // The rest, packet by packet with every check.
    while (write_at < frame_end) {
        Packet packet {};
        if (!read_packet(scratch_buffer + read_at, packet_bytes - read_at, (frame_end - write_at) / COLOR_PIXEL_SIZE,
                         COLOR_PIXEL_SIZE, packet)) {
            return false;
        }
        const std::uint8_t* source = scratch_buffer + read_at + 1;
        if (packet.run) {
            fill_run<Chunks>(input_buffer + write_at, source, packet.count);
        } else {
            copy_raw<Chunks>(input_buffer + write_at, source, packet.count);
        }
        read_at += packet.size;
        write_at += COLOR_PIXEL_SIZE * packet.count;
    }
    return true;
}
