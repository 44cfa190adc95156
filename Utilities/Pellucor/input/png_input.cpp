// SPDX-License-Identifier: MIT
// PNG frames: every color type and bit depth a conforming encoder writes,
// interlaced or not, decoded by libspng as stored and then brought into the
// packers' layout here:
//   gray, gray and alpha   a gray frame; 1-, 2- and 4-bit samples scaled to
//                          8 bits (x 255, 85, 17), 16-bit ones their high byte
//   RGB, RGBA, palette     a color frame of red, green, blue; 16-bit samples
//                          their high byte, palette entries looked up
// Alpha and tRNS are ignored, and so are gAMA, cHRM, sRGB and iCCP: the
// samples are taken as they are stored. Rows are stored top row first.
// 8-bit RGB and 8-bit gray, the common frames, need no pass of their own:
// unless interlaced, they are packed a band of rows at a time as they are
// decoded. Every chunk's CRC and the image data's Adler-32 are checked.
// Where the build has ISA-L, the 8-bit frames that are not interlaced go to
// the fast path first (png_inflate.h), which gives any frame it doubts back
// here whole.
//
// The size is checked from the header before anything is inflated; the
// library's limits on chunk sizes and on its cache of ancillary chunks make
// a decompression bomb, or a file of millions of chunks, fail quickly.
#include "png_input.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>

#ifdef PELLUCOR_PNG
#include <spng.h>

#include "pixel_pack.h"
#include "png_inflate.h"
#endif

namespace {

constexpr std::uint8_t PNG_SIGNATURE[] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};

}  // namespace

bool is_png(std::size_t bytes_read)
{
    return bytes_read >= sizeof PNG_SIGNATURE && std::memcmp(input_buffer, PNG_SIGNATURE, sizeof PNG_SIGNATURE) == 0;
}

#ifndef PELLUCOR_PNG

FrameCheck decode_png_frame(std::size_t, std::size_t, std::FILE*, SourceFrame&, bool)
{
    return {InputProblem::no_png_reader, 0, 0, 0, nullptr};
}

const char* png_library_version()
{
    return nullptr;
}

#else

