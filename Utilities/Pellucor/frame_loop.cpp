// SPDX-License-Identifier: MIT
// The frame loop. For each frame number from FIRST to LAST, the pattern is
// expanded, the file read in one read, told PNG, JPEG or TGA by its signature,
// checked against the run's geometry, brought into the packers' layout and
// packed; its line says "Frame N ... ", then "Uncompressing ... " for an RLE
// frame and "Grayscale ... " for a gray one, then "OK" once its words are
// written, or the line that says why it was refused.
#include "frame_loop.h"

#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdio>

#include "console.h"
#include "frame_input.h"
#include "frame_kind.h"
#include "frame_names.h"
#include "frame_store.h"
#include "jpeg_input.h"
#include "output_file.h"
#include "pixel_pack.h"
#include "plv_write.h"
#include "png_input.h"

namespace {

// What the run has written, for the summary, and whether it has said that
// frames were read bottom row first against their headers. The writing
// thread alone changes them.
std::int64_t frames_written = 0;
bool color_written = false, gray_written = false;
bool top_first_noted = false;
const auto run_started = std::chrono::steady_clock::now();

// The summary after "Done.": frames, bytes, size and word formats, the
// output and the time taken.
void note_summary(const Run& run, std::uint64_t bytes)
{
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - run_started).count();
    char formats[64] = "";
    if (color_written && gray_written) {
        std::snprintf(formats, sizeof formats, " %s (color) and %s (gray)", color_word_format.name,
                      gray_word_format.name);
    } else if (color_written || gray_written) {
        std::snprintf(formats, sizeof formats, " %s", color_written ? color_word_format.name : gray_word_format.name);
    }
    note("%lld frame%s, %llu bytes, %dx%d%s, written to %s in %.2f s", static_cast<long long>(frames_written),
         frames_written == 1 ? "" : "s", static_cast<unsigned long long>(bytes), static_cast<int>(video_width),
         static_cast<int>(video_height), formats, run.output_path, seconds);
}

// Reads the whole frame file, or its first input_buffer_size bytes, into
// input_buffer in one read. False on a read error, or a read short of what
// the file holds.
bool read_frame_file(std::FILE* file, const FileIdentity& identity, std::size_t& bytes_read)
{
    // Unbuffered, as the read goes to input_buffer anyway: no buffer to set up.
    std::setvbuf(file, nullptr, _IONBF, 0);
    bytes_read = std::fread(input_buffer, 1, input_buffer_size, file);
    const bool short_read = identity.regular && bytes_read < identity.size && bytes_read < input_buffer_size;
    return !std::ferror(file) && !short_read;
}

void refuse(FrameOutcome& outcome, int status, const char* format, ...) PELLUCOR_PRINTF(3, 4);

void refuse(FrameOutcome& outcome, int status, const char* format, ...)
{
    std::va_list arguments;
    va_start(arguments, format);
    std::va_list again;
    va_copy(again, arguments);
    const int length = std::vsnprintf(nullptr, 0, format, arguments);
    outcome.failure.resize(length > 0 ? static_cast<std::size_t>(length) : 0);
    std::vsnprintf(outcome.failure.data(), outcome.failure.size() + 1, format, again);
    va_end(again);
    va_end(arguments);
    outcome.status = status;
}

