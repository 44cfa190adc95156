// SPDX-License-Identifier: MIT
// The fast path of PNG frames: 8-bit gray, gray and alpha, RGB, RGBA and
// palette frames that are not interlaced. The chunks are walked here, from
// the signature: IHDR, then PLTE and tRNS where the color type has them, the
// run of IDAT chunks, and IEND, each chunk's CRC checked. The image data,
// the IDAT chunks' data joined, is inflated by ISA-L, which checks the zlib
// header and the Adler-32, a band of rows at a time; each band is unfiltered,
// brought into the packers' layout and packed while it is in cache.
//
// Anything else, and any doubt, gives the frame back to libspng whole: an
// ancillary chunk other than a sound pHYs (libspng checks what it knows of
// them), a chunk after the image other than IEND, a critical chunk
// out of place or unknown, a size other than the run's, a bad CRC or
// Adler-32, a stream that ends before the last row or goes on after it,
// bytes after the stream's end (but for one or two in its last chunk, which
// the inflate has already taken in as bits; libspng takes those as well),
// any error of the inflate, a palette index past the palette, a filter type
// past 4. So every message and status is libspng's, as on a build without
// this path.
//
// Memory: the band of inflated rows (the inflate keeps the window it copies
// from in its own state, so a band needs nothing before it), the band
// unfiltered, with the row above it, and for the types that are not stored
// as the packers take them the band converted: all in scratch_buffer, a few
// hundred KiB a thread.
#include "png_inflate.h"

#include <cstdlib>
#include <cstring>

#ifdef PELLUCOR_PNG_INFLATE
#include <isa-l.h>

#include "pixel_pack.h"
#include "vector_path.h"
#endif

namespace {

PngDecoder decoder_in_use()
{
#ifdef PELLUCOR_PNG_INFLATE
    const char* asked = std::getenv("PELLUCOR_PNG_DECODER");
    return asked != nullptr && std::strcmp(asked, "libspng") == 0 ? PngDecoder::libspng : PngDecoder::fast;
#else
    return PngDecoder::libspng;
#endif
}

PngDecoder& chosen()
{
    static PngDecoder decoder = decoder_in_use();
    return decoder;
}

}  // namespace

PngDecoder png_decoder()
{
    return chosen();
}

bool use_png_decoder(PngDecoder decoder)
{
#ifndef PELLUCOR_PNG_INFLATE
    if (decoder == PngDecoder::fast) {
        return false;
    }
#endif
    chosen() = decoder;
    return true;
}

#ifndef PELLUCOR_PNG_INFLATE

bool decode_png_fast(std::size_t, SourceFrame&, bool)
{
    return false;
}

const char* png_inflate_version()
{
    return nullptr;
}

#else

namespace {

constexpr std::uint8_t SIGNATURE[] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
constexpr std::uint8_t IEND[] = {0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82};
constexpr std::size_t LENGTH = 4, TYPE = 4, CRC = 4, CHUNK_FRAME = LENGTH + TYPE + CRC;
constexpr std::size_t IHDR_SIZE = 13;
// PNG's limit on a chunk's length, and libspng's as the tool sets it.
constexpr std::uint32_t LENGTH_LIMIT = 0x7FFFFFFF;
constexpr std::uint32_t CHUNK_LIMIT = std::uint32_t {64} << 20;
constexpr std::size_t PALETTE_ENTRIES = 256;
constexpr std::size_t RGB = 3;
// Inflated rows a band: with the unfiltered and converted rows beside them,
// inside the level-2 cache.
constexpr std::size_t BAND_BYTES = std::size_t {128} << 10;
constexpr std::size_t ALIGN = 64;

enum ColorType : std::uint8_t { GRAY = 0, TRUECOLOR = 2, INDEXED = 3, GRAY_ALPHA = 4, TRUECOLOR_ALPHA = 6 };

std::uint32_t big_endian_32(const std::uint8_t* at)
{
    return std::uint32_t {at[0]} << 24 | std::uint32_t {at[1]} << 16 | std::uint32_t {at[2]} << 8 | at[3];
}

std::uint32_t crc_of(const std::uint8_t* data, std::size_t size)
{
    const ChunkCrc crc = kernels().chunk_crc;
    return crc != nullptr ? crc(data, size) : ~run_crc_table(~0u, data, size);
}

bool is_type(const std::uint8_t* chunk, const char* type)
{
    return std::memcmp(chunk + LENGTH, type, TYPE) == 0;
}

// The file's chunks, walked from the signature on.
struct Chunks {
    const std::uint8_t* file;
    std::size_t size;
    std::size_t at = sizeof SIGNATURE;

