// SPDX-License-Identifier: MIT
// libFuzzer target: arbitrary bytes through the per-frame path of the command
// line (the TGA header, the frame input stage, the RLE decoder, the
// packers), in process.
//
// Input: byte 0's low bit picks --honor-origin, its next bit --dither; byte
// 1 the word format; byte
// 2's high bits the kernels' path where the processor has it. The rest is
// the frame file, a TGA or, by its signature, a PNG or a JPEG. The run's geometry is the header's own where it is at
// most 511 x 7 pixels (past every vector chunk of 64 pixels and its tails), so that every type and depth is reached;
// otherwise the header's size modulo that, which the stage must refuse. A frame that the stage accepts must have packed
// exactly 2 x width x height bytes that match the reference formula (dithered, with --dither) on the pixels it handed
// over; a frame it refuses must have left output_buffer alone, except that an 8-bit RGB or gray PNG frame that is not
// interlaced, packed band by band as it is decoded, may have packed rows before its fault: never past its words; so may
// any JPEG frame, always packed band by band, whose geometry is that of its first frame header where it fits. 24-bit
// RLE frames are also decoded by the reference decoder, which must agree on whether the frame is complete and on every
// pixel.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iterator>

#ifdef PELLUCOR_FUZZ_ZLIB
#include <zlib.h>
#endif

#include "dither.h"
#include "frame_input.h"
#include "frame_kind.h"
#include "frame_store.h"
#include "jpeg_input.h"
#include "png_inflate.h"
#include "png_input.h"
#include "pixel_pack.h"
#include "rle_decode.h"
#include "vector_path.h"
#include "word_format.h"