namespace {

// Large enough for any real chunk and any real set of text or profiles.
constexpr std::size_t CHUNK_LIMIT = std::size_t {64} << 20;
constexpr std::size_t CACHE_LIMIT = std::size_t {64} << 20;
constexpr unsigned BITS_PER_BYTE = 8;
constexpr unsigned SAMPLE_MAX = 255;
constexpr std::size_t RGB = 3;
// Rows decoded at a time where they are packed as they come: well inside
// the level-2 cache of any processor, with the library's own rows beside.
constexpr std::size_t BAND_BYTES = std::size_t {128} << 10;

// What the library said, for the message.
FrameCheck invalid(int error)
{
    return {InputProblem::invalid_png, 0, 0, 0, spng_strerror(error)};
}

unsigned channels_of(std::uint8_t color_type)
{
    switch (color_type) {
    case SPNG_COLOR_TYPE_TRUECOLOR:
        return 3;
    case SPNG_COLOR_TYPE_GRAYSCALE_ALPHA:
        return 2;
    case SPNG_COLOR_TYPE_TRUECOLOR_ALPHA:
        return 4;
    default:
        return 1;
    }
}

// Sample i of a row of samples of the given bits, as stored: a sub-byte
// sample from the high bits of its byte first; a 16-bit sample, host-endian
// as the library gives it, as its high byte.
unsigned sample(const std::uint8_t* row, std::size_t i, unsigned bits)
{
    if (bits == 16) {
        std::uint16_t value = 0;
        std::memcpy(&value, row + 2 * i, sizeof value);
        return value >> BITS_PER_BYTE;
    }
    if (bits == 8) {
        return row[i];
    }
    const std::size_t bit = i * bits;
    const unsigned shift = BITS_PER_BYTE - bits - static_cast<unsigned>(bit % BITS_PER_BYTE);
    return row[bit / BITS_PER_BYTE] >> shift & ((1u << bits) - 1);
}

// The PNG's rows, as stored at in, into the packers' layout at out. False
// where a palette index lies past the palette.
bool convert_rows(const spng_ihdr& ihdr, const spng_plte& palette, const std::uint8_t* in, std::size_t stride,
                  std::uint8_t* out)
{
    const std::size_t width = ihdr.width, height = ihdr.height;
    const unsigned bits = ihdr.bit_depth, channels = channels_of(ihdr.color_type);
    const bool gray =
        ihdr.color_type == SPNG_COLOR_TYPE_GRAYSCALE || ihdr.color_type == SPNG_COLOR_TYPE_GRAYSCALE_ALPHA;
    const unsigned scale = bits < BITS_PER_BYTE ? SAMPLE_MAX / ((1u << bits) - 1) : 1;
    for (std::size_t y = 0; y < height; ++y) {
        const std::uint8_t* row = in + y * stride;
        for (std::size_t x = 0; x < width; ++x) {
            const std::size_t first = x * channels;
            if (gray) {
                out[y * width + x] = static_cast<std::uint8_t>(sample(row, first, bits) * scale);
            } else if (ihdr.color_type == SPNG_COLOR_TYPE_INDEXED) {
                const unsigned index = sample(row, first, bits);
                if (index >= palette.n_entries) {
                    return false;
                }
                const spng_plte_entry& entry = palette.entries[index];
                std::uint8_t* pixel = out + RGB * (y * width + x);
                pixel[0] = entry.red;
                pixel[1] = entry.green;
                pixel[2] = entry.blue;
            } else {
                std::uint8_t* pixel = out + RGB * (y * width + x);
                for (std::size_t c = 0; c < RGB; ++c) {
                    pixel[c] = static_cast<std::uint8_t>(sample(row, first + c, bits));
                }
            }
        }
    }
    return true;
}

// The last chunk of every PNG, always the same 12 bytes: length 0, IEND,
// its CRC. The library reads the chunks after the image but not IEND's CRC,
// so a file cut short there is caught here.
constexpr std::uint8_t IEND_CHUNK[] = {0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82};
constexpr std::size_t CHUNK_LENGTH = 4, CHUNK_TYPE = 4, CHUNK_CRC = 4;

std::uint64_t big_endian_32(const std::uint8_t* at)
{
    return std::uint64_t {at[0]} << 24 | std::uint64_t {at[1]} << 16 | std::uint64_t {at[2]} << 8 | at[3];
}

// Whether the file holds the whole of its IEND chunk: the chunks are walked
// by their lengths from the signature, in input_buffer, or in the file where
// it was longer than the read. Whatever follows IEND is let be, as other
// readers let it be.
bool file_has_end(bool whole, std::size_t bytes_read, std::size_t file_size, std::FILE* file)
{
    const std::uint64_t size = whole ? bytes_read : file_size;
    std::uint64_t at = sizeof PNG_SIGNATURE;
    std::uint8_t chunk[sizeof IEND_CHUNK];
    while (at <= size && size - at >= sizeof chunk) {
        if (whole) {
            std::memcpy(chunk, input_buffer + at, sizeof chunk);
        } else if (at > static_cast<std::uint64_t>(LONG_MAX) ||
                   std::fseek(file, static_cast<long>(at), SEEK_SET) != 0 ||
                   std::fread(chunk, 1, sizeof chunk, file) != sizeof chunk) {
            return false;
        }
        if (std::memcmp(chunk + CHUNK_LENGTH, IEND_CHUNK + CHUNK_LENGTH, CHUNK_TYPE) == 0) {
            return std::memcmp(chunk, IEND_CHUNK, sizeof chunk) == 0;
        }
        at += CHUNK_LENGTH + CHUNK_TYPE + big_endian_32(chunk) + CHUNK_CRC;
    }
    return false;
}

// zlib checks the Adler-32 of the image data as it inflates: a chunk CRC
// made right again over damaged data (a tool that rewrites chunks) passes
// every other check.
struct Context {
    spng_ctx* ctx = spng_ctx_new(0);
    ~Context() { spng_ctx_free(ctx); }
};

// A non-interlaced frame of 8-bit RGB or gray samples, stored as the packers
// take them, decoded a band of rows at a time into scratch_buffer and each
// band packed while it is in cache. The library's status: 0 once the last
// row is decoded.
int decode_and_pack_bands(spng_ctx* ctx, std::size_t row_bytes, const SourceFrame& frame, bool dither)
{
    int error = spng_decode_image(ctx, nullptr, 0, SPNG_FMT_PNG, SPNG_DECODE_PROGRESSIVE);
    const std::size_t height = static_cast<std::size_t>(video_height);
    const std::size_t band_rows = std::max<std::size_t>(1, BAND_BYTES / row_bytes);
    for (std::size_t first = 0; first < height && error == 0; first += band_rows) {
        const std::size_t rows = std::min(band_rows, height - first);
        for (std::size_t row = 0; row < rows && error == 0; ++row) {
            // The library says SPNG_EOI for the last row, and for it alone.
            const int status = spng_decode_row(ctx, scratch_buffer + row * row_bytes, row_bytes);
            const int last_row_status = first + row + 1 == height ? SPNG_EOI : 0;
            error = status == last_row_status ? 0 : status != 0 ? status : SPNG_EINTERNAL;
        }
        if (error == 0) {
            pack_rows(frame, first, rows, dither);
        }
    }
    return error;
}

}  // namespace

