// SPDX-License-Identifier: MIT
// Frame input: TGA frames of every kind into the layout the packers take.
//
// The TGA header, 18 bytes, little-endian:
//   0      image ID length; the ID follows the header and is skipped
//   1      color-map type: 1 when a color map follows the ID
//   2      image type: 1 color-mapped, 2 true color, 3 gray; 9, 10, 11 the
//          same with RLE; any other value is read as 2
//   3-4    first color-map index     5-6  color-map length
//   7      color-map entry bits: 15, 16, 24 or 32
//   12-13  width                     14-15  height
//   16     bits per pixel            17  descriptor: bit 4 right to left,
//                                        bit 5 top row first
// Pixels, after the ID and the map:
//   color   24 bits blue, green, red; 32 bits blue, green, red, alpha;
//           15 and 16 bits a little-endian word xRRRRRGG GGGBBBBB
//   gray    8 bits, or 16 bits: gray, then alpha
//   mapped  8- or 16-bit indices into the map, whose entries are color pixels
// Alpha is ignored. A 5-bit channel becomes 8 bits as (v << 3) | (v >> 2).
//
// 24-bit color and 8-bit gray, raw or RLE, are the packers' own layout: raw
// ones are packed where they were read, RLE ones where they are decoded. The
// other kinds take one more pass, to 3-byte color or 1-byte gray pixels.
#include "frame_input.h"

#include <algorithm>
#include <cstring>

#include "rle_decode.h"