    // The next chunk, whole inside the file, its length within the limits
    // and its CRC right: its start, and its data's length; nullptr otherwise.
    const std::uint8_t* next(std::uint32_t& length)
    {
        if (size - at < CHUNK_FRAME) {
            return nullptr;
        }
        const std::uint8_t* chunk = file + at;
        length = big_endian_32(chunk);
        if (length > LENGTH_LIMIT || length > CHUNK_LIMIT || size - at - CHUNK_FRAME < length ||
            crc_of(chunk + LENGTH, TYPE + length) != big_endian_32(chunk + LENGTH + TYPE + length)) {
            return nullptr;
        }
        at += CHUNK_FRAME + length;
        return chunk;
    }

    // The type of the next chunk, where at least its length and type are in the file.
    bool next_is(const char* type) const { return size - at >= LENGTH + TYPE && is_type(file + at, type); }
};

struct Stream {
    inflate_state state;
    Chunks* chunks;

    // Whether another IDAT chunk follows.
    bool more() const { return chunks->next_is("IDAT"); }

    // Feeds the inflate the next IDAT chunk's data: false where that chunk
    // is not sound.
    bool feed()
    {
        std::uint32_t length = 0;
        const std::uint8_t* chunk = chunks->next(length);
        if (chunk == nullptr) {
            return false;
        }
        state.next_in = const_cast<std::uint8_t*>(chunk + LENGTH + TYPE);
        state.avail_in = length;
        return true;
    }

    // Inflates exactly size bytes to out: false where the stream fails or
    // ends first.
    bool inflate(std::uint8_t* out, std::size_t size)
    {
        state.next_out = out;
        state.avail_out = static_cast<std::uint32_t>(size);
        while (state.avail_out > 0) {
            // The inflate may hold the last bits of the image data: with no
            // IDAT chunk left, it goes on from those, and must make progress.
            if (state.block_state == ISAL_BLOCK_FINISH || (state.avail_in == 0 && more() && !feed())) {
                return false;
            }
            const std::uint32_t in = state.avail_in, left = state.avail_out;
            if (isal_inflate(&state) != ISAL_DECOMP_OK ||
                (state.avail_in == in && state.avail_out == left && state.block_state != ISAL_BLOCK_FINISH)) {
                return false;
            }
        }
        return true;
    }

    // After the last row: the stream's end, its Adler-32 checked, and
    // nothing after it, in this IDAT chunk or another.
    bool finish()
    {
        std::uint8_t spare[1];
        while (state.block_state != ISAL_BLOCK_FINISH) {
            if (state.avail_in == 0 && more() && !feed()) {
                return false;
            }
            state.next_out = spare;
            state.avail_out = sizeof spare;
            const std::uint32_t in = state.avail_in;
            if (isal_inflate(&state) != ISAL_DECOMP_OK || state.avail_out == 0 ||
                (state.avail_in == in && state.block_state != ISAL_BLOCK_FINISH)) {
                return false;
            }
        }
        return state.avail_in == 0 && !more();
    }
};

// The zlib header as zlib takes it: deflate, no preset dictionary, its
// check bits right; and a window of 32 KiB, as every encoder but for the
// smallest images writes: zlib refuses a distance past a smaller window,
// which the inflate here might not.
bool zlib_header_sound(const std::uint8_t* chunk, std::uint32_t length)
{
    if (length < 2) {
        return false;
    }
    const std::uint8_t method = chunk[LENGTH + TYPE], flags = chunk[LENGTH + TYPE + 1];
    constexpr std::uint8_t DEFLATE = 8, WINDOW_32K = 7, PRESET_DICTIONARY = 0x20;
    return (method & 0x0F) == DEFLATE && method >> 4 == WINDOW_32K && (method << 8 | flags) % 31 == 0 &&
           (flags & PRESET_DICTIONARY) == 0;
}

std::size_t round_up(std::size_t size)
{
    return (size + ALIGN - 1) / ALIGN * ALIGN;
}

thread_local Stream stream;

}  // namespace