FrameCheck decode_png_frame(std::size_t bytes_read, std::size_t file_size, std::FILE* file, SourceFrame& frame,
                            bool dither)
{
    // The whole file was read when it fits input_buffer; a longer one is
    // read by the library from the file itself.
    const bool whole = bytes_read >= file_size && bytes_read < input_buffer_size;
    // The common frames take the fast path, where the build has one; any
    // frame it has a doubt about is decoded here from its start.
    if (whole && png_decoder() == PngDecoder::fast && decode_png_fast(bytes_read, frame, dither)) {
        return {};
    }
    Context png;
    if (png.ctx == nullptr) {
        return invalid(SPNG_EMEM);
    }
    int error = spng_set_chunk_limits(png.ctx, CHUNK_LIMIT, CACHE_LIMIT);
    if (error == 0) {
        error = whole ? spng_set_png_buffer(png.ctx, input_buffer, bytes_read)
                      : (std::fseek(file, 0, SEEK_SET) == 0 ? spng_set_png_file(png.ctx, file) : SPNG_EIO);
    }
    spng_ihdr ihdr {};
    if (error == 0) {
        error = spng_get_ihdr(png.ctx, &ihdr);
    }
    if (error != 0) {
        return invalid(error);
    }
    if (ihdr.width != static_cast<std::uint32_t>(video_width) ||
        ihdr.height != static_cast<std::uint32_t>(video_height)) {
        return {InputProblem::wrong_size, 0, ihdr.width, ihdr.height, nullptr};
    }
    spng_plte palette {};
    if (ihdr.color_type == SPNG_COLOR_TYPE_INDEXED && (error = spng_get_plte(png.ctx, &palette)) != 0) {
        return invalid(error);
    }
    // The samples as stored, in scratch_buffer: at most 8 bytes a pixel.
    std::size_t size = 0;
    if ((error = spng_decoded_image_size(png.ctx, SPNG_FMT_PNG, &size)) != 0) {
        return invalid(error);
    }
    if (size > scratch_buffer_size) {
        return invalid(SPNG_EBUFSIZ);
    }
    const bool gray =
        ihdr.color_type == SPNG_COLOR_TYPE_GRAYSCALE || ihdr.color_type == SPNG_COLOR_TYPE_GRAYSCALE_ALPHA;
    const bool as_stored = ihdr.bit_depth == BITS_PER_BYTE && (ihdr.color_type == SPNG_COLOR_TYPE_GRAYSCALE ||
                                                               ihdr.color_type == SPNG_COLOR_TYPE_TRUECOLOR);
    frame.pixels = scratch_buffer;
    frame.readable = scratch_buffer_size;
    frame.kind = gray ? FrameKind::gray : FrameKind::color;
    frame.pixel_size = gray ? GRAY_PIXEL_SIZE : COLOR_PIXEL_SIZE;
    frame.top_first = true;
    frame.red_first = !gray;
    frame.packed = false;
    const bool banded = as_stored && ihdr.interlace_method == SPNG_INTERLACE_NONE;
    // The library sets the bits of each pass of an interlaced image of 1-, 2-
    // or 4-bit samples into bytes that earlier passes share: those bytes
    // start clear, or the last frame's pixels show through.
    if (ihdr.interlace_method != SPNG_INTERLACE_NONE && ihdr.bit_depth < BITS_PER_BYTE) {
        std::memset(scratch_buffer, 0, size);
    }
    // The chunks after the image, up to IEND, too: a file cut short there
    // is damaged all the same.
    error = banded ? decode_and_pack_bands(png.ctx, size / ihdr.height, frame, dither)
                   : spng_decode_image(png.ctx, scratch_buffer, size, SPNG_FMT_PNG, 0);
    frame.packed = banded;
    if (error != 0 || (error = spng_decode_chunks(png.ctx)) != 0) {
        return invalid(error);
    }
    if (!file_has_end(whole, bytes_read, file_size, file)) {
        return {InputProblem::invalid_png, 0, 0, 0, "the file ends inside its last chunk"};
    }
    if (!as_stored) {
        const std::size_t stride = size / ihdr.height;
        if (!convert_rows(ihdr, palette, scratch_buffer, stride, input_buffer)) {
            return {InputProblem::invalid_png, 0, 0, 0, "a palette index past the palette"};
        }
        frame.pixels = input_buffer;
        frame.readable = input_buffer_size;
    }
    return {};
}

const char* png_library_version()
{
    return spng_version_string();
}

#endif
