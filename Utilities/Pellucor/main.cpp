// Command line and frame loop.
//
//   pellucor PATTERN OUTPUT FIRST LAST WIDTH HEIGHT
//
// Expands PATTERN with every frame number from FIRST to LAST, reads each frame
// file, decodes it if it is RLE, packs it and appends it to OUTPUT. Every
// message goes to standard output; each failure is one line and an exit with
// the status that names it.
#include <sys/stat.h>
#include <sys/types.h>

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef NOGDI
#define NOGDI
#endif
#include <windows.h>
#endif

#include "frame_store.h"
#include "pixel_pack.h"
#include "rle_decode.h"

#ifndef _WIN32
// Long sequences make outputs far over 2 GiB: a 32-bit host needs 64-bit
// file offsets (_FILE_OFFSET_BITS=64) to write them.
static_assert(sizeof(off_t) >= 8, "pellucor needs 64-bit file offsets");
#endif

#if defined(__GNUC__) || defined(__clang__)
#define PELLUCOR_PRINTF(format_index, first_argument) __attribute__((format(printf, format_index, first_argument)))
#else
#define PELLUCOR_PRINTF(format_index, first_argument)
#endif

namespace {

constexpr int EXIT_BAD_ARGUMENTS = 1;
constexpr int EXIT_OUTPUT_FAILED = 2;
constexpr int EXIT_INPUT_FAILED = 3;

constexpr int ARGUMENT_COUNT = 7;
enum Argument { PATTERN = 1, OUTPUT_PATH, FIRST_FRAME, LAST_FRAME, WIDTH, HEIGHT };

constexpr char NO_CONVERSION = '\0';
constexpr char BAD_PATTERN = '!';
constexpr const char* CONVERSION_FLAGS = "-+ #0";
constexpr const char* INTEGER_CONVERSIONS = "diouxX";

constexpr const char* USAGE = "Pellucor <file format \"ZOVA%04d.TGA\"> <output file> <start frame> <end frame> "
                              "<video width> <video height>";

// Prints one line and ends the run with status: the one way to fail.
[[noreturn]] void fail(int status, const char* format, ...) PELLUCOR_PRINTF(2, 3);

void fail(int status, const char* format, ...)
{
    std::va_list arguments;
    va_start(arguments, format);
    std::vprintf(format, arguments);
    va_end(arguments);
    std::exit(status);
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

bool is_one_of(char c, const char* set)
{
    return c != '\0' && std::strchr(set, c) != nullptr;
}

// The pattern is used as a printf format with the frame number as its one
// argument, so it may hold at most one conversion, and only an integer one:
// %[flags][width][.precision](d|i|o|u|x|X). "%%" is a plain percent sign.
// Returns the conversion letter, NO_CONVERSION or BAD_PATTERN.
char pattern_conversion(const char* pattern)
{
    char found = NO_CONVERSION;
    for (const char* p = pattern; *p != '\0'; ++p) {
        if (*p != '%') {
            continue;
        }
        ++p;
        if (*p == '%') {
            continue;
        }
        while (is_one_of(*p, CONVERSION_FLAGS)) {
            ++p;
        }
        while (is_digit(*p)) {
            ++p;
        }
        if (*p == '.') {
            ++p;
            while (is_digit(*p)) {
                ++p;
            }
        }
        if (!is_one_of(*p, INTEGER_CONVERSIONS) || found != NO_CONVERSION) {
            return BAD_PATTERN;
        }
        found = *p;
    }
    return found;
}

// Expands the pattern for one frame. False when the name does not fit.
bool expand_filename(char (&filename)[FILENAME_SIZE], const char* pattern, char conversion, std::int32_t frame)
{
    int length = 0;
    if (conversion == 'd' || conversion == 'i') {
        length = std::snprintf(filename, FILENAME_SIZE, pattern, frame);
    } else {
        // o, u, x and X take an unsigned argument; no conversion ignores it.
        length = std::snprintf(filename, FILENAME_SIZE, pattern, static_cast<unsigned>(frame));
    }
    return length >= 0 && static_cast<std::size_t>(length) < FILENAME_SIZE;
}

// Reads the whole frame file, or its first INPUT_BUFFER_SIZE bytes, into
// input_buffer in one read. False on a read error or a short read.
bool read_frame_file(std::FILE* file, std::size_t& bytes_read)
{
#ifdef _WIN32
    struct _stat64 status {};
    const bool known_size = _fstat64(_fileno(file), &status) == 0 && (status.st_mode & _S_IFMT) == _S_IFREG;
#else
    struct stat status {};
    const bool known_size = fstat(fileno(file), &status) == 0 && S_ISREG(status.st_mode);
#endif
    bytes_read = std::fread(input_buffer, 1, INPUT_BUFFER_SIZE, file);
    bool complete = !std::ferror(file);
    if (known_size && status.st_size >= 0 &&
        bytes_read < static_cast<std::uint64_t>(status.st_size) && bytes_read < INPUT_BUFFER_SIZE) {
        complete = false;
    }
    return std::fclose(file) == 0 && complete;
}

// Where a file lives, whatever path names it: device and inode, or on
// Windows, where st_ino is 0, the volume serial number and the file index.
struct FileIdentity {
    std::uint64_t volume;
    std::uint64_t index;
};

bool file_identity(const char* path, FileIdentity& identity)
{
#ifdef _WIN32
    const HANDLE file = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    BY_HANDLE_FILE_INFORMATION information {};
    const bool known = GetFileInformationByHandle(file, &information) != 0;
    CloseHandle(file);
    identity = {information.dwVolumeSerialNumber,
                std::uint64_t{information.nFileIndexHigh} << 32 | information.nFileIndexLow};
    return known;
#else
    struct stat status {};
    if (stat(path, &status) != 0) {
        return false;
    }
    identity = {static_cast<std::uint64_t>(status.st_dev), static_cast<std::uint64_t>(status.st_ino)};
    return true;
#endif
}

// Opening the output empties it, so it must not be one of the frames the run
// is about to read: compares the existing output with each frame file, up to
// the first one that does not exist. Without a conversion every frame is the
// same file, and one look serves.
void refuse_output_that_is_a_frame(const char* pattern, char conversion, const char* output_path,
                                   std::int32_t first_frame, std::int32_t last_frame)
{
    FileIdentity output {};
    if (!file_identity(output_path, output)) {
        return;
    }
    const std::int64_t last_to_look_at = conversion == NO_CONVERSION ? std::min(first_frame, last_frame) : last_frame;
    char filename[FILENAME_SIZE];
    for (std::int64_t frame = first_frame; frame <= last_to_look_at; ++frame) {
        FileIdentity input {};
        if (!expand_filename(filename, pattern, conversion, static_cast<std::int32_t>(frame)) ||
            !file_identity(filename, input)) {
            return;
        }
        if (input.volume == output.volume && input.index == output.index) {
            fail(EXIT_BAD_ARGUMENTS, "Output file %s would overwrite input frame %d\n", output_path,
                 static_cast<int>(frame));
        }
    }
}

}  // namespace

int main(int argc, char** argv)
{
    std::printf("Pellucor v1.00\n");
    if (argc != ARGUMENT_COUNT) {
        fail(EXIT_BAD_ARGUMENTS, "%s\n", USAGE);
    }
    const char* pattern = argv[PATTERN];
    const char* output_path = argv[OUTPUT_PATH];

    const char conversion = pattern_conversion(pattern);
    if (conversion == BAD_PATTERN) {
        fail(EXIT_BAD_ARGUMENTS, "Invalid file format %s\n", pattern);
    }
    const std::int32_t first_frame = read_number(argv[FIRST_FRAME]);
    const std::int32_t last_frame = read_number(argv[LAST_FRAME]);
    const std::int32_t width = read_number(argv[WIDTH]);
    const std::int32_t height = read_number(argv[HEIGHT]);
    if (!video_size_fits(width, height)) {
        fail(EXIT_BAD_ARGUMENTS, "Invalid video size %dx%d\n", width, height);
    }
    video_width = width;
    video_height = height;
    refuse_output_that_is_a_frame(pattern, conversion, output_path, first_frame, last_frame);

    std::FILE* output = std::fopen(output_path, "wb");
    if (output == nullptr) {
        fail(EXIT_OUTPUT_FAILED, "Could not open output file %s\n", output_path);
    }
    // Unbuffered: each packed frame goes to the file in one write, so a
    // failed write is caught at the frame that caused it.
    std::setvbuf(output, nullptr, _IONBF, 0);
    const std::size_t frame_bytes = PACKED_PIXEL_SIZE * video_pixel_count();

    char filename[FILENAME_SIZE];
    // 64-bit, so that a last frame of INT32_MAX still ends the loop.
    for (std::int64_t frame = first_frame; frame <= last_frame; ++frame) {
        std::printf("Frame %d ... ", static_cast<int>(frame));
        if (!expand_filename(filename, pattern, conversion, static_cast<std::int32_t>(frame))) {
            fail(EXIT_INPUT_FAILED, "Could not open input file %s\n", pattern);
        }
        std::FILE* input = std::fopen(filename, "rb");
        if (input == nullptr) {
            fail(EXIT_INPUT_FAILED, "Could not open input file %s\n", pattern);
        }
        std::size_t bytes_read = 0;
        if (!read_frame_file(input, bytes_read)) {
            fail(EXIT_INPUT_FAILED, "Could not read input file %s\n", pattern);
        }

        if (check_frame(bytes_read) == FrameStatus::incomplete) {
            fail(EXIT_INPUT_FAILED, "Input file %s is incomplete\n", pattern);
        }

        const std::uint8_t type = frame_type();
        if (type == TGA_TYPE_RLE_COLOR) {
            std::printf("Uncompressing ... ");
            if (!decompress_rle_frame(bytes_read)) {
                fail(EXIT_INPUT_FAILED, "Input file %s is incomplete\n", pattern);
            }
        }
        if (type == TGA_TYPE_GRAY) {
            std::printf("Grayscale ... ");
            pack_gray_frame();
        } else {
            pack_color_frame();
        }

        if (std::fwrite(output_buffer, 1, frame_bytes, output) != frame_bytes) {
            fail(EXIT_OUTPUT_FAILED, "Could not write output file %s\n", output_path);
        }
        std::printf("OK\n");
    }

    if (std::fclose(output) != 0) {
        fail(EXIT_OUTPUT_FAILED, "Could not write output file %s\n", output_path);
    }
    std::printf("Done.\n");
    return EXIT_SUCCESS;
}