namespace {

constexpr std::size_t ID_LENGTH_OFFSET = 0, MAP_TYPE_OFFSET = 1, MAP_FIRST_OFFSET = 3, MAP_LENGTH_OFFSET = 5,
                      MAP_ENTRY_OFFSET = 7, WIDTH_OFFSET = 12, HEIGHT_OFFSET = 14, DEPTH_OFFSET = 16,
                      DESCRIPTOR_OFFSET = 17;
constexpr std::uint8_t MAP_PRESENT = 1;
constexpr std::uint8_t RIGHT_TO_LEFT = 0x10, TOP_FIRST = 0x20;
constexpr unsigned BITS_PER_BYTE = 8;
constexpr unsigned FIVE_BITS = 0x1F;
constexpr unsigned RED_SHIFT = 10, GREEN_SHIFT = 5;
constexpr std::size_t ALPHA_PIXEL_SIZE = 4;

std::uint16_t little_endian(const std::uint8_t* at)
{
    return static_cast<std::uint16_t>(at[0] | at[1] << BITS_PER_BYTE);
}

// How the stored pixels of a frame are to be read.
enum class Stored { color24, color32, color16, gray8, gray16, mapped8, mapped16 };

std::size_t stored_size(Stored stored)
{
    switch (stored) {
    case Stored::color24:
        return 3;
    case Stored::color32:
        return 4;
    case Stored::gray8:
    case Stored::mapped8:
        return 1;
    default:
        return 2;
    }
}

// A color map entry's bytes: 15 and 16 bits take 2, 24 take 3, 32 take 4.
bool map_entry_size(unsigned bits, std::size_t& size)
{
    if (bits != 15 && bits != 16 && bits != 24 && bits != 32) {
        return false;
    }
    size = (bits + BITS_PER_BYTE - 1) / BITS_PER_BYTE;
    return true;
}

std::uint8_t widen(unsigned five_bits)
{
    return static_cast<std::uint8_t>(five_bits << 3 | five_bits >> 2);
}

// One stored color pixel of size bytes as blue, green, red.
void to_color(const std::uint8_t* stored, std::size_t size, std::uint8_t* pixel)
{
    if (size == 2) {
        const unsigned word = little_endian(stored);
        pixel[TGA_BLUE] = widen(word & FIVE_BITS);
        pixel[TGA_GREEN] = widen(word >> GREEN_SHIFT & FIVE_BITS);
        pixel[TGA_RED] = widen(word >> RED_SHIFT & FIVE_BITS);
    } else {
        std::memcpy(pixel, stored, COLOR_PIXEL_SIZE);
    }
}

// Classifies the pixels by type and depth, or says what the type cannot take.
FrameCheck classify(const TgaHeader& header, Stored& stored)
{
    const unsigned depth = header.depth;
    switch (header.type) {
    case TGA_TYPE_GRAY:
    case TGA_TYPE_RLE_GRAY:
        if (depth != 8 && depth != 16) return {InputProblem::gray_depth, depth, 0, 0, nullptr};
        stored = depth == 8 ? Stored::gray8 : Stored::gray16;
        return {};
    case TGA_TYPE_MAPPED:
    case TGA_TYPE_RLE_MAPPED:
        if (depth != 8 && depth != 16) return {InputProblem::index_depth, depth, 0, 0, nullptr};
        if (header.map_type != MAP_PRESENT) return {InputProblem::no_color_map, 0, 0, 0, nullptr};
        stored = depth == 8 ? Stored::mapped8 : Stored::mapped16;
        return {};
    default:
        if (depth == 24)
            stored = Stored::color24;
        else if (depth == 32)
            stored = Stored::color32;
        else if (depth == 15 || depth == 16)
            stored = Stored::color16;
        else
            return {InputProblem::color_depth, depth, 0, 0, nullptr};
        return {};
    }
}

// The color map as 3-byte pixels in color_table, by index. Entries past the
// largest 16-bit index can never be looked up.
void load_color_map(const TgaHeader& header, const std::uint8_t* map, std::size_t entry_size)
{
    for (std::size_t i = 0; i < header.map_length; ++i) {
        const std::size_t index = std::size_t {header.map_first} + i;
        if (index * COLOR_PIXEL_SIZE < COLOR_TABLE_SIZE) {
            to_color(map + entry_size * i, entry_size, color_table + COLOR_PIXEL_SIZE * index);
        }
    }
}

// The pixels of a color-mapped frame looked up; false at the first index
// outside the map.
bool look_up(const TgaHeader& header, const std::uint8_t* indices, std::size_t size, std::size_t pixels,
             std::uint8_t* out, unsigned& bad_index)
{
    const std::size_t first = header.map_first;
    const std::size_t end = first + header.map_length;
    for (std::size_t i = 0; i < pixels; ++i) {
        const std::size_t index = size == 1 ? indices[i] : little_endian(indices + 2 * i);
        if (index < first || index >= end) {
            bad_index = static_cast<unsigned>(index);
            return false;
        }
        std::memcpy(out + COLOR_PIXEL_SIZE * i, color_table + COLOR_PIXEL_SIZE * index, COLOR_PIXEL_SIZE);
    }
    return true;
}

// Stored pixels other than the packers' own into 3-byte color or 1-byte
// gray, one loop for each kind.
void convert(Stored stored, const std::uint8_t* in, std::size_t pixels, std::uint8_t* out)
{
    switch (stored) {
    case Stored::gray16:
        for (std::size_t i = 0; i < pixels; ++i) out[i] = in[2 * i];
        break;
    case Stored::color32:
        for (std::size_t i = 0; i < pixels; ++i) {
            std::memcpy(out + COLOR_PIXEL_SIZE * i, in + ALPHA_PIXEL_SIZE * i, COLOR_PIXEL_SIZE);
        }
        break;
    default:
        for (std::size_t i = 0; i < pixels; ++i) to_color(in + 2 * i, 2, out + COLOR_PIXEL_SIZE * i);
        break;
    }
}

// Reverses the pixels of each row, for frames stored right to left.
void mirror_rows(std::uint8_t* pixels, std::size_t width, std::size_t height, std::size_t pixel_size)
{
    for (std::size_t row = 0; row < height; ++row) {
        std::uint8_t* left = pixels + row * width * pixel_size;
        std::uint8_t* right = left + (width - 1) * pixel_size;
        for (; left < right; left += pixel_size, right -= pixel_size) {
            std::swap_ranges(left, left + pixel_size, right);
        }
    }
}

}  // namespace

bool read_tga_header(std::size_t bytes_read, TgaHeader& header)
{
    if (bytes_read < TGA_HEADER_SIZE) {
        return false;
    }
    const std::uint8_t* at = input_buffer;
    header.id_length = at[ID_LENGTH_OFFSET];
    header.map_type = at[MAP_TYPE_OFFSET];
    header.type = at[TGA_TYPE_OFFSET];
    header.map_first = little_endian(at + MAP_FIRST_OFFSET);
    header.map_length = little_endian(at + MAP_LENGTH_OFFSET);
    header.map_entry_bits = at[MAP_ENTRY_OFFSET];
    header.width = little_endian(at + WIDTH_OFFSET);
    header.height = little_endian(at + HEIGHT_OFFSET);
    header.depth = at[DEPTH_OFFSET];
    header.descriptor = at[DESCRIPTOR_OFFSET];
    return true;
}

