// SPDX-License-Identifier: MIT
// --info and --to-png: a PLV file read whole into memory, checked and
// played by the PLV player library; a raw file cut into frames of the size
// given. PNG files are written with libspng's encoder, 8 bits a channel,
// each field widened by repeating its top bits: 5-bit v becomes
// (v << 3) | (v >> 2), 6-bit v becomes (v << 2) | (v >> 4).
#include "plv_inspect.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <new>
#include <vector>

#include "console.h"
#include "frame_names.h"
#include "frame_store.h"
#include "platform.h"
#include "word_format.h"

#include "plv_check.h"
#include "plv_player.h"

#ifdef PELLUCOR_PNG
#include <spng.h>
#endif

namespace {

constexpr const char* INSPECTION_USAGE =
    "Usage: pellucor --info FILE, or pellucor --to-png [--format F] FILE PATTERN [WIDTH HEIGHT]\n";
constexpr std::size_t WORD_SIZE = 2;

[[noreturn]] void refuse_usage()
{
    say("%s", INSPECTION_USAGE);
    end_run(EXIT_BAD_ARGUMENTS);
}

// The whole file, or a failure with its line.
std::vector<std::uint8_t> read_whole_file(const char* path)
{
    std::FILE* file = std::fopen(path, "rb");
    FileIdentity identity {};
    if (file == nullptr || !identity_of_stream(file, identity) || !identity.regular) {
        if (file != nullptr) std::fclose(file);
        fail(EXIT_INPUT_FAILED, "Could not open input file %s\n", path);
    }
    if (identity.size > SIZE_MAX) {
        std::fclose(file);
        fail(EXIT_INPUT_FAILED, "Not enough memory to read input file %s\n", path);
    }
    std::vector<std::uint8_t> bytes;
    try {
        bytes.resize(static_cast<std::size_t>(identity.size));
    } catch (const std::bad_alloc&) {
        std::fclose(file);
        fail(EXIT_INPUT_FAILED, "Not enough memory to read input file %s\n", path);
    }
    const std::size_t got = std::fread(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
    if (got != bytes.size()) {
        fail(EXIT_INPUT_FAILED, "Could not read input file %s\n", path);
    }
    return bytes;
}

// The line for a file the player or the check refused, and status 3.
[[noreturn]] void fail_plv(const char* path, int status, int fault, std::uint32_t frame, bool in_header)
{
    switch (status) {
    case PLV_ERR_NOT_PLV:
        fail(EXIT_INPUT_FAILED, "%s is not a PLV file\n", path);
    case PLV_ERR_VERSION:
        fail(EXIT_INPUT_FAILED, "%s is a PLV file of a version or profile this build does not read\n", path);
    case PLV_ERR_FRAME_TYPE:
        fail(EXIT_INPUT_FAILED, "%s has a frame of a type this build does not know at frame %u\n", path, frame + 1);
    default:
        break;
    }
    const char* reason = status == PLV_ERR_CRC   ? "its CRC-32 does not match"
                         : status == PLV_ERR_CUT ? "it is cut short"
                                                 : plv_fault_text(fault);
    if (in_header) {
        fail(EXIT_INPUT_FAILED, "%s is corrupt in its header: %s\n", path, reason);
    }
    fail(EXIT_INPUT_FAILED, "%s is corrupt at frame %u: %s\n", path, frame + 1, reason);
}

const char* format_name(std::uint32_t format)
{
    return format < std::size(WORD_FORMATS) ? WORD_FORMATS[format].name : "?";
}

int show_info(const char* path)
{
    const std::vector<std::uint8_t> file = read_whole_file(path);
    plv_player player;
    const int opened = plv_open_memory(&player, file.data(), file.size());
    if (opened != PLV_OK) fail_plv(path, opened, player.fault, 0, true);
    std::vector<std::uint8_t> frame, map;
    try {
        frame.resize(plv_check_frame_bytes(&player.info));
        map.resize(plv_check_map_bytes(&player.info));
    } catch (const std::bad_alloc&) {
        fail(EXIT_INPUT_FAILED, "Not enough memory for %ux%u frames\n", player.info.width, player.info.height);
    }
    plv_report report;
    const int status =
        plv_check_memory(file.data(), file.size(), frame.data(), frame.size(), map.data(), map.size(), &report);
    if (status != PLV_OK) fail_plv(path, status, report.fault, report.frame, false);

    const plv_info& header = report.header;
    say("PLV file %s\n", path);
    say("  Size: %llu bytes\n", static_cast<unsigned long long>(file.size()));
    say("  Picture: %ux%u, profile %u (%s)\n", header.width, header.height, header.profile,
        header.profile == 0 ? "no frame buffer needed" : "needs a frame buffer");
    say("  Window: %u words (the longest copy: %u)\n", header.window, report.largest_distance);
    say("  Word formats:");
    for (std::uint32_t format = 0; format < std::size(WORD_FORMATS); ++format) {
        if (report.formats & (1u << format)) say(" %s", format_name(format));
    }
    say("%s\n", report.formats == 0 ? " none" : "");
    say("  Frames: %u (%u raw, %u key, %u delta), at most %u from one key or raw frame to the next\n", report.frames,
        report.raw_frames, report.key_frames, report.delta_frames, report.key_interval);
    say("  Frame rate: %u/%u frames a second\n", header.rate_numerator, header.rate_denominator);
    say("  Largest record: %u bytes\n", report.largest_record);
    const double raw = static_cast<double>(report.frames) * WORD_SIZE * header.width * header.height;
    if (report.frames > 0 && !file.empty()) {
        say("  Ratio to raw: %.2f to 1 (raw: %.0f bytes)\n", raw / static_cast<double>(file.size()), raw);
    } else {
        say("  Ratio to raw: no frames\n");
    }
    if (report.finished) {
        say("  Finished: index and trailer\n");
    } else {
        say("  Cut short: no index or trailer, %u whole frames\n", report.frames);
    }
    return EXIT_SUCCESS;
}

#ifdef PELLUCOR_PNG

constexpr const char* FORMAT_OPTION = "--format";
constexpr int RGB_CHANNELS = 3;
constexpr unsigned FIVE_BIT_MASK = 0x1F;
constexpr unsigned GREEN_SHIFT = FIELD_BITS;
constexpr unsigned BYTE_BITS = 8;
constexpr std::uint32_t FIRST_PNG_NUMBER = 1;

// Reads WIDTH or HEIGHT: digits alone, 1 to 65535; 0 where it is none.
std::uint32_t read_size(const char* text)
{
    constexpr std::uint32_t MOST = 65535;
    std::uint32_t value = 0;
    for (const char* p = text; *p != '\0'; ++p) {
        if (!is_digit(*p) || (value = value * 10 + static_cast<std::uint32_t>(*p - '0')) > MOST) return 0;
    }
    return value;
}

// Writes one picture of 16-bit words in format as an 8-bit RGB PNG file.
void write_png(const char* name, const std::uint8_t* words, const WordFormat& format, std::uint32_t width,
               std::uint32_t height, std::vector<std::uint8_t>& rgb)
{
    const unsigned green_mask = (1u << format.green_bits) - 1;
    const std::size_t pixels = static_cast<std::size_t>(width) * height;
    for (std::size_t i = 0; i < pixels; ++i) {
        const unsigned first = words[WORD_SIZE * i], second = words[WORD_SIZE * i + 1];
        const unsigned word = format.big_endian ? first << BYTE_BITS | second : second << BYTE_BITS | first;
        const unsigned high = word >> (FIELD_BITS + format.green_bits) & FIVE_BIT_MASK;
        const unsigned green = word >> GREEN_SHIFT & green_mask;
        const unsigned low = word & FIVE_BIT_MASK;
        auto widen = [](unsigned v, unsigned bits) { return v << (BYTE_BITS - bits) | v >> (2 * bits - BYTE_BITS); };
        rgb[RGB_CHANNELS * i] = static_cast<std::uint8_t>(widen(format.blue_high ? low : high, FIELD_BITS));
        rgb[RGB_CHANNELS * i + 1] = static_cast<std::uint8_t>(widen(green, format.green_bits));
        rgb[RGB_CHANNELS * i + 2] = static_cast<std::uint8_t>(widen(format.blue_high ? high : low, FIELD_BITS));
    }
    spng_ctx* png = spng_ctx_new(SPNG_CTX_ENCODER);
    std::FILE* out = std::fopen(name, "wb");
    spng_ihdr ihdr {};
    ihdr.width = width;
    ihdr.height = height;
    ihdr.bit_depth = BYTE_BITS;
    ihdr.color_type = SPNG_COLOR_TYPE_TRUECOLOR;
    const bool written =
        png != nullptr && out != nullptr && spng_set_png_file(png, out) == 0 && spng_set_ihdr(png, &ihdr) == 0 &&
        spng_encode_image(png, rgb.data(), RGB_CHANNELS * pixels, SPNG_FMT_PNG, SPNG_ENCODE_FINALIZE) == 0;
    spng_ctx_free(png);
    const bool closed = out != nullptr && std::fclose(out) == 0;
    if (!written || !closed) {
        fail(EXIT_OUTPUT_FAILED, "Could not write PNG file %s\n", name);
    }
}

// The name of PNG number, refused where it cannot be made or is the input.
void png_name(char (&name)[FILENAME_SIZE], const char* pattern, char conversion, std::uint32_t number,
              const FileIdentity& input)
{
    FileIdentity identity {};
    if (!expand_filename(name, pattern, conversion, static_cast<std::int32_t>(number))) {
        fail(EXIT_BAD_ARGUMENTS, "Invalid file format %s\n", pattern);
    }
    if (identity_of_path(name, identity) && same_file(identity, input)) {
        fail(EXIT_BAD_ARGUMENTS, "The PNG file %s would overwrite the input file\n", name);
    }
}

int write_pngs(int argc, char** argv)
{
    const WordFormat* raw_format = nullptr;
    int at = 0;
    if (at < argc && std::strncmp(argv[at], FORMAT_OPTION, std::strlen(FORMAT_OPTION)) == 0) {
        const char* option = argv[at];
        const std::size_t length = std::strlen(FORMAT_OPTION);
        const char* value = option[length] == '=' ? option + length + 1 : nullptr;
        if (option[length] != '\0' && value == nullptr) refuse_usage();
        if (value == nullptr && ++at < argc) value = argv[at];
        if (value == nullptr) refuse_usage();
        raw_format = find_word_format(value);
        if (raw_format == nullptr) {
            fail(EXIT_BAD_ARGUMENTS,
                 "Unknown word format %s (formats: rgb555le rgb555be rgb565le rgb565be bgr555le bgr555be bgr565le "
                 "bgr565be)\n",
                 value);
        }
        ++at;
    }
    const int left = argc - at;
    const bool raw = left == 4;
    if (left != 2 && !raw) refuse_usage();
    if (raw_format != nullptr && !raw) refuse_usage();
    const char* path = argv[at];
    const char* pattern = argv[at + 1];
    const char conversion = pattern_conversion(pattern);
    if (conversion == BAD_PATTERN || conversion == NO_CONVERSION) {
        fail(EXIT_BAD_ARGUMENTS, "Invalid file format %s\n", pattern);
    }
    std::uint32_t width = 0, height = 0;
    if (raw) {
        width = read_size(argv[at + 2]);
        height = read_size(argv[at + 3]);
        if (width == 0 || height == 0 || !video_size_fits(width, height)) {
            fail(EXIT_BAD_ARGUMENTS, "Invalid video size %sx%s\n", argv[at + 2], argv[at + 3]);
        }
    }
    FileIdentity input {};
    if (!identity_of_path(path, input)) {
        fail(EXIT_INPUT_FAILED, "Could not open input file %s\n", path);
    }
    const std::vector<std::uint8_t> file = read_whole_file(path);
    char name[FILENAME_SIZE];
    std::vector<std::uint8_t> rgb;
    if (raw) {
        const std::size_t frame_bytes = WORD_SIZE * width * height;
        if (file.size() % frame_bytes != 0) {
            fail(EXIT_INPUT_FAILED, "%s is not a whole number of %ux%u frames\n", path, width, height);
        }
        rgb.resize(RGB_CHANNELS * static_cast<std::size_t>(width) * height);
        const WordFormat& format = raw_format != nullptr ? *raw_format : DEFAULT_COLOR_FORMAT;
        for (std::size_t offset = 0, number = FIRST_PNG_NUMBER; offset < file.size(); offset += frame_bytes, ++number) {
            png_name(name, pattern, conversion, static_cast<std::uint32_t>(number), input);
            write_png(name, file.data() + offset, format, width, height, rgb);
        }
        say("Done.\n");
        return EXIT_SUCCESS;
    }
    plv_player player;
    const int opened = plv_open_memory(&player, file.data(), file.size());
    if (opened != PLV_OK) fail_plv(path, opened, player.fault, 0, true);
    std::vector<std::uint8_t> frame(WORD_SIZE * player.info.width * player.info.height);
    rgb.resize(RGB_CHANNELS * static_cast<std::size_t>(player.info.width) * player.info.height);
    plv_set_frame_buffer(&player, frame.data(), frame.size(), nullptr, nullptr);
    int status;
    while ((status = plv_next_frame(&player)) == PLV_FRAME) {
        png_name(name, pattern, conversion, player.frame, input);
        write_png(name, frame.data(), WORD_FORMATS[player.last_format], player.info.width, player.info.height, rgb);
    }
    if (status != PLV_END && status != PLV_ERR_CUT) fail_plv(path, status, player.fault, player.frame, false);
    say("Done.\n");
    return EXIT_SUCCESS;
}

#endif

}  // namespace

bool is_inspection(const char* first_argument)
{
    return std::strcmp(first_argument, INFO_OPTION) == 0 || std::strcmp(first_argument, TO_PNG_OPTION) == 0;
}

int run_inspection(const char* mode, int argc, char** argv)
{
    if (std::strcmp(mode, INFO_OPTION) == 0) {
        if (argc != 1) refuse_usage();
        return show_info(argv[0]);
    }
#ifdef PELLUCOR_PNG
    return write_pngs(argc, argv);
#else
    static_cast<void>(argc);
    static_cast<void>(argv);
    fail(EXIT_BAD_ARGUMENTS, "This build writes no PNG files: --to-png needs libspng\n");
#endif
}
