// SPDX-License-Identifier: MIT
// The command line.
//
//   pellucor [OPTION...] [--] PATTERN OUTPUT FIRST LAST WIDTH HEIGHT
//
// Options come before the six arguments, each "--option VALUE",
// "--option=VALUE" or a flag. Exactly six arguments are the six, whatever
// they begin with, so that every command line without options keeps its
// meaning. Numbers are read as atoi reads them.
#include "command_line.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include "console.h"
#include "frame_names.h"
#include "frame_store.h"
#include "platform.h"
#include "jpeg_input.h"
#include "plv_write.h"
#include "plv_inspect.h"
#include "png_inflate.h"
#include "png_input.h"
#include "vector_path.h"
#include "word_format.h"

namespace {

// The six arguments, counted from the first of them.
constexpr int ARGUMENTS = 6;
enum Argument { PATTERN, OUTPUT_PATH, FIRST_FRAME, LAST_FRAME, WIDTH, HEIGHT };

constexpr const char* BANNER = "Pellucor v1.00\n";
constexpr const char* HELP_HINT = "Try 'pellucor --help'";
constexpr const char* USAGE = "Pellucor <file format \"ZOVA%04d.TGA\"> <output file> <start frame> <end frame> "
                              "<video width> <video height>";

// What the options before the six arguments say.
struct Options {
    char** arguments = nullptr;     // the six, or nullptr when the command line is refused
    const char* problem = nullptr;  // the line that says why, if not just the usage
    const char* problem_text = nullptr;
    bool help = false, version = false;
    bool honor_origin = false;
    bool dither = false;
    bool quiet = false;
    unsigned threads = 0;  // 0: as many as the process has processors
    bool plv = false;
    // The PLV options' values as given, nullptr where not given.
    const char* plv_window = nullptr;
    const char* key_every = nullptr;
    const char* fps = nullptr;
    int inspection = 0;  // where --info or --to-png is, which ends the options
};

// The most threads a run starts, whatever it is told or has.
constexpr unsigned MOST_THREADS = 64;
constexpr const char* THREADS_OPTION = "--threads";

// The options that take a word format, and which formats they set.
struct FormatOption {
    const char* name;
    bool color, gray;
};
constexpr FormatOption FORMAT_OPTIONS[] = {
    {"--format", true, true}, {"--color-format", true, false}, {"--gray-format", false, true}};
constexpr const char* END_OF_OPTIONS = "--";

// The options without a value, and what each sets.
struct FlagOption {
    const char* name;
    bool Options::*flag;
};
constexpr FlagOption FLAG_OPTIONS[] = {
    {"--help", &Options::help},     {"--version", &Options::version}, {"--honor-origin", &Options::honor_origin},
    {"--dither", &Options::dither}, {"--quiet", &Options::quiet},     {"--plv", &Options::plv}};

// The options of PLV output that take a value, and the line that refuses a
// bad one. They need --plv.
struct PlvOption {
    const char* name;
    const char* Options::*value;
    const char* invalid;
};
constexpr PlvOption PLV_OPTIONS[] = {
    {"--plv-window", &Options::plv_window, "Invalid PLV window %s (rows from 1, or frame)\n"},
    {"--key-every", &Options::key_every, "Invalid key interval %s (frames from 1)\n"},
    {"--fps", &Options::fps, "Invalid frame rate %s (N or N/D, each from 1 to 4294967295)\n"}};
constexpr const char* WHOLE_FRAME_WINDOW = "frame";
constexpr std::uint32_t DEFAULT_WINDOW_ROWS = 8, DEFAULT_KEY_EVERY = 30, DEFAULT_FPS = 30;

constexpr const char* OPTION_HELP[] = {
    "  --format F        word format F for every frame",
    "  --color-format F  word format F for color frames (rgb555le unless told)",
    "  --gray-format F   word format F for gray frames (rgb565le unless told)",
    "  --honor-origin    take each TGA frame's rows and columns in the order its header says",
    "  --dither          dither with an 8 x 8 ordered (Bayer) matrix instead of cutting the low bits",
    "  --threads N       convert frames on N threads (1 to 64; every processor the run may use unless told)",
    "  --quiet           no banner and no line a frame: only failures and \"Done.\"",
    "  --plv             write a PLV file (coded frames, header, index) instead of raw words",
    "  --plv-window ROWS rows a PLV copy may reach back (8 unless told; at most 65535 words); frame: the whole",
    "                    frame, for players with a frame buffer",
    "  --key-every N     PLV: the most frames from one key or raw frame to the next (30 unless told)",
    "  --fps N[/D]       PLV: the frame rate the header gives (30 unless told)",
    "  --                end of the options",
    "  --help, -h        this text",
    "  --version         the vector path in use and the frames this build reads",
};
constexpr const char* FORMAT_HELP[] = {
    "  rgb555le  0RRRRRGG GGGBBBBB, low byte first (color frames unless told)",
    "  rgb555be  0RRRRRGG GGGBBBBB, high byte first",
    "  rgb565le  RRRRRGGG GGGBBBBB, low byte first (gray frames unless told)",
    "  rgb565be  RRRRRGGG GGGBBBBB, high byte first (most SPI panels)",
    "  bgr555le  0BBBBBGG GGGRRRRR, low byte first",
    "  bgr555be  0BBBBBGG GGGRRRRR, high byte first",
    "  bgr565le  BBBBBGGG GGGRRRRR, low byte first",
    "  bgr565be  BBBBBGGG GGGRRRRR, high byte first",
};

constexpr const char* INSPECTION_HELP[] = {
    "  pellucor --info FILE             what a PLV file holds, and whether it is finished or cut short",
    "  pellucor --to-png FILE PATTERN   each frame of a PLV file as a PNG file named by PATTERN, from 1",
    "  pellucor --to-png [--format F] FILE PATTERN WIDTH HEIGHT",
    "                                   the same for a raw file of WIDTH x HEIGHT frames (rgb555le unless told)",
};

constexpr const char* EXIT_HELP[] = {
    "  0  every frame was converted and written",
    "  1  the command line was refused, or the output is one of the frames; no file was touched",
    "  2  the output could not be opened, is in use by another run, or could not be written",
    "  3  a frame is missing, unreadable, incomplete, of another size, or cannot be converted",
};

constexpr const char* SHORT_HELP = "-h";

// A thread count: digits alone, 1 or more, and past 64 taken as 64; 0 where
// it is no count.
unsigned read_thread_count(const char* text)
{
    unsigned count = 0;
    for (const char* p = text; *p != '\0'; ++p) {
        if (!is_digit(*p)) {
            return 0;
        }
        count = std::min(count * 10 + static_cast<unsigned>(*p - '0'), MOST_THREADS + 1);
    }
    return std::min(count, MOST_THREADS);
}  // alone on the command line

// A whole number: digits alone, up to most; false where it is none or past most.
bool read_whole_number(const char* text, std::uint64_t most, std::uint64_t& value)
{
    value = 0;
    for (const char* p = text; *p != '\0'; ++p) {
        if (!is_digit(*p)) {
            return false;
        }
        value = std::min<std::uint64_t>(value * 10 + static_cast<unsigned>(*p - '0'), most + 1);
    }
    return *text != '\0' && value <= most;
}

// Where option is name, alone or as "name=VALUE": its value, the next
// argument, or nullptr where there is none; sets found.
const char* option_value(const char* option, const char* name, int argc, char** argv, int& at, bool& found)
{
    const std::size_t length = std::strlen(name);
    found = std::strncmp(option, name, length) == 0 && (option[length] == '\0' || option[length] == '=');
    if (!found) {
        return nullptr;
    }
    return option[length] == '=' ? option + length + 1 : at + 1 < argc ? argv[++at] : nullptr;
}

// Reads the options, each "--option F" or "--option=F" or a flag, up to the
// first argument that does not begin with "--", or past "--". Exactly six
// arguments are the six, whatever they begin with, so that every command
// line without options keeps its meaning.
Options read_options(int argc, char** argv)
{
    Options options;
    int at = 1;
    if (argc == 2 && std::strcmp(argv[1], SHORT_HELP) == 0) {
        options.help = true;
        return options;
    }
    if (argc - 1 != ARGUMENTS || is_inspection(argv[1])) {
        for (; at < argc && std::strncmp(argv[at], END_OF_OPTIONS, 2) == 0; ++at) {
            const char* option = argv[at];
            if (is_inspection(option)) {
                options.inspection = at;
                return options;
            }
            if (std::strcmp(option, END_OF_OPTIONS) == 0) {
                ++at;
                break;
            }
            const FlagOption* flag = nullptr;
            for (const FlagOption& candidate : FLAG_OPTIONS) {
                if (std::strcmp(option, candidate.name) == 0) {
                    flag = &candidate;
                }
            }
            if (flag != nullptr) {
                options.*(flag->flag) = true;
                continue;
            }
            const PlvOption* plv_option = nullptr;
            for (const PlvOption& candidate : PLV_OPTIONS) {
                bool found = false;
                const char* value = option_value(option, candidate.name, argc, argv, at, found);
                if (found) {
                    plv_option = &candidate;
                    options.*(candidate.value) = value;
                    if (value == nullptr) {
                        options.problem = "Missing value after %s\n";
                        options.problem_text = option;
                        return options;
                    }
                }
            }
            if (plv_option != nullptr) {
                continue;
            }
            const std::size_t threads_length = std::strlen(THREADS_OPTION);
            if (std::strncmp(option, THREADS_OPTION, threads_length) == 0 &&
                (option[threads_length] == '\0' || option[threads_length] == '=')) {
                const char* value = option[threads_length] == '=' ? option + threads_length + 1
                                    : at + 1 < argc               ? argv[++at]
                                                                  : nullptr;
                options.threads = value != nullptr ? read_thread_count(value) : 0;
                if (options.threads == 0) {
                    options.problem =
                        value == nullptr ? "Missing thread count after %s\n" : "Invalid thread count %s\n";
                    options.problem_text = value == nullptr ? option : value;
                    return options;
                }
                continue;
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
                                  : value == nullptr
                                      ? "Missing word format after %s\n"
                                      : "Unknown word format %s (formats: rgb555le rgb555be rgb565le rgb565be "
                                        "bgr555le bgr555be bgr565le bgr565be)\n";
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

bool is_blank(char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// Reads a number as atoi does: leading blanks, a sign, digits up to the first
// non-digit, and 0 without digits. Beyond the 32-bit range it saturates to
// the nearest 32-bit value, on every platform alike.
std::int32_t read_number(const char* text)
{
    constexpr std::int64_t LIMIT = std::int64_t {INT32_MAX} + 1;
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

// The PLV settings the options give, or the line that refuses them.
const char* read_plv_settings(const Options& options, PlvSettings& settings, const char*& text)
{
    for (const PlvOption& option : PLV_OPTIONS) {
        if (!options.plv && options.*(option.value) != nullptr) {
            text = option.name;
            return "%s needs --plv\n";
        }
    }
    settings.profile = PlvProfile::stream;
    std::uint64_t rows = DEFAULT_WINDOW_ROWS, key_every = DEFAULT_KEY_EVERY;
    std::uint64_t numerator = DEFAULT_FPS, denominator = 1;
    if (options.plv_window != nullptr && std::strcmp(options.plv_window, WHOLE_FRAME_WINDOW) == 0) {
        settings.profile = PlvProfile::frame_buffer;
    } else if (options.plv_window != nullptr &&
               (!read_whole_number(options.plv_window, UINT32_MAX, rows) || rows == 0)) {
        text = options.plv_window;
        return PLV_OPTIONS[0].invalid;
    }
    if (options.key_every != nullptr &&
        (!read_whole_number(options.key_every, UINT32_MAX, key_every) || key_every == 0)) {
        text = options.key_every;
        return PLV_OPTIONS[1].invalid;
    }
    if (options.fps != nullptr) {
        const char* slash = std::strchr(options.fps, '/');
        const std::string whole = slash != nullptr ? std::string(options.fps, slash) : std::string(options.fps);
        if (!read_whole_number(whole.c_str(), UINT32_MAX, numerator) || numerator == 0 ||
            (slash != nullptr && (!read_whole_number(slash + 1, UINT32_MAX, denominator) || denominator == 0))) {
            text = options.fps;
            return PLV_OPTIONS[2].invalid;
        }
    }
    settings.window = static_cast<std::uint32_t>(rows);  // rows until the width is known
    settings.key_every = static_cast<std::uint32_t>(key_every);
    settings.rate_numerator = static_cast<std::uint32_t>(numerator);
    settings.rate_denominator = static_cast<std::uint32_t>(denominator);
    return nullptr;
}

void print_help()
{
    say("%s\n", USAGE);
    say("Options, before the six arguments:\n");
    for (const char* line : OPTION_HELP) say("%s\n", line);
    say("Word formats:\n");
    for (const char* line : FORMAT_HELP) say("%s\n", line);
    say("Looking at a video (first on the command line):\n");
    for (const char* line : INSPECTION_HELP) say("%s\n", line);
    say("Exit statuses:\n");
    for (const char* line : EXIT_HELP) say("%s\n", line);
}

void print_version()
{
    say("Vector path: %s\n", kernels().name);
    // The kinds this build reads, with their libraries, then those it lacks.
    const char* png = png_library_version();
    const char* jpeg = jpeg_library_version();
    say("Frames: TGA");
    if (png != nullptr) say(", PNG (libspng %s)", png);
    if (jpeg != nullptr) say(", JPEG (libjpeg-turbo %s)", jpeg);
    if (png == nullptr || jpeg == nullptr) {
        say("; %s frames not in this build", png == nullptr && jpeg == nullptr ? "PNG and JPEG"
                                             : png == nullptr                  ? "PNG"
                                                                               : "JPEG");
    }
    say("\n");
    if (png != nullptr) {
        // The inflate in use: PELLUCOR_PNG_DECODER=libspng sets the fast path aside.
        const char* inflate = png_decoder() == PngDecoder::fast ? png_inflate_version() : nullptr;
        if (inflate != nullptr) {
            say("PNG inflate: %s (8-bit frames), zlib via libspng (others)\n", inflate);
        } else {
            say("PNG inflate: zlib via libspng\n");
        }
    }
}

}  // namespace

Run read_command_line(int argc, char** argv)
{
    const Options options = read_options(argc, argv);
    char** const arguments = options.arguments;
    if (arguments != nullptr) {
        choose_console(arguments[OUTPUT_PATH]);
    }
    set_quiet(options.quiet);
    if (!options.quiet) {
        say("%s", BANNER);
    }
    if (options.inspection > 0) {
        const int at = options.inspection;
        std::exit(run_inspection(argv[at], argc - at - 1, argv + at + 1));
    }
    PlvSettings plv {};
    const char* plv_text = nullptr;
    const char* plv_problem = options.problem == nullptr ? read_plv_settings(options, plv, plv_text) : nullptr;
    if (plv_problem != nullptr) {
        fail(EXIT_BAD_ARGUMENTS, plv_problem, plv_text);
    }
    if (options.problem != nullptr) {
        say(options.problem, options.problem_text);
    } else if (options.help || options.version) {
        options.help ? print_help() : print_version();
        std::exit(EXIT_SUCCESS);
    }
    if (arguments == nullptr) {
        say("%s\n", USAGE);
        note_line(HELP_HINT);
        end_run(EXIT_BAD_ARGUMENTS);
    }
    Run run {};
    run.pattern = arguments[PATTERN];
    run.output_path = arguments[OUTPUT_PATH];
    run.honor_origin = options.honor_origin;
    run.dither = options.dither;
    run.threads = options.threads != 0 ? options.threads : std::min(processor_count(), MOST_THREADS);
    run.conversion = pattern_conversion(run.pattern);
    if (run.conversion == BAD_PATTERN) {
        fail(EXIT_BAD_ARGUMENTS, "Invalid file format %s\n", run.pattern);
    }
    run.first_frame = read_number(arguments[FIRST_FRAME]);
    run.last_frame = read_number(arguments[LAST_FRAME]);
    const std::int32_t width = read_number(arguments[WIDTH]);
    const std::int32_t height = read_number(arguments[HEIGHT]);
    if (!video_size_fits(width, height)) {
        fail(EXIT_BAD_ARGUMENTS, "Invalid video size %dx%d\n", width, height);
    }
    run.plv = options.plv;
    if (run.plv && (width < 1 || height < 1 || width > static_cast<std::int32_t>(PLV_MOST_SIDE) ||
                    height > static_cast<std::int32_t>(PLV_MOST_SIDE))) {
        fail(EXIT_BAD_ARGUMENTS, "Invalid video size %dx%d for PLV (1 to %u each)\n", width, height, PLV_MOST_SIDE);
    }
    if (!reserve_frame_store(width, height)) {
        fail(EXIT_BAD_ARGUMENTS, "Not enough memory for %dx%d frames\n", width, height);
    }
    if (run.plv) {
        plv.width = static_cast<std::uint32_t>(width);
        plv.height = static_cast<std::uint32_t>(height);
        plv.window = plv_window(plv.profile, plv.window, plv.width);
        run.plv_settings = plv;
        const std::int64_t frames = std::int64_t {run.last_frame} - run.first_frame + 1;
        if (!start_plv_output(plv, static_cast<std::size_t>(std::clamp<std::int64_t>(frames, 0, INT32_MAX)))) {
            fail(EXIT_BAD_ARGUMENTS, "Not enough memory for %dx%d frames\n", width, height);
        }
    }
    // The vector path is picked here, once, before any other thread runs.
    kernels();
    return run;
}
