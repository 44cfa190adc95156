// SPDX-License-Identifier: MIT
// JPEG frames: baseline, extended and progressive, Huffman or arithmetic
// coded, of 8-bit samples, decoded by libjpeg-turbo with its default
// settings (as its djpeg does) into the packers' layout:
//   one component (gray)         a gray frame
//   three (YCbCr or RGB)         a color frame of red, green, blue
// CMYK and YCCK frames, and samples of other than 8 bits, are refused with
// a line of their own. Rows come top row first, a band of them at a time,
// and each band is packed while it is in cache.
//
// The library's failures never end the process: its error handler jumps
// back here with the library's message, which becomes the frame's refusal.
// So do its warnings about damaged data (a file cut short, a bad Huffman
// code, bytes between markers), so that a damaged frame is not taken for a
// sound one; only the warnings about header fields that do not touch the
// pixels are let be. The size is checked from the header before any pixel
// is decoded, and a progressive file may have at most MAX_SCANS scans.
#include "jpeg_input.h"

#include <cstdint>
#include <cstring>

#ifdef PELLUCOR_JPEG
#include <algorithm>
#include <csetjmp>

#include <jpeglib.h>
#include <jerror.h>

#include "pixel_pack.h"
#endif

namespace {

// The start of image marker. No TGA begins so: its second byte, the color
// map type, is 0 or 1.
constexpr std::uint8_t JPEG_SIGNATURE[] = {0xFF, 0xD8};

}  // namespace

bool is_jpeg(std::size_t bytes_read)
{
    return bytes_read >= sizeof JPEG_SIGNATURE && std::memcmp(input_buffer, JPEG_SIGNATURE, sizeof JPEG_SIGNATURE) == 0;
}

#ifndef PELLUCOR_JPEG

FrameCheck decode_jpeg_frame(std::size_t, std::size_t, std::FILE*, SourceFrame&, bool)
{
    return {InputProblem::no_jpeg_reader, 0, 0, 0, nullptr};
}

const char* jpeg_library_version()
{
    return nullptr;
}

#else

