// SPDX-License-Identifier: MIT
// Command line and frame loop.
//
//   pellucor [OPTION...] [--] PATTERN OUTPUT FIRST LAST WIDTH HEIGHT
//
// Expands PATTERN with every frame number from FIRST to LAST, reads each frame
// file, brings it into the packers' layout (frame_input.h), packs it and
// appends it to OUTPUT. Every message goes to standard output, or to
// standard error when OUTPUT is standard output; each failure is one line and
// an exit with the status that names it.
#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "frame_input.h"
#include "frame_names.h"
#include "frame_store.h"
#include "pixel_pack.h"
#include "platform.h"
#include "png_input.h"
#include "vector_path.h"

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

constexpr const char* BANNER = "Pellucor v1.00\n";
constexpr const char* USAGE = "Pellucor <file format \"ZOVA%04d.TGA\"> <output file> <start frame> <end frame> "
                              "<video width> <video height>";

// Where the messages go: standard output, unless the video does; nowhere
// when standard error is the video too.
std::FILE* console = stdout;

void say(const char* format, ...) PELLUCOR_PRINTF(1, 2);

// A finished line is flushed, so that a log shows every frame in the output.
void say(const char* format, ...)
{
    if (console == nullptr) {
        return;
    }
    std::va_list arguments;
    va_start(arguments, format);
    std::vfprintf(console, format, arguments);
    va_end(arguments);
    const std::size_t length = std::strlen(format);
    if (length > 0 && format[length - 1] == '\n') {
        std::fflush(console);
    }
}

// Prints one line and ends the run with status: the one way to fail. The
// output is left as abandon_output says.
[[noreturn]] void fail(int status, const char* format, ...) PELLUCOR_PRINTF(2, 3);

void fail(int status, const char* format, ...)
{
    if (console != nullptr) {
        std::va_list arguments;
        va_start(arguments, format);
        std::vfprintf(console, format, arguments);
        va_end(arguments);
        std::fflush(console);
    }
    abandon_output();
    std::exit(status);
}

// What the command line asks for.
struct Run {
    const char* pattern;
    const char* output_path;
    char conversion;
    std::int32_t first_frame, last_frame;
    bool honor_origin;
    bool dither;
    unsigned threads;
};