bool decode_png_fast(std::size_t bytes_read, SourceFrame& frame, bool dither)
{
    Chunks chunks {input_buffer, bytes_read};
    std::uint32_t length = 0;
    if (bytes_read < sizeof SIGNATURE || std::memcmp(input_buffer, SIGNATURE, sizeof SIGNATURE) != 0 ||
        !chunks.next_is("IHDR")) {
        return false;
    }
    const std::uint8_t* header = chunks.next(length);
    if (header == nullptr || length != IHDR_SIZE) {
        return false;
    }
    const std::uint8_t* ihdr = header + LENGTH + TYPE;
    const std::uint32_t width = big_endian_32(ihdr), height = big_endian_32(ihdr + 4);
    const std::uint8_t depth = ihdr[8], color_type = ihdr[9];
    // 8-bit samples, deflate, PNG's one filter method, not interlaced.
    if (width == 0 || height == 0 || width != static_cast<std::uint32_t>(video_width) ||
        height != static_cast<std::uint32_t>(video_height) || depth != 8 || ihdr[10] != 0 || ihdr[11] != 0 ||
        ihdr[12] != 0) {
        return false;
    }
    unsigned pixel_bytes = 0;
    switch (color_type) {
    case GRAY:
    case INDEXED:
        pixel_bytes = 1;
        break;
    case GRAY_ALPHA:
        pixel_bytes = 2;
        break;
    case TRUECOLOR:
        pixel_bytes = 3;
        break;
    case TRUECOLOR_ALPHA:
        pixel_bytes = 4;
        break;
    default:
        return false;
    }
    // Up to the image: a palette frame's PLTE, then its tRNS where it has
    // one, and pHYs, which FFmpeg writes, where its values are sound.
    std::size_t entries = 0;
    const std::uint8_t* palette = nullptr;
    bool transparency = false, physical = false;
    while (!chunks.next_is("IDAT")) {
        const std::uint8_t* chunk = chunks.next(length);
        if (chunk == nullptr) {
            return false;
        }
        const std::uint8_t* data = chunk + LENGTH + TYPE;
        if (is_type(chunk, "pHYs")) {
            constexpr std::uint32_t PHYS_SIZE = 9, METRE = 1;
            if (physical || length != PHYS_SIZE || big_endian_32(data) > LENGTH_LIMIT ||
                big_endian_32(data + 4) > LENGTH_LIMIT || data[8] > METRE) {
                return false;
            }
            physical = true;
        } else if (is_type(chunk, "PLTE")) {
            if (color_type != INDEXED || palette != nullptr || transparency || length == 0 || length % RGB != 0 ||
                length / RGB > PALETTE_ENTRIES) {
                return false;
            }
            entries = length / RGB;
            palette = data;
        } else if (is_type(chunk, "tRNS")) {
            if (palette == nullptr || transparency || length == 0 || length > entries) {
                return false;
            }
            transparency = true;
        } else {
            return false;
        }
    }
    if (color_type == INDEXED && palette == nullptr) {
        return false;
    }
    // The zlib header: the first IDAT chunk's first two bytes, where the file holds them.
    if (!chunks.next_is("IDAT") || bytes_read - chunks.at < LENGTH + TYPE + 2 ||
        !zlib_header_sound(input_buffer + chunks.at, big_endian_32(input_buffer + chunks.at))) {
        return false;
    }

    // The bands' places in scratch_buffer; a frame whose rows do not fit goes to libspng.
    const std::size_t w = width, h = height, row_bytes = w * pixel_bytes, filtered_bytes = row_bytes + 1;
    const bool as_stored = color_type == GRAY || color_type == TRUECOLOR;
    const bool gray = color_type == GRAY || color_type == GRAY_ALPHA;
    const std::size_t out_pixel = gray ? 1 : RGB;
    std::size_t band_rows = BAND_BYTES / filtered_bytes;
    band_rows = band_rows == 0 ? 1 : band_rows > h ? h : band_rows;
    const std::size_t rows_offset = round_up(band_rows * filtered_bytes) + round_up(row_bytes);
    const std::size_t converted_offset = rows_offset + round_up(band_rows * row_bytes);
    const std::size_t needed = converted_offset + (as_stored ? 0 : band_rows * w * out_pixel) + BUFFER_SLACK;
    if (needed > scratch_buffer_size) {
        return false;
    }
    std::uint8_t* raw = scratch_buffer;
    std::uint8_t* rows = scratch_buffer + rows_offset;
    std::uint8_t* converted = as_stored ? rows : scratch_buffer + converted_offset;
    std::memset(rows - row_bytes, 0, row_bytes);

    stream.chunks = &chunks;
    isal_inflate_init(&stream.state);
    stream.state.crc_flag = ISAL_ZLIB;

    frame.pixels = converted;
    frame.readable = scratch_buffer_size - static_cast<std::size_t>(converted - scratch_buffer);
    frame.kind = gray ? FrameKind::gray : FrameKind::color;
    frame.pixel_size = out_pixel;
    frame.top_first = true;
    frame.red_first = !gray;
    frame.packed = false;
    const PngUnfilter unfilter = kernels().unfilter_png_row;
    for (std::size_t first = 0; first < h; first += band_rows) {
        const std::size_t band = band_rows < h - first ? band_rows : h - first;
        const std::size_t band_bytes = band * filtered_bytes;
        if (!stream.inflate(raw, band_bytes)) {
            return false;
        }
        for (std::size_t y = 0; y < band; ++y) {
            std::uint8_t* row = rows + y * row_bytes;
            if (!unfilter(raw + y * filtered_bytes, row - row_bytes, row, row_bytes, pixel_bytes)) {
                return false;
            }
        }
        const std::size_t band_pixels = band * w;
        if (color_type == INDEXED) {
            for (std::size_t i = 0; i < band_pixels; ++i) {
                const std::size_t index = rows[i];
                if (index >= entries) {
                    return false;
                }
                std::memcpy(converted + RGB * i, palette + RGB * index, RGB);
            }
        } else if (color_type == GRAY_ALPHA) {
            for (std::size_t i = 0; i < band_pixels; ++i) converted[i] = rows[2 * i];
        } else if (color_type == TRUECOLOR_ALPHA) {
            for (std::size_t i = 0; i < band_pixels; ++i) {
                converted[RGB * i] = rows[4 * i];
                converted[RGB * i + 1] = rows[4 * i + 1];
                converted[RGB * i + 2] = rows[4 * i + 2];
            }
        }
        // The next band's row above, before dithering changes the band's pixels.
        std::memcpy(rows - row_bytes, rows + (band - 1) * row_bytes, row_bytes);
        pack_rows(frame, first, band, dither);
    }
    if (!stream.finish() || bytes_read - chunks.at < sizeof IEND ||
        std::memcmp(input_buffer + chunks.at, IEND, sizeof IEND) != 0) {
        return false;
    }
    frame.packed = true;
    return true;
}

const char* png_inflate_version()
{
#define PELLUCOR_STRING(x) #x
#define PELLUCOR_VERSION(major, minor, patch)                                                                          \
    "ISA-L " PELLUCOR_STRING(major) "." PELLUCOR_STRING(minor) "." PELLUCOR_STRING(patch)
    return PELLUCOR_VERSION(ISAL_MAJOR_VERSION, ISAL_MINOR_VERSION, ISAL_PATCH_VERSION);
#undef PELLUCOR_VERSION
#undef PELLUCOR_STRING
}

#endif