namespace {

// A progressive frame needs about ten scans; a file of many thousands is
// made to keep a decoder busy.
constexpr long MAX_SCANS = 1000;
// Rows decoded at a time: well inside the level-2 cache of any processor,
// with the library's own buffers beside.
constexpr std::size_t BAND_BYTES = std::size_t {128} << 10;
// Rows asked of the library in one call: more than it ever gives at once.
constexpr std::size_t ROWS_PER_CALL = 16;

// The reason of a refusal, kept for the driver's line: one per thread, as
// each thread converts frames of its own.
thread_local char reason[JMSG_LENGTH_MAX];

// The library's state for one frame, and where its handlers jump to.
struct Decoder {
    jpeg_decompress_struct info;
    jpeg_error_mgr errors;
    jpeg_progress_mgr progress;
    std::jmp_buf failed;
    int message_code;
};

Decoder& decoder_of(j_common_ptr info)
{
    return *static_cast<Decoder*>(info->client_data);
}

[[noreturn]] void stop(j_common_ptr info)
{
    Decoder& decoder = decoder_of(info);
    (*info->err->format_message)(info, reason);
    decoder.message_code = info->err->msg_code;
    std::longjmp(decoder.failed, 1);
}

// Warnings (level -1) about damaged data stop the frame; trace messages
// (level 0 and up) are not shown.
void warn(j_common_ptr info, int level)
{
    const int code = info->err->msg_code;
    if (level < 0 && code != JWRN_JFIF_MAJOR && code != JWRN_ADOBE_XFORM) {
        stop(info);
    }
}

void count_scans(j_common_ptr info)
{
    const auto* decompress = reinterpret_cast<j_decompress_ptr>(info);
    if (decompress->input_scan_number > MAX_SCANS) {
        std::snprintf(reason, sizeof reason, "more than %ld scans", MAX_SCANS);
        decoder_of(info).message_code = JMSG_NOMESSAGE;
        std::longjmp(decoder_of(info).failed, 1);
    }
}

// Decodes the rows into scratch_buffer a band at a time and packs each band.
// False where the library gives no row, which a source that never suspends,
// as these, does not do.
bool decode_and_pack_bands(jpeg_decompress_struct& info, const SourceFrame& frame, bool dither)
{
    const std::size_t row_bytes = static_cast<std::size_t>(video_width) * frame.pixel_size;
    const std::size_t height = static_cast<std::size_t>(video_height);
    const std::size_t band_rows = std::max<std::size_t>(1, BAND_BYTES / row_bytes);
    SourceFrame band = frame;
    band.packed = false;
    band.pixels = scratch_buffer;
    band.readable = scratch_buffer_size;
    for (std::size_t first = 0; first < height; first += band_rows) {
        const std::size_t rows = std::min(band_rows, height - first);
        std::size_t done = 0;
        while (done < rows) {
            JSAMPROW pointers[ROWS_PER_CALL];
            const std::size_t asked = std::min(ROWS_PER_CALL, rows - done);
            for (std::size_t i = 0; i < asked; ++i) {
                pointers[i] = scratch_buffer + (done + i) * row_bytes;
            }
            const JDIMENSION given = jpeg_read_scanlines(&info, pointers, static_cast<JDIMENSION>(asked));
            if (given == 0) {
                return false;
            }
            done += given;
        }
        pack_rows(band, first, rows, dither);
    }
    return true;
}

// Everything that can fail inside the library, in one function whose only
// state lies in decoder, so that nothing is lost when stop() jumps back
// here. The check for the caller; decoder.info is created, and is the
// caller's to destroy.
FrameCheck decode(Decoder& decoder, bool whole, std::size_t bytes_read, std::FILE* file, SourceFrame& frame,
                  bool dither)
{
    jpeg_decompress_struct& info = decoder.info;
    info.err = jpeg_std_error(&decoder.errors);
    decoder.errors.error_exit = stop;
    decoder.errors.emit_message = warn;
    decoder.message_code = JMSG_NOMESSAGE;
    if (setjmp(decoder.failed) != 0) {
        if (decoder.message_code == JERR_BAD_PRECISION) {
            return {InputProblem::jpeg_precision, static_cast<unsigned>(info.data_precision), 0, 0, nullptr};
        }
        return {InputProblem::invalid_jpeg, 0, 0, 0, reason};
    }
    // Kept by jpeg_create_decompress, and needed where it fails.
    info.client_data = &decoder;
    jpeg_create_decompress(&info);
    decoder.progress.progress_monitor = count_scans;
    info.progress = &decoder.progress;
    if (whole) {
        jpeg_mem_src(&info, input_buffer, static_cast<unsigned long>(bytes_read));
    } else {
        if (std::fseek(file, 0, SEEK_SET) != 0) {
            return {InputProblem::invalid_jpeg, 0, 0, 0, "the file could not be read again"};
        }
        jpeg_stdio_src(&info, file);
    }
    jpeg_read_header(&info, TRUE);
    if (info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK) {
        return {InputProblem::cmyk_jpeg, 0, 0, 0, nullptr};
    }
    if (info.image_width != static_cast<JDIMENSION>(video_width) ||
        info.image_height != static_cast<JDIMENSION>(video_height)) {
        return {InputProblem::wrong_size, 0, info.image_width, info.image_height, nullptr};
    }
    const bool gray = info.out_color_space == JCS_GRAYSCALE;
    if (!gray && info.out_color_space != JCS_RGB) {
        std::snprintf(reason, sizeof reason, "%d components of no known color space", info.num_components);
        return {InputProblem::invalid_jpeg, 0, 0, 0, reason};
    }
    jpeg_start_decompress(&info);
    frame.pixels = scratch_buffer;
    frame.readable = scratch_buffer_size;
    frame.kind = gray ? FrameKind::gray : FrameKind::color;
    frame.pixel_size = gray ? GRAY_PIXEL_SIZE : COLOR_PIXEL_SIZE;
    frame.top_first = true;
    frame.red_first = !gray;
    // Packed as far as decoded, even where the data fails further on.
    frame.packed = true;
    if (!decode_and_pack_bands(info, frame, dither)) {
        return {InputProblem::invalid_jpeg, 0, 0, 0, "the library gave no rows"};
    }
    // Reads on to the end of image marker: a file cut short after its last
    // row is damaged all the same.
    jpeg_finish_decompress(&info);
    return {};
}

}  // namespace

#define PELLUCOR_TEXT(x) #x
#define PELLUCOR_VERSION_TEXT(x) PELLUCOR_TEXT(x)

FrameCheck decode_jpeg_frame(std::size_t bytes_read, std::size_t file_size, std::FILE* file, SourceFrame& frame,
                             bool dither)
{
    // The whole file was read when it fits input_buffer; a longer one is
    // read by the library from the file itself.
    const bool whole = bytes_read >= file_size && bytes_read < input_buffer_size;
    Decoder decoder {};
    const FrameCheck check = decode(decoder, whole, bytes_read, file, frame, dither);
    jpeg_destroy_decompress(&decoder.info);
    return check;
}

const char* jpeg_library_version()
{
    return PELLUCOR_VERSION_TEXT(LIBJPEG_TURBO_VERSION);
}

#endif