// What the options before the six arguments say.
struct Options {
    char** arguments = nullptr;     // the six, or nullptr when the command line is refused
    const char* problem = nullptr;  // the line that says why, if not just the usage
    const char* problem_text = nullptr;
    bool help = false, version = false;
    bool honor_origin = false;
    bool dither = false;
    unsigned threads = 0;  // 0: as many as the process has processors
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
constexpr FlagOption FLAG_OPTIONS[] = {{"--help", &Options::help},
                                       {"--version", &Options::version},
                                       {"--honor-origin", &Options::honor_origin},
                                       {"--dither", &Options::dither}};

constexpr const char* OPTION_HELP[] = {
    "  --format F        word format F for every frame",
    "  --color-format F  word format F for color frames (rgb555le unless told)",
    "  --gray-format F   word format F for gray frames (rgb565le unless told)",
    "  --honor-origin    take each TGA frame's rows and columns in the order its header says",
    "  --dither          dither with an 8 x 8 ordered (Bayer) matrix instead of cutting the low bits",
    "  --threads N       convert frames on N threads (1 to 64; every processor the run may use unless told)",
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
    if (argc - 1 != ARGUMENTS) {
        for (; at < argc && std::strncmp(argv[at], END_OF_OPTIONS, 2) == 0; ++at) {
            const char* option = argv[at];
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

// Messages go to standard error when the video goes to standard output, and
// nowhere when standard error is the same file or pipe as the video.
void choose_console(const char* output_path)
{
    FileIdentity output {}, standard_output {}, standard_error {};
    if (!identity_of_path(output_path, output) || !identity_of_descriptor(STANDARD_OUTPUT, standard_output) ||
        !same_file(output, standard_output)) {
        return;
    }
    const bool shared = identity_of_descriptor(STANDARD_ERROR, standard_error) &&
                        same_file(standard_error, standard_output) && !standard_output.device;
    console = shared ? nullptr : stderr;
}

void print_help()
{
    say("%s\n", USAGE);
    say("Options, before the six arguments:\n");
    for (const char* line : OPTION_HELP) say("%s\n", line);
    say("Word formats:\n");
    for (const char* line : FORMAT_HELP) say("%s\n", line);
    say("Exit statuses:\n");
    for (const char* line : EXIT_HELP) say("%s\n", line);
}

void print_version()
{
    say("Vector path: %s\n", kernels().name);
    const char* png = png_library_version();
    png != nullptr ? say("Frames: TGA, PNG (libspng %s)\n", png) : say("Frames: TGA; PNG frames not in this build\n");
}

// Reads the command line: prints the banner, answers --help and --version,
// and fails with status 1 on anything it refuses.
Run read_command_line(int argc, char** argv)
{
    const Options options = read_options(argc, argv);
    char** const arguments = options.arguments;
    if (arguments != nullptr) {
        choose_console(arguments[OUTPUT_PATH]);
    }
    say("%s", BANNER);
    if (options.problem != nullptr) {
        say(options.problem, options.problem_text);
    } else if (options.help || options.version) {
        options.help ? print_help() : print_version();
        std::exit(EXIT_SUCCESS);
    }
    if (arguments == nullptr) {
        fail(EXIT_BAD_ARGUMENTS, "%s\n", USAGE);
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
    if (!reserve_frame_store(width, height)) {
        fail(EXIT_BAD_ARGUMENTS, "Not enough memory for %dx%d frames\n", width, height);
    }
    // The vector path is picked here, once, before any other thread runs.
    kernels();
    return run;
}

// The output is emptied once the first frame is packed, so it must not be a
// frame file of the run: compares the open output with every frame of the
// range that exists, going on past a missing or unreadable one. Where the
// conversion lies in the file name, only the names in the folder that can be
// frames of the range are looked at, so that a huge LAST costs nothing; where
// the folder cannot be listed, or its listing fails partway, the range is
// walked. A pattern without a conversion names one file, and a range that
// reads no frame is still checked at FIRST and LAST.
bool output_is_a_frame(const Run& run, const FileIdentity& output, std::int64_t& frame_found)
{
    frame_found = INT64_MAX;
    const auto look_at = [&](std::int64_t frame) {
        char filename[FILENAME_SIZE];
        FileIdentity input {};
        if (frame >= run.first_frame && frame <= run.last_frame && frame < frame_found &&
            expand_filename(filename, run.pattern, run.conversion, static_cast<std::int32_t>(frame)) &&
            identity_of_path(filename, input) && same_file(input, output)) {
            frame_found = frame;
        }
    };
    static char folder[FILENAME_SIZE];
    static NameText text;
    const bool conversion_in_name =
        frame_folder(run.pattern, run.conversion, folder) && name_text(run.pattern, run.conversion, text);
    FileIdentity folder_identity {};
    if (run.conversion == NO_CONVERSION || run.first_frame > run.last_frame) {
        for (const std::int32_t frame : {run.first_frame, run.last_frame}) {
            char filename[FILENAME_SIZE];
            FileIdentity input {};
            if (frame_found == INT64_MAX && expand_filename(filename, run.pattern, run.conversion, frame) &&
                identity_of_path(filename, input) && same_file(input, output)) {
                frame_found = frame;
            }
        }
        return frame_found != INT64_MAX;
    }
    if (conversion_in_name && open_folder(folder)) {
        const char* name = nullptr;
        Listing listing = Listing::name;
        while ((listing = next_name_in_folder(name)) == Listing::name) {
            frame_numbers_in_name(text, run.conversion, name, look_at);
        }
        close_folder();
        if (listing == Listing::end) {
            return frame_found != INT64_MAX;
        }
    } else if (conversion_in_name && !identity_of_path(folder, folder_identity)) {
        return false;  // a folder that is not there holds no frame the run can open
    }
    for (std::int64_t frame = run.first_frame; frame <= run.last_frame && frame < frame_found; ++frame) {
        look_at(frame);
    }
    return frame_found != INT64_MAX;
}

// Opens the output as it is and checks it: emptied only once the first frame
// is packed, and never when it is one of the run's frames. Its identity comes
// from the open file, so nothing can swap it in between.
FileIdentity open_and_check_output(const Run& run)
{
    FileIdentity output {};
    const OutputOpen opened = open_output(run.output_path, PACKED_PIXEL_SIZE * video_pixel_count(), output);
    if (opened == OutputOpen::in_use) {
        fail(EXIT_OUTPUT_FAILED, "Output file %s is in use by another run\n", run.output_path);
    }
    if (opened != OutputOpen::ok) {
        fail(EXIT_OUTPUT_FAILED, "Could not open output file %s\n", run.output_path);
    }
    std::int64_t frame_found = 0;
    if (output_is_a_frame(run, output, frame_found)) {
        fail(EXIT_BAD_ARGUMENTS, "Output file %s would overwrite input frame %d\n", run.output_path,
             static_cast<int>(frame_found));
    }
    return output;
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

// What converting one frame came to: the steps its line shows, and where it
// failed, the exit status and the line that says why. Its words are in the
// output_buffer of the thread that converted it.
struct FrameOutcome {
    bool compressed = false;  // "Uncompressing ... "
    bool gray = false;        // "Grayscale ... "
    int status = EXIT_SUCCESS;
    std::string failure;
};

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
    case InputProblem::invalid_png:
        return refuse(outcome, EXIT_INPUT_FAILED, "Input file %s is not a valid PNG: %s\n", pattern, check.reason);
    case InputProblem::no_png_reader:
        return refuse(outcome, EXIT_INPUT_FAILED, "Input file %s is a PNG, which this build cannot read\n", pattern);
    default:
        return refuse(outcome, EXIT_INPUT_FAILED, "Input file %s is incomplete\n", pattern);
    }
}

// One frame: read, checked, brought into the packers' layout and packed
// into this thread's output_buffer. Prints nothing, and may run on any
// thread that has a frame store of its own.
FrameOutcome convert_frame(const Run& run, const FileIdentity& output, std::int32_t frame)
{
    FrameOutcome outcome;
    char filename[FILENAME_SIZE];
    if (!expand_filename(filename, run.pattern, run.conversion, frame)) {
        refuse(outcome, EXIT_INPUT_FAILED, "Could not open input file %s\n", run.pattern);
        return outcome;
    }
    std::FILE* input = std::fopen(filename, "rb");
    if (input == nullptr) {
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
    const bool read = read_frame_file(input, input_identity, bytes_read);
    // A PNG is told by its signature, whatever its name; a PNG longer than
    // input_buffer is read on from the file, still open.
    SourceFrame source {};
    FrameCheck check {};
    const bool png = read && is_png(bytes_read);
    if (png) {
        check = decode_png_frame(bytes_read, input_identity.size, input, source, run.dither);
    }
    if (std::fclose(input) != 0 || !read) {
        refuse(outcome, EXIT_INPUT_FAILED, "Could not read input file %s\n", run.pattern);
        return outcome;
    }
    if (!png) {
        TgaHeader header {};
        if (!read_tga_header(bytes_read, header)) {
            refuse(outcome, EXIT_INPUT_FAILED, "Input file %s is incomplete\n", run.pattern);
            return outcome;
        }
        outcome.compressed = is_compressed(header);
        check = decode_frame(header, bytes_read, run.honor_origin, source);
    }
    if (check.problem != InputProblem::none) {
        refuse_frame(outcome, run, check);
        return outcome;
    }
    outcome.gray = source.kind == FrameKind::gray;
    pack_frame(source, run.dither);
    return outcome;
}

// Prints the frame's line as far as its outcome goes and writes its words:
// the line and the bytes of one thread, whichever thread converted it.
// False, with the failure in the outcome, where the run ends here.
bool show_and_write(const Run& run, std::int32_t frame, FrameOutcome& outcome, const std::uint8_t* words)
{
    say("Frame %d ... ", static_cast<int>(frame));
    if (outcome.compressed) {
        say("Uncompressing ... ");
    }
    if (outcome.status != EXIT_SUCCESS) {
        return false;
    }
    if (outcome.gray) {
        say("Grayscale ... ");
    }
    if (frame == run.first_frame && !begin_output()) {
        refuse(outcome, EXIT_OUTPUT_FAILED, "Could not open output file %s\n", run.output_path);
        return false;
    }
    if (!write_frame(words)) {
        refuse(outcome, EXIT_OUTPUT_FAILED, "Could not write output file %s\n", run.output_path);
        return false;
    }
    say("OK\n");
    return true;
}

[[noreturn]] void fail_with(const FrameOutcome& outcome)
{
    fail(outcome.status, "%s", outcome.failure.c_str());
}

// The frames on this thread alone, one after another.
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

// Frames in parallel: worker threads, each with a frame store of its own,
// convert the frames ahead of the one being written, worker i frames
// FIRST + i, FIRST + i + workers, and so on; this thread shows and writes
// them strictly in frame order, as one thread would. A worker hands each
// frame over in its slot and goes on with its next one in a second output
// buffer, so that a frame slower than the rest holds up no one; it waits
// only while both its frames wait to be written. When a frame fails,
// nothing after it is shown or written: the workers stop, are joined, and
// the run fails as one thread would.
constexpr std::size_t SLOT_FRAMES = 2;

struct Slot {
    std::mutex lock;
    std::condition_variable changed;
    bool reserved = false, started = false;
    std::size_t place = 0;  // among the workers that have buffers
    // The frames converted and not yet written, oldest first, in a ring.
    std::size_t waiting = 0, oldest = 0;
    FrameOutcome outcome[SLOT_FRAMES];
    const std::uint8_t* words[SLOT_FRAMES] = {};
};

struct Pipeline {
    const Run* run;
    const FileIdentity* output;
    std::vector<Slot> slots;  // one a worker
    // Shared by every slot: set before each slot's lock is taken to wake it.
    std::atomic<std::size_t> workers {0};  // those that have their buffers
    std::atomic<bool> stop {false};
};

void work(Pipeline& pipeline, Slot& slot)
{
    const bool reserved = reserve_frame_buffers();
    // Without the memory for a second output buffer, the worker waits for
    // each frame to be written before it converts the next.
    std::uint8_t* const buffers[SLOT_FRAMES] = {output_buffer, reserved ? reserve_spare_output() : nullptr};
    const std::size_t depth = buffers[1] != nullptr ? SLOT_FRAMES : 1;
    std::unique_lock<std::mutex> lock(slot.lock);
    slot.reserved = reserved;
    slot.started = true;
    slot.changed.notify_all();
    // The writer numbers the workers once it knows which have buffers.
    slot.changed.wait(lock, [&] { return pipeline.workers != 0 || pipeline.stop; });
    const Run& run = *pipeline.run;
    std::size_t next = 0;  // the buffer the next frame goes to
    for (std::int64_t frame = run.first_frame + static_cast<std::int64_t>(slot.place);
         reserved && frame <= run.last_frame; frame += static_cast<std::int64_t>(pipeline.workers.load())) {
        slot.changed.wait(lock, [&] { return slot.waiting < depth || pipeline.stop; });
        if (pipeline.stop) {
            break;
        }
        lock.unlock();
        output_buffer = buffers[next];
        FrameOutcome outcome = convert_frame(run, *pipeline.output, static_cast<std::int32_t>(frame));
        lock.lock();
        const std::size_t at = (slot.oldest + slot.waiting) % SLOT_FRAMES;
        slot.outcome[at] = std::move(outcome);
        slot.words[at] = buffers[next];
        ++slot.waiting;
        next = (next + 1) % depth;
        slot.changed.notify_all();
    }
    // The writer may still be writing from the buffers.
    slot.changed.wait(lock, [&] { return slot.waiting == 0 || pipeline.stop; });
    lock.unlock();
    output_buffer = buffers[0];
    release_spare_output(buffers[1]);
    release_frame_buffers();
}

void stop_and_join(Pipeline& pipeline, std::vector<std::thread>& threads)
{
    pipeline.stop = true;
    for (Slot& slot : pipeline.slots) {
        std::lock_guard<std::mutex> lock(slot.lock);
        slot.changed.notify_all();
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
}

// Converts the frames on the run's threads: on this one alone where it has
// one, or where no other thread can have the memory for its buffers.
void convert_frames_in_parallel(const Run& run, const FileIdentity& output)
{
    const std::int64_t frames = std::int64_t {run.last_frame} - run.first_frame + 1;
    if (run.threads <= 1 || frames <= 1) {
        return convert_frames(run, output);
    }
    const std::size_t threads = static_cast<std::size_t>(std::min<std::int64_t>(run.threads, frames));
    Pipeline pipeline {&run, &output, std::vector<Slot>(threads)};
    std::vector<std::thread> workers;
    for (std::size_t i = 0; i < threads; ++i) {
        workers.emplace_back(work, std::ref(pipeline), std::ref(pipeline.slots[i]));
    }
    // Which have their buffers: the workers are numbered among those.
    std::vector<Slot*> order;
    for (Slot& slot : pipeline.slots) {
        std::unique_lock<std::mutex> lock(slot.lock);
        slot.changed.wait(lock, [&] { return slot.started; });
        if (slot.reserved) {
            order.push_back(&slot);
        }
    }
    if (order.empty()) {
        stop_and_join(pipeline, workers);
        return convert_frames(run, output);
    }
    // This thread converts nothing from here on: its buffers go back.
    release_frame_buffers();
    for (std::size_t place = 0; place < order.size(); ++place) {
        std::lock_guard<std::mutex> lock(order[place]->lock);
        order[place]->place = place;
    }
    pipeline.workers = order.size();
    for (Slot& slot : pipeline.slots) {
        std::lock_guard<std::mutex> lock(slot.lock);
        slot.changed.notify_all();
    }
    for (std::int64_t frame = run.first_frame; frame <= run.last_frame; ++frame) {
        Slot& slot = *order[static_cast<std::size_t>(frame - run.first_frame) % order.size()];
        std::unique_lock<std::mutex> lock(slot.lock);
        slot.changed.wait(lock, [&] { return slot.waiting != 0; });
        // The worker leaves the oldest frame be until it is handed back.
        FrameOutcome& outcome = slot.outcome[slot.oldest];
        const std::uint8_t* words = slot.words[slot.oldest];
        lock.unlock();
        if (!show_and_write(run, static_cast<std::int32_t>(frame), outcome, words)) {
            stop_and_join(pipeline, workers);
            fail_with(outcome);
        }
        lock.lock();
        slot.oldest = (slot.oldest + 1) % SLOT_FRAMES;
        --slot.waiting;
        slot.changed.notify_all();
    }
    stop_and_join(pipeline, workers);
}

// A run of no frames empties the output all the same.
void finish(const Run& run)
{
    if (run.first_frame > run.last_frame && !begin_output()) {
        fail(EXIT_OUTPUT_FAILED, "Could not open output file %s\n", run.output_path);
    }
    if (!close_output()) {
        fail(EXIT_OUTPUT_FAILED, "Could not write output file %s\n", run.output_path);
    }
    say("Done.\n");
}

}  // namespace

int main(int argc, char** argv)
{
    keep_standard_streams_open();
    const Run run = read_command_line(argc, argv);
    const FileIdentity output = open_and_check_output(run);
    convert_frames_in_parallel(run, output);
    finish(run);
    return EXIT_SUCCESS;
}