// The line that says what is wrong with a frame.
void refuse_frame(FrameOutcome& outcome, const Run& run, const FrameCheck& check)
{
    const char* pattern = run.pattern;
    switch (check.problem) {
    case InputProblem::wrong_size:
        return refuse(outcome, EXIT_INPUT_FAILED, "Input file %s is %ux%u, not %dx%d\n", pattern, check.width,
                      check.height, video_width, video_height);
    case InputProblem::color_depth:
        return refuse(outcome, EXIT_INPUT_FAILED, "Input file %s has %u-bit color pixels\n", pattern, check.value);
    case InputProblem::gray_depth:
        return refuse(outcome, EXIT_INPUT_FAILED, "Input file %s has %u-bit gray pixels\n", pattern, check.value);
    case InputProblem::index_depth:
        return refuse(outcome, EXIT_INPUT_FAILED, "Input file %s has %u-bit color-map indices\n", pattern, check.value);
    case InputProblem::no_color_map:
        return refuse(outcome, EXIT_INPUT_FAILED, "Input file %s has no color map\n", pattern);
    case InputProblem::map_entry_size:
        return refuse(outcome, EXIT_INPUT_FAILED, "Input file %s has a color map of %u-bit entries\n", pattern,
                      check.value);
    case InputProblem::index_outside_map:
        return refuse(outcome, EXIT_INPUT_FAILED, "Input file %s has color index %u outside its color map\n", pattern,
                      check.value);
    case InputProblem::tga_type:
        return refuse(outcome, EXIT_INPUT_FAILED, "Input file %s has TGA image type %u, which is not supported\n",
                      pattern, check.value);
    case InputProblem::interleaved_rows:
        return refuse(outcome, EXIT_INPUT_FAILED, "Input file %s has interleaved rows, which are not supported\n",
                      pattern);
    case InputProblem::invalid_png:
        return refuse(outcome, EXIT_INPUT_FAILED, "Input file %s is not a valid PNG: %s\n", pattern, check.reason);
    case InputProblem::no_png_reader:
        return refuse(outcome, EXIT_INPUT_FAILED, "Input file %s is a PNG, which this build cannot read\n", pattern);
    case InputProblem::invalid_jpeg:
        return refuse(outcome, EXIT_INPUT_FAILED, "Input file %s is not a valid JPEG: %s\n", pattern, check.reason);
    case InputProblem::no_jpeg_reader:
        return refuse(outcome, EXIT_INPUT_FAILED, "Input file %s is a JPEG, which this build cannot read\n", pattern);
    case InputProblem::cmyk_jpeg:
        return refuse(outcome, EXIT_INPUT_FAILED, "Input file %s is a CMYK JPEG, which is not supported\n", pattern);
    case InputProblem::jpeg_precision:
        return refuse(outcome, EXIT_INPUT_FAILED, "Input file %s is a %u-bit JPEG, which is not supported\n", pattern,
                      check.value);
    default:
        return refuse(outcome, EXIT_INPUT_FAILED, "Input file %s is incomplete\n", pattern);
    }
}

}  // namespace

FrameOutcome convert_frame(const Run& run, const FileIdentity& output, std::int32_t frame)
{
    FrameOutcome outcome;
    char filename[FILENAME_SIZE];
    if (!expand_filename(filename, run.pattern, run.conversion, frame)) {
        outcome.error = ENAMETOOLONG;
        refuse(outcome, EXIT_INPUT_FAILED, "Could not open input file %s\n", run.pattern);
        return outcome;
    }
    outcome.filename = filename;
    errno = 0;
    std::FILE* input = std::fopen(filename, "rb");
    if (input == nullptr) {
        outcome.error = errno;
        refuse(outcome, EXIT_INPUT_FAILED, "Could not open input file %s\n", run.pattern);
        return outcome;
    }
    // The output may have come into being, or been swapped in, under a
    // frame's name since the check.
    FileIdentity input_identity {};
    if (!identity_of_stream(input, input_identity)) {
        std::fclose(input);
        refuse(outcome, EXIT_INPUT_FAILED, "Could not read input file %s\n", run.pattern);
        return outcome;
    }
    if (same_file(input_identity, output)) {
        std::fclose(input);
        refuse(outcome, EXIT_BAD_ARGUMENTS, "Output file %s would overwrite input frame %d\n", run.output_path,
               static_cast<int>(frame));
        return outcome;
    }
    std::size_t bytes_read = 0;
    errno = 0;
    const bool read = read_frame_file(input, input_identity, bytes_read);
    if (!read) {
        outcome.error = errno;
    }
    // The kind is told by the file's first bytes, whatever its name; a PNG
    // or a JPEG longer than input_buffer is read on from the file, still open.
    SourceFrame source {};
    FrameCheck check {};
    const FileKind kind = read ? kind_of_file(input_buffer, bytes_read) : FileKind::tga;
    const bool png = kind == FileKind::png;
    const bool jpeg = read && !png && is_jpeg(bytes_read);
    if (png) {
        check = decode_png_frame(bytes_read, input_identity.size, input, source, run.dither);
    } else if (jpeg) {
        check = decode_jpeg_frame(bytes_read, input_identity.size, input, source, run.dither);
    }
    if (std::fclose(input) != 0 || !read) {
        refuse(outcome, EXIT_INPUT_FAILED, "Could not read input file %s\n", run.pattern);
        return outcome;
    }
    if (!png && !jpeg && kind != FileKind::tga) {
        refuse(outcome, EXIT_INPUT_FAILED, "Input file %s is %s, not a TGA or PNG frame\n", run.pattern,
               name_of_kind(kind));
        return outcome;
    }
    if (!png && !jpeg && kind == FileKind::tga) {
        TgaHeader header {};
        const bool whole_header = read_tga_header(bytes_read, header);
        check = whole_header ? decode_frame(header, bytes_read, run.honor_origin, source)
                             : FrameCheck {InputProblem::incomplete, 0, 0, 0, nullptr};
        // A file whose color-map type no TGA has, and which is no frame read
        // as one either, is named for what it is not.
        if (check.problem != InputProblem::none && !may_be_tga(bytes_read)) {
            refuse(outcome, EXIT_INPUT_FAILED, "Input file %s is not a TGA or PNG frame\n", run.pattern);
            return outcome;
        }
        outcome.compressed = whole_header && is_compressed(header);
        outcome.top_first = whole_header && !run.honor_origin && says_top_first(header);
    }
    if (check.problem != InputProblem::none) {
        refuse_frame(outcome, run, check);
        return outcome;
    }
    outcome.gray = source.kind == FrameKind::gray;
    pack_frame(source, run.dither);
    if (run.plv) {
        outcome.plv_key = code_plv_key(output_buffer);
    }
    return outcome;
}

