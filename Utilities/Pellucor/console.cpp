// SPDX-License-Identifier: MIT
// The console: standard output, unless the video goes there.
#include "console.h"

#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "frame_names.h"
#include "output_file.h"
#include "platform.h"

namespace {

// Where the messages go: standard output, unless the video does; nowhere
// when standard error is the video too.
std::FILE* console = stdout;
// Where the notes go: standard error, unless it is the video.
std::FILE* notes = stderr;
bool quiet_run = false;
// What explain said, for fail to print after its line.
char explanation[FILENAME_SIZE + 256] = "";

}  // namespace

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

void fail(int status, const char* format, ...)
{
    if (console != nullptr) {
        std::va_list arguments;
        va_start(arguments, format);
        std::vfprintf(console, format, arguments);
        va_end(arguments);
        std::fflush(console);
    }
    if (explanation[0] != '\0') {
        note("%s", explanation);
    }
    end_run(status);
}

void end_run(int status)
{
    abandon_output();
    std::exit(status);
}

void set_quiet(bool quiet)
{
    quiet_run = quiet;
}

bool is_quiet()
{
    return quiet_run;
}

void note(const char* format, ...)
{
    if (notes == nullptr) {
        return;
    }
    std::fputs("pellucor: ", notes);
    std::va_list arguments;
    va_start(arguments, format);
    std::vfprintf(notes, format, arguments);
    va_end(arguments);
    std::fputc('\n', notes);
    std::fflush(notes);
}

void explain(const char* format, ...)
{
    std::va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(explanation, sizeof explanation, format, arguments);
    va_end(arguments);
}

void note_line(const char* text)
{
    if (notes != nullptr) {
        std::fprintf(notes, "%s\n", text);
        std::fflush(notes);
    }
}

const char* system_reason(int error)
{
    return std::strerror(error);
}

void choose_console(const char* output_path)
{
    FileIdentity output {}, standard_output {}, standard_error {};
    const bool output_known = identity_of_path(output_path, output);
    if (output_known && identity_of_descriptor(STANDARD_ERROR, standard_error) && same_file(output, standard_error) &&
        !standard_error.device) {
        notes = nullptr;
    }
    if (!output_known || !identity_of_descriptor(STANDARD_OUTPUT, standard_output) ||
        !same_file(output, standard_output)) {
        return;
    }
    const bool shared = identity_of_descriptor(STANDARD_ERROR, standard_error) &&
                        same_file(standard_error, standard_output) && !standard_output.device;
    console = shared ? nullptr : stderr;
    if (shared) {
        notes = nullptr;
    }
}
