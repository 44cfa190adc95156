// SPDX-License-Identifier: MIT
// The console: standard output, unless the video goes there.
#include "console.h"

#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "output_file.h"
#include "platform.h"

namespace {

// Where the messages go: standard output, unless the video does; nowhere
// when standard error is the video too.
std::FILE* console = stdout;

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
    abandon_output();
    std::exit(status);
}

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
