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
// expect an uncompressed frame. While neither the packets nor the frame are
// near their end, the kernel table's unchecked loop decodes; the rest goes
// packet by packet with every check, as the reference decoder does.
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
bool read_packet(const std::uint8_t* packets, std::size_t bytes_left, std::size_t pixels_left, Packet& packet)
{
    if (bytes_left == 0) {
        return false;
    }
    const std::uint8_t header = packets[0];
    const std::size_t length = (header & RLE_COUNT_MASK) + 1u;
    packet.run = (header & RLE_RUN_BIT) != 0;
    packet.count = std::min(length, pixels_left);
    packet.size = 1 + COLOR_PIXEL_SIZE * (packet.run ? 1 : length);
    // A cut raw packet ends the frame: it needs only the pixels it gives.
    return bytes_left - 1 >= COLOR_PIXEL_SIZE * (packet.run ? 1 : packet.count);
}

}  // namespace

bool decode_rle_reference(const std::uint8_t* packets, std::size_t packet_bytes, std::size_t pixel_count,
                          std::uint8_t* pixels)
{
    std::size_t at = 0;
    for (std::size_t done = 0; done < pixel_count;) {
        Packet packet {};
        if (!read_packet(packets + at, packet_bytes - at, pixel_count - done, packet)) {
            return false;
        }
        for (std::size_t i = 0; i < packet.count; ++i, ++done) {
            const std::uint8_t* pixel = packets + at + 1 + (packet.run ? 0 : COLOR_PIXEL_SIZE * i);
            std::memcpy(pixels + COLOR_PIXEL_SIZE * done, pixel, COLOR_PIXEL_SIZE);
        }
        at += packet.size;  // past the packets only after a cut packet, which ends the frame
    }
    return true;
}

RleCursor decode_packets(RleCursor at, const std::uint8_t* read_limit, const std::uint8_t* write_limit)
{
    return decode_unchecked<Chunks>(at, read_limit, write_limit);
}

bool decompress_rle_frame(std::size_t bytes_read)
{
    const std::size_t end = std::min(bytes_read, INPUT_BUFFER_SIZE);
    if (end < TGA_HEADER_SIZE) {
        return false;
    }
    // check_frame has bounded the pixel count by MAX_VIDEO_PIXELS, for which
    // input_buffer has room.
    const std::size_t frame_end = TGA_HEADER_SIZE + COLOR_PIXEL_SIZE * video_pixel_count();
    const std::size_t packet_bytes = end - TGA_HEADER_SIZE;
    std::memcpy(scratch_buffer, input_buffer + TGA_HEADER_SIZE, packet_bytes);
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
                         packet)) {
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
