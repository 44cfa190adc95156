// Command line and frame loop.
//
//   pellucor [--format F] [--color-format F] [--gray-format F] [--]
//            PATTERN OUTPUT FIRST LAST WIDTH HEIGHT
//
// Expands PATTERN with every frame number from FIRST to LAST, reads each frame
// file, decodes it if it is RLE, packs it and appends it to OUTPUT. Every
// message goes to standard output, or to standard error when OUTPUT is
// standard output; each failure is one line and an exit with the status that
// names it.
#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "frame_names.h"
#include "frame_store.h"
#include "pixel_pack.h"
#include "platform.h"
#include "rle_decode.h"

#if defined(__GNUC__) || defined(__clang__)
#define PELLUCOR_PRINTF(format_index, first_argument) __attribute__((format(printf, format_index, first_argument)))
#else
#define PELLUCOR_PRINTF(format_index, first_argument)
#endif

namespace {

constexpr int EXIT_BAD_ARGUMENTS = 1;
constexpr int EXIT_OUTPUT_FAILED = 2;
constexpr int EXIT_INPUT_FAILED = 3;

// The six arguments, counted from the first of them.
constexpr int ARGUMENTS = 6;
enum Argument { PATTERN, OUTPUT_PATH, FIRST_FRAME, LAST_FRAME, WIDTH, HEIGHT };

constexpr const char* USAGE = "Pellucor <file format \"ZOVA%04d.TGA\"> <output file> <start frame> <end frame> "
                              "<video width> <video height>";

// Where the messages go: standard output, unless the video does.
std::FILE* console = stdout;

void say(const char* format, ...) PELLUCOR_PRINTF(1, 2);

void say(const char* format, ...)
{
    std::va_list arguments;
    va_start(arguments, format);
    std::vfprintf(console, format, arguments);
    va_end(arguments);
}

// Prints one line and ends the run with status: the one way to fail.
[[noreturn]] void fail(int status, const char* format, ...) PELLUCOR_PRINTF(2, 3);

void fail(int status, const char* format, ...)
{
    std::va_list arguments;
    va_start(arguments, format);
    std::vfprintf(console, format, arguments);
    va_end(arguments);
    std::exit(status);
}

// What the options before the six arguments say.
struct Options {
    char** arguments = nullptr;     // the six, or nullptr when the command line is refused
    const char* problem = nullptr;  // the line that says why, if not just the usage
    const char* problem_text = nullptr;
};

// The options that take a word format, and which formats they set.
struct FormatOption {
    const char* name;
    bool color, gray;
};
constexpr FormatOption FORMAT_OPTIONS[] = {
    {"--format", true, true}, {"--color-format", true, false}, {"--gray-format", false, true}};
constexpr const char* END_OF_OPTIONS = "--";

// Reads the options, each "--option F" or "--option=F", up to the first
// argument that does not begin with "--", or past "--". Exactly six
// arguments are the six, whatever they begin with, so that every command
// line without options keeps its meaning.
Options read_options(int argc, char** argv)
{
    Options options;
    int at = 1;
    if (argc - 1 != ARGUMENTS) {
        for (; at < argc && std::strncmp(argv[at], END_OF_OPTIONS, 2) == 0; ++at) {
            const char* option = argv[at];
            if (std::strcmp(option, END_OF_OPTIONS) == 0) {
                ++at;
                break;
            }
            const FormatOption* known = nullptr;
            const char* value = nullptr;
            for (const FormatOption& candidate : FORMAT_OPTIONS) {
                const std::size_t length = std::strlen(candidate.name);
                if (std::strncmp(option, candidate.name, length) == 0 &&
                    (option[length] == '\0' || option[length] == '=')) {
                    known = &candidate;
                    value = option[length] == '=' ? option + length + 1 : at + 1 < argc ? argv[++at] : nullptr;
                }
            }
            const WordFormat* format = value != nullptr ? find_word_format(value) : nullptr;
            if (known == nullptr || format == nullptr) {
                options.problem = known == nullptr ? "Unknown option %s\n"
                                  : value == nullptr ? "Missing word format after %s\n"
                                                     : "Unknown word format %s\n";
                options.problem_text = known == nullptr || value == nullptr ? option : value;
                return options;
            }
            if (known->color) color_word_format = *format;
            if (known->gray) gray_word_format = *format;
        }
    }
    if (argc - at == ARGUMENTS) {
        options.arguments = argv + at;
    }
    return options;
}

bool is_standard_output(const FileIdentity& file)
{
    FileIdentity standard_output {};
    return identity_of_stream(stdout, standard_output) && same_file(file, standard_output);
}

bool is_digit(char c)
{
    return c >= '0' && c <= '9';
}

bool is_blank(char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// Reads a number as atoi does: leading blanks, a sign, digits up to the first
// non-digit, and 0 without digits. Beyond the 32-bit range it saturates to
// the nearest 32-bit value, on every platform alike.
std::int32_t read_number(const char* text)
{
    constexpr std::int64_t LIMIT = std::int64_t{INT32_MAX} + 1;
    while (is_blank(*text)) {
        ++text;
    }
    const bool negative = *text == '-';
    if (*text == '-' || *text == '+') {
        ++text;
    }
    std::int64_t value = 0;
    for (; is_digit(*text); ++text) {
        value = std::min(value * 10 + (*text - '0'), LIMIT);
    }
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(negative ? -value : value, INT32_MIN, INT32_MAX));
}

// Reads the whole frame file, or its first INPUT_BUFFER_SIZE bytes, into
// input_buffer in one read. False on a read error, or a read short of what
// the file holds.
bool read_frame_file(std::FILE* file, const FileIdentity& identity, std::size_t& bytes_read)
{
    // Unbuffered, as the read goes to input_buffer anyway: no buffer to set up.
    std::setvbuf(file, nullptr, _IONBF, 0);
    bytes_read = std::fread(input_buffer, 1, INPUT_BUFFER_SIZE, file);
    const bool short_read = identity.regular && bytes_read < identity.size && bytes_read < INPUT_BUFFER_SIZE;
    return !std::ferror(file) && !short_read;
}

// The output is emptied once it is open, so it must not be a frame file of
// the run: compares the open output with every frame of the range that
// exists, going on past a missing or unreadable one. Where the conversion
// lies in the file name, only the names in the folder that the pattern can
// produce are looked at, so that a huge LAST costs nothing; otherwise the
// range is walked. A pattern without a conversion names one file, and a range
// that reads no frame is still checked at FIRST and LAST.
bool output_is_a_frame(const char* pattern, char conversion, const FileIdentity& output, std::int32_t first_frame,
                       std::int32_t last_frame, std::int64_t& frame_found)
{
    frame_found = INT64_MAX;
    const auto look_at = [&](std::int64_t frame) {
        char filename[FILENAME_SIZE];
        FileIdentity input {};
        if (expand_filename(filename, pattern, conversion, static_cast<std::int32_t>(frame)) &&
            identity_of_path(filename, input) && same_file(input, output)) {
            frame_found = std::min(frame_found, frame);
        }
    };
    static NamePattern parts;
    const bool conversion_in_name = split_pattern(pattern, conversion, parts);
    FileIdentity folder {};
    if (conversion == NO_CONVERSION || first_frame > last_frame) {
        look_at(first_frame);
        if (frame_found == INT64_MAX) {
            look_at(last_frame);
        }
    } else if (conversion_in_name && open_folder(parts.folder)) {
        while (const char* name = next_name_in_folder()) {
            std::int64_t frame = 0;
            if (frame_of_name(parts, name, frame) && frame >= first_frame && frame <= last_frame) {
                look_at(frame);
            }
        }
        close_folder();
    } else if (!conversion_in_name || identity_of_path(parts.folder, folder)) {
        // A folder that cannot be looked at at all holds no frame the run can open.
        for (std::int64_t frame = first_frame; frame <= last_frame; ++frame) {
            look_at(frame);
        }
    }
    return frame_found != INT64_MAX;
}

}  // namespace