bool is_compressed(const TgaHeader& header)
{
    return header.type == TGA_TYPE_RLE_MAPPED || header.type == TGA_TYPE_RLE_COLOR || header.type == TGA_TYPE_RLE_GRAY;
}

bool says_top_first(const TgaHeader& header)
{
    return (header.descriptor & TOP_FIRST) != 0;
}

FrameCheck decode_frame(const TgaHeader& header, std::size_t bytes_read, bool honor_origin, SourceFrame& frame)
{
    if (header.width != static_cast<std::uint32_t>(video_width) ||
        header.height != static_cast<std::uint32_t>(video_height)) {
        return {InputProblem::wrong_size, 0, header.width, header.height, nullptr};
    }
    Stored stored = Stored::color24;
    if (const FrameCheck check = classify(header, stored); check.problem != InputProblem::none) {
        return check;
    }
    std::size_t map_size = 0;
    if (header.map_type == MAP_PRESENT) {
        std::size_t entry_size = 0;
        if (!map_entry_size(header.map_entry_bits, entry_size)) {
            return {InputProblem::map_entry_size, header.map_entry_bits, 0, 0, nullptr};
        }
        map_size = entry_size * header.map_length;
    }
    // The header, ID and map are at most TGA_MAX_PREAMBLE bytes, inside
    // input_buffer; bytes_read is at most its size.
    const std::size_t map_offset = TGA_HEADER_SIZE + header.id_length;
    const std::size_t data_offset = map_offset + map_size;
    const std::size_t end = std::min(bytes_read, input_buffer_size);
    if (end < data_offset) {
        return {InputProblem::incomplete, 0, 0, 0, nullptr};
    }
    if (stored == Stored::mapped8 || stored == Stored::mapped16) {
        std::size_t entry_size = 0;
        map_entry_size(header.map_entry_bits, entry_size);
        load_color_map(header, input_buffer + map_offset, entry_size);
    }

    const std::size_t pixels = video_pixel_count();
    const std::size_t size = stored_size(stored);
    const bool gray = stored == Stored::gray8 || stored == Stored::gray16;
    std::uint8_t* data = input_buffer + data_offset;  // the stored pixels, once decoded
    bool in_scratch = false;
    if (is_compressed(header) && stored == Stored::color24) {
        if (!decompress_rle_frame(end, data_offset)) {
            return {InputProblem::incomplete, 0, 0, 0, nullptr};
        }
        data = input_buffer + TGA_HEADER_SIZE;
    } else if (is_compressed(header)) {
        // At most 4 bytes a pixel, which scratch_buffer holds.
        if (!decode_rle_pixels(data, end - data_offset, pixels, size, scratch_buffer)) {
            return {InputProblem::incomplete, 0, 0, 0, nullptr};
        }
        data = scratch_buffer;
        in_scratch = true;
    } else if (end - data_offset < size * pixels) {
        return {InputProblem::incomplete, 0, 0, 0, nullptr};
    }

    // A conversion goes to the other buffer: the frame was read into
    // input_buffer and decoded into scratch_buffer.
    std::uint8_t* spare = in_scratch ? input_buffer : scratch_buffer;
    if (stored == Stored::mapped8 || stored == Stored::mapped16) {
        unsigned bad_index = 0;
        if (!look_up(header, data, size, pixels, spare, bad_index)) {
            return {InputProblem::index_outside_map, bad_index, 0, 0, nullptr};
        }
        data = spare;
        in_scratch = !in_scratch;
    } else if (stored != Stored::color24 && stored != Stored::gray8) {
        convert(stored, data, pixels, spare);
        data = spare;
        in_scratch = !in_scratch;
    }

    const std::size_t pixel_size = gray ? GRAY_PIXEL_SIZE : COLOR_PIXEL_SIZE;
    if (honor_origin && (header.descriptor & RIGHT_TO_LEFT) != 0 && pixels != 0) {
        mirror_rows(data, static_cast<std::size_t>(video_width), static_cast<std::size_t>(video_height), pixel_size);
    }
    const std::size_t offset = static_cast<std::size_t>(data - (in_scratch ? scratch_buffer : input_buffer));
    frame.pixels = data;
    frame.readable = (in_scratch ? scratch_buffer_size : input_buffer_size) - offset;
    frame.kind = gray ? FrameKind::gray : FrameKind::color;
    frame.pixel_size = pixel_size;
    frame.top_first = honor_origin && (header.descriptor & TOP_FIRST) != 0;
    frame.red_first = false;
    frame.packed = false;
    return {};
}