bool show_and_write(const Run& run, std::int32_t frame, FrameOutcome& outcome, const std::uint8_t* words)
{
    // Quiet, the line is shown only where the frame fails.
    const bool quiet = is_quiet();
    const auto show = [&](bool failed) {
        if (quiet && !failed) {
            return;
        }
        say("Frame %d ... ", static_cast<int>(frame));
        if (outcome.compressed) {
            say("Uncompressing ... ");
        }
        if (outcome.gray) {
            say("Grayscale ... ");
        }
    };
    if (outcome.status != EXIT_SUCCESS) {
        show(true);
        if (outcome.error != 0) {
            explain("frame %d: %s: %s", static_cast<int>(frame), outcome.filename.c_str(),
                    system_reason(outcome.error));
        }
        return false;
    }
    show(false);
    // A hint, not a failure: --quiet leaves it out, as it does the summary.
    if (outcome.top_first && !top_first_noted && !quiet) {
        top_first_noted = true;
        note("frame %d: %s: its header says top row first; --honor-origin reads it that way", static_cast<int>(frame),
             outcome.filename.c_str());
    }
    errno = 0;
    const bool begun = frame != run.first_frame || begin_output();
    // A signal waits until the frame is written and its line is out, so
    // that the output and the log never disagree.
    hold_interruptions();
    const WordFormat& format = outcome.gray ? gray_word_format : color_word_format;
    const bool written = begun && (run.plv ? write_plv_frame(words, format, outcome.plv_key) : write_frame(words));
    const int error = errno;
    if (written) {
        ++frames_written;
        (outcome.gray ? gray_written : color_written) = true;
        if (!quiet) {
            say("OK\n");
        }
    }
    release_interruptions();
    if (!written) {
        refuse(outcome, EXIT_OUTPUT_FAILED,
               begun ? "Could not write output file %s\n" : "Could not open output file %s\n", run.output_path);
        if (quiet) {
            show(true);
        }
        if (error != 0) {
            explain("%s: %s", run.output_path, system_reason(error));
        }
    }
    return written;
}

void fail_with(const FrameOutcome& outcome)
{
    // A PLV file that stops at a frame that cannot be converted is finished
    // all the same: the frames before it play.
    if (outcome.status == EXIT_INPUT_FAILED) {
        finish_plv_output_after_failure();
    }
    fail(outcome.status, "%s", outcome.failure.c_str());
}

void convert_frames(const Run& run, const FileIdentity& output)
{
    // 64-bit, so that a last frame of INT32_MAX still ends the loop.
    for (std::int64_t frame = run.first_frame; frame <= run.last_frame; ++frame) {
        FrameOutcome outcome = convert_frame(run, output, static_cast<std::int32_t>(frame));
        if (!show_and_write(run, static_cast<std::int32_t>(frame), outcome, output_buffer)) {
            fail_with(outcome);
        }
    }
}

void finish(const Run& run)
{
    if (run.first_frame > run.last_frame && !begin_output()) {
        fail(EXIT_OUTPUT_FAILED, "Could not open output file %s\n", run.output_path);
    }
    if (run.plv && !finish_plv_output()) {
        fail(EXIT_OUTPUT_FAILED, "Could not write output file %s\n", run.output_path);
    }
    const std::uint64_t bytes = output_bytes_written();
    errno = 0;
    if (!close_output()) {
        if (errno != 0) {
            explain("%s: %s", run.output_path, system_reason(errno));
        }
        fail(EXIT_OUTPUT_FAILED, "Could not write output file %s\n", run.output_path);
    }
    say("Done.\n");
    if (!is_quiet()) {
        note_summary(run, bytes);
    }
}