int main(int argc, char** argv)
{
    keep_standard_streams_open();
    const Options options = read_options(argc, argv);
    char** const arguments = options.arguments;
    FileIdentity output_identity {};
    if (arguments != nullptr && identity_of_path(arguments[OUTPUT_PATH], output_identity) &&
        is_standard_output(output_identity)) {
        console = stderr;  // the video goes to standard output, and nothing else may
    }
    say("Pellucor v1.00\n");
    if (options.problem != nullptr) {
        say(options.problem, options.problem_text);
    }
    if (arguments == nullptr) {
        fail(EXIT_BAD_ARGUMENTS, "%s\n", USAGE);
    }
    const char* pattern = arguments[PATTERN];
    const char* output_path = arguments[OUTPUT_PATH];

    const char conversion = pattern_conversion(pattern);
    if (conversion == BAD_PATTERN) {
        fail(EXIT_BAD_ARGUMENTS, "Invalid file format %s\n", pattern);
    }
    const std::int32_t first_frame = read_number(arguments[FIRST_FRAME]);
    const std::int32_t last_frame = read_number(arguments[LAST_FRAME]);
    const std::int32_t width = read_number(arguments[WIDTH]);
    const std::int32_t height = read_number(arguments[HEIGHT]);
    if (!video_size_fits(width, height)) {
        fail(EXIT_BAD_ARGUMENTS, "Invalid video size %dx%d\n", width, height);
    }
    video_width = width;
    video_height = height;

    // Opened as it is, and emptied only once it is known to be no frame: its
    // identity comes from the open file, so nothing can swap it in between.
    bool created = false;
    std::FILE* output = open_output(output_path, created);
    if (output == nullptr || !identity_of_stream(output, output_identity)) {
        fail(EXIT_OUTPUT_FAILED, "Could not open output file %s\n", output_path);
    }
    if (is_standard_output(output_identity)) {
        console = stderr;
    }
    std::int64_t frame_found = 0;
    if (output_is_a_frame(pattern, conversion, output_identity, first_frame, last_frame, frame_found)) {
        std::fclose(output);
        if (created) {
            std::remove(output_path);
        }
        fail(EXIT_BAD_ARGUMENTS, "Output file %s would overwrite input frame %d\n", output_path,
             static_cast<int>(frame_found));
    }
    if (!empty_output(output, output_identity)) {
        fail(EXIT_OUTPUT_FAILED, "Could not open output file %s\n", output_path);
    }
    // Unbuffered: each packed frame goes to the file in one write, so a
    // failed write is caught at the frame that caused it.
    std::setvbuf(output, nullptr, _IONBF, 0);
    guard_output(output, output_identity, PACKED_PIXEL_SIZE * video_pixel_count());

    char filename[FILENAME_SIZE];
    // 64-bit, so that a last frame of INT32_MAX still ends the loop.
    for (std::int64_t frame = first_frame; frame <= last_frame; ++frame) {
        say("Frame %d ... ", static_cast<int>(frame));
        if (!expand_filename(filename, pattern, conversion, static_cast<std::int32_t>(frame))) {
            fail(EXIT_INPUT_FAILED, "Could not open input file %s\n", pattern);
        }
        std::FILE* input = std::fopen(filename, "rb");
        if (input == nullptr) {
            fail(EXIT_INPUT_FAILED, "Could not open input file %s\n", pattern);
        }
        // The output may have come into being, or been swapped in, under a
        // frame's name since the check.
        FileIdentity input_identity {};
        const bool known = identity_of_stream(input, input_identity);
        if (known && same_file(input_identity, output_identity)) {
            fail(EXIT_BAD_ARGUMENTS, "Output file %s would overwrite input frame %d\n", output_path,
                 static_cast<int>(frame));
        }
        std::size_t bytes_read = 0;
        const bool read = read_frame_file(input, known ? input_identity : FileIdentity {}, bytes_read);
        if (std::fclose(input) != 0 || !read) {
            fail(EXIT_INPUT_FAILED, "Could not read input file %s\n", pattern);
        }
        if (check_frame(bytes_read) == FrameStatus::incomplete) {
            fail(EXIT_INPUT_FAILED, "Input file %s is incomplete\n", pattern);
        }

        const std::uint8_t type = frame_type();
        if (type == TGA_TYPE_RLE_COLOR) {
            say("Uncompressing ... ");
            if (!decompress_rle_frame(bytes_read)) {
                fail(EXIT_INPUT_FAILED, "Input file %s is incomplete\n", pattern);
            }
        }
        if (type == TGA_TYPE_GRAY) {
            say("Grayscale ... ");
            pack_gray_frame();
        } else {
            pack_color_frame();
        }

        if (!write_frame(output_buffer)) {
            cut_to_whole_frames();
            fail(EXIT_OUTPUT_FAILED, "Could not write output file %s\n", output_path);
        }
        say("OK\n");
    }

    if (std::fclose(output) != 0) {
        fail(EXIT_OUTPUT_FAILED, "Could not write output file %s\n", output_path);
    }
    say("Done.\n");
    return EXIT_SUCCESS;
}