namespace {

constexpr std::size_t OPTION_BYTES = 3;
constexpr unsigned MAX_WIDTH = 512;
constexpr unsigned MAX_HEIGHT = 8;
constexpr unsigned PATH_SHIFT = 3;
constexpr std::size_t WATCHED_OUTPUT = PACKED_PIXEL_SIZE * MAX_WIDTH * MAX_HEIGHT + 64;
constexpr std::uint8_t SENTINEL = 0xA5;
constexpr std::size_t WIDTH_OFFSET = 12, HEIGHT_OFFSET = 14, DEPTH_OFFSET = 16;
constexpr unsigned TRUE_COLOR_DEPTH = 24;
constexpr std::uint8_t INTERLEAVED_ROWS = 0xC0;  // descriptor bits 6-7, refused

std::uint8_t reference_pixels[COLOR_PIXEL_SIZE * MAX_WIDTH * MAX_HEIGHT];
std::uint8_t spng_words[WATCHED_OUTPUT];
std::uint8_t undithered[COLOR_PIXEL_SIZE * MAX_WIDTH * MAX_HEIGHT];

void check(bool condition)
{
    if (!condition) {
        std::abort();
    }
}

unsigned little_endian_pair(std::uint8_t low, std::uint8_t high)
{
    return low | high << 8u;
}

unsigned little_endian(const std::uint8_t* at)
{
    return little_endian_pair(at[0], at[1]);
}

// The damaged zlib streams that ISA-L inflates and zlib refuses, by zlib's
// words for them: the one difference the two PNG decoders may show, a
// Huffman code that is incomplete. (Too many codes, and the codes that no
// stream may use, ISA-L refuses as zlib does.) The
// image data (the IDAT chunks' data joined, the chunks walked by their
// lengths) is inflated by zlib here.
bool zlib_refuses_what_isal_takes(const std::uint8_t* file, std::size_t size)
{
#ifdef PELLUCOR_FUZZ_ZLIB
    // zlib's words for an incomplete code: of the code lengths, of the
    // literals and lengths, of the distances.
    static const char* const DIFFERENCES[] = {"invalid code lengths set", "invalid literal/lengths set",
                                              "invalid distances set"};
    static std::uint8_t data[1 << 20];
    std::size_t joined = 0;
    for (std::size_t at = 8; size - at >= 12;) {
        const std::size_t length = std::size_t {file[at]} << 24 | std::size_t {file[at + 1]} << 16 |
                                   std::size_t {file[at + 2]} << 8 | file[at + 3];
        if (length > size - at - 12) break;
        if (std::memcmp(file + at + 4, "IDAT", 4) == 0 && length <= sizeof data - joined) {
            std::memcpy(data + joined, file + at + 8, length);
            joined += length;
        }
        at += 12 + length;
    }
    static std::uint8_t out[1 << 16];
    z_stream stream {};
    if (inflateInit(&stream) != Z_OK) return false;
    stream.next_in = data;
    stream.avail_in = static_cast<uInt>(joined);
    int status = Z_OK;
    while (status == Z_OK) {
        stream.next_out = out;
        stream.avail_out = sizeof out;
        status = inflate(&stream, Z_NO_FLUSH);
    }
    bool known = false;
    for (const char* message : DIFFERENCES) {
        known = known || (status == Z_DATA_ERROR && stream.msg != nullptr && std::strcmp(stream.msg, message) == 0);
    }
    inflateEnd(&stream);
    return known;
#else
    (void)file;
    (void)size;
    return false;
#endif
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const bool reserved = reserve_frame_store(MAX_WIDTH - 1, MAX_HEIGHT - 1);
    check(reserved);
    if (size < OPTION_BYTES) {
        return 0;
    }
    const bool honor_origin = (data[0] & 1u) != 0;
    const bool dither = (data[0] & 2u) != 0;
    color_word_format = gray_word_format = WORD_FORMATS[data[1] % std::size(WORD_FORMATS)];
    const auto table = kernel_table();
    use_vector_path(table[(data[2] >> PATH_SHIFT) % table.size()].path);
    const std::size_t bytes_read = std::min(size - OPTION_BYTES, input_buffer_size);
    const std::uint8_t* file = data + OPTION_BYTES;
    std::memcpy(input_buffer, file, bytes_read);
    std::memset(output_buffer, SENTINEL, WATCHED_OUTPUT);

    // The kind is told from any bytes, read where the file lies, never past them.
    const FileKind kind = kind_of_file(file, bytes_read);
    check((kind == FileKind::png) == is_png(bytes_read));
    check((kind == FileKind::tga || kind == FileKind::png) == (name_of_kind(kind) == nullptr));
    SourceFrame frame {};
    if (is_png(bytes_read)) {
        // The PNG header's own size where it fits, big-endian at bytes 16 and 20.
        constexpr std::size_t PNG_WIDTH = 16, PNG_HEIGHT = 20, PNG_HEADER_END = 24;
        const auto big_endian = [&](std::size_t at) {
            return static_cast<std::uint32_t>(file[at] << 24 | file[at + 1] << 16 | file[at + 2] << 8 | file[at + 3]);
        };
        constexpr std::size_t PNG_DEPTH = 24, PNG_COLOR_TYPE = 25, PNG_INTERLACE = 28;
        const bool sized = bytes_read >= PNG_HEADER_END;
        const bool banded = bytes_read > PNG_INTERLACE && file[PNG_DEPTH] == 8 &&
                            (file[PNG_COLOR_TYPE] == 0 || file[PNG_COLOR_TYPE] == 2) && file[PNG_INTERLACE] == 0;
        const bool fast_types = bytes_read > PNG_INTERLACE && file[PNG_DEPTH] == 8 && file[PNG_COLOR_TYPE] != 1 &&
                                file[PNG_COLOR_TYPE] != 5 && file[PNG_COLOR_TYPE] <= 6 && file[PNG_INTERLACE] == 0;
        video_width = static_cast<std::int32_t>(sized ? big_endian(PNG_WIDTH) % MAX_WIDTH : 1);
        video_height = static_cast<std::int32_t>(sized ? big_endian(PNG_HEIGHT) % MAX_HEIGHT : 1);
        // Both decoders, libspng's first, on the same bytes (its conversions
        // write over input_buffer): the same verdict, words and message.
        const bool both = use_png_decoder(PngDecoder::libspng);
        FrameCheck verdicts[2] {};
        for (int run = 0; run < (both ? 2 : 1); ++run) {
            use_png_decoder(run == 0 ? PngDecoder::libspng : PngDecoder::fast);
            std::memcpy(input_buffer, file, bytes_read);
            std::memset(output_buffer, SENTINEL, WATCHED_OUTPUT);
            verdicts[run] = decode_png_frame(bytes_read, bytes_read, nullptr, frame, dither);
            const bool accepted = verdicts[run].problem == InputProblem::none;
            // libspng packs 8-bit RGB and gray band by band; the fast path
            // every 8-bit frame that is not interlaced, unless it gave the
            // frame to libspng.
            const bool packed_as_decoded = run == 0 ? banded : fast_types;
            check(!accepted || (run == 0 ? frame.packed == banded
                                : banded ? frame.packed
                                         : fast_types || !frame.packed));
            if (accepted) {
                pack_frame(frame, dither);
            }
            const std::size_t words = PACKED_PIXEL_SIZE * video_pixel_count();
            for (std::size_t i = accepted || packed_as_decoded ? words : 0; i < WATCHED_OUTPUT; ++i) {
                check(output_buffer[i] == SENTINEL);
            }
            if (run == 0) {
                std::memcpy(spng_words, output_buffer, words);
            } else if (verdicts[0].problem == InputProblem::none && accepted) {
                check(std::memcmp(spng_words, output_buffer, words) == 0);
            }
        }
        if (both) {
            const FrameCheck &spng = verdicts[0], &fast = verdicts[1];
            const bool same = spng.problem == fast.problem && spng.value == fast.value && spng.width == fast.width &&
                              spng.height == fast.height && (spng.reason == nullptr) == (fast.reason == nullptr) &&
                              (spng.reason == nullptr || std::strcmp(spng.reason, fast.reason) == 0);
            check(same || (fast.problem == InputProblem::none && spng.reason != nullptr &&
                           std::strcmp(spng.reason, "IDAT stream error") == 0 &&
                           zlib_refuses_what_isal_takes(file, bytes_read)));
        }
        use_png_decoder(PngDecoder::fast);
        return 0;
    }
    if (is_jpeg(bytes_read)) {
        // The first frame header's size (any SOFn marker: C0 to CF but C4,
        // C8 and CC), big-endian height then width after length and precision.
        constexpr std::uint8_t SOF_FIRST = 0xC0, SOF_LAST = 0xCF, DHT = 0xC4, JPG = 0xC8, DAC = 0xCC;
        constexpr std::size_t SOF_HEIGHT = 5, SOF_WIDTH = 7, SOF_END = 9;
        video_width = video_height = 1;
        for (std::size_t at = 0; at + SOF_END <= bytes_read; ++at) {
            const std::uint8_t marker = file[at + 1];
            if (file[at] == 0xFF && marker >= SOF_FIRST && marker <= SOF_LAST && marker != DHT && marker != JPG &&
                marker != DAC) {
                video_height = static_cast<std::int32_t>(
                    little_endian_pair(file[at + SOF_HEIGHT + 1], file[at + SOF_HEIGHT]) % MAX_HEIGHT);
                video_width = static_cast<std::int32_t>(
                    little_endian_pair(file[at + SOF_WIDTH + 1], file[at + SOF_WIDTH]) % MAX_WIDTH);
                break;
            }
        }
        const FrameCheck result = decode_jpeg_frame(bytes_read, bytes_read, nullptr, frame, dither);
        const bool accepted = result.problem == InputProblem::none;
        check(!accepted || frame.packed);
        check(result.problem != InputProblem::invalid_jpeg || (result.reason != nullptr && *result.reason != 0));
        for (std::size_t i = PACKED_PIXEL_SIZE * video_pixel_count(); i < WATCHED_OUTPUT; ++i) {
            check(output_buffer[i] == SENTINEL);
        }
        return 0;
    }
    TgaHeader header {};
    bool accepted = read_tga_header(bytes_read, header);
    if (accepted) {
        const unsigned width = little_endian(file + WIDTH_OFFSET), height = little_endian(file + HEIGHT_OFFSET);
        const bool fits = width < MAX_WIDTH && height < MAX_HEIGHT;
        video_width = static_cast<std::int32_t>(fits ? width : width % MAX_WIDTH);
        video_height = static_cast<std::int32_t>(fits ? height : height % MAX_HEIGHT);
    }
    const bool plain_rle = accepted && header.type == TGA_TYPE_RLE_COLOR && header.depth == TRUE_COLOR_DEPTH &&
                           header.map_type != 1 && file[DEPTH_OFFSET] == TRUE_COLOR_DEPTH &&
                           (header.descriptor & INTERLEAVED_ROWS) == 0;
    const std::size_t data_offset = TGA_HEADER_SIZE + (accepted ? header.id_length : 0u);
    if (accepted) {
        const FrameCheck result = decode_frame(header, bytes_read, honor_origin, frame);
        accepted = result.problem == InputProblem::none;
        const bool right_size =
            header.width == static_cast<unsigned>(video_width) && header.height == static_cast<unsigned>(video_height);
        check(right_size || result.problem == InputProblem::wrong_size);
        if (plain_rle && right_size && !honor_origin && bytes_read >= data_offset) {
            const std::size_t pixels = video_pixel_count();
            const bool expected =
                decode_rle_reference(file + data_offset, bytes_read - data_offset, pixels, reference_pixels);
            check(accepted == expected);
            check(!accepted || std::memcmp(frame.pixels, reference_pixels, COLOR_PIXEL_SIZE * pixels) == 0);
        }
    }
    // The pixels as the stage handed them over, before any dithering.
    const std::size_t pixel_size = accepted ? frame.pixel_size : COLOR_PIXEL_SIZE;
    if (accepted) {
        std::memcpy(undithered, frame.pixels, pixel_size * video_pixel_count());
        pack_frame(frame, dither);
    }

    const bool gray = accepted && frame.kind == FrameKind::gray;
    const std::size_t width = static_cast<std::size_t>(video_width);
    const std::size_t height = static_cast<std::size_t>(video_height);
    const std::size_t packed = accepted ? PACKED_PIXEL_SIZE * width * height : 0;
    for (std::size_t i = packed; i < WATCHED_OUTPUT; ++i) {
        check(output_buffer[i] == SENTINEL);
    }
    const WordFormat& format = gray ? gray_word_format : color_word_format;
    for (std::size_t y = 0; accepted && y < height; ++y) {
        const std::size_t row = frame.top_first ? y : height - 1 - y;
        for (std::size_t x = 0; x < width; ++x) {
            const std::uint8_t* p = undithered + (row * width + x) * pixel_size;
            const unsigned red = pixel_size == GRAY_PIXEL_SIZE ? p[0] : p[TGA_RED];
            const unsigned green = pixel_size == GRAY_PIXEL_SIZE ? p[0] : p[TGA_GREEN];
            const unsigned blue = pixel_size == GRAY_PIXEL_SIZE ? p[0] : p[TGA_BLUE];
            std::uint8_t word[PACKED_PIXEL_SIZE];
            const unsigned value = dither ? pack_dithered_word(red, green, blue, BAYER[y % 8][x % 8], format)
                                          : pack_word(red, green, blue, format);
            store_word(word, value, format);
            check(std::memcmp(word, output_buffer + PACKED_PIXEL_SIZE * (y * width + x), PACKED_PIXEL_SIZE) == 0);
        }
    }
    return 0;
}
