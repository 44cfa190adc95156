// SPDX-License-Identifier: MIT
// The console and the exit status: every line the run prints goes through
// say, and every failure through fail, one line and an exit with the status
// that names it.
#pragma once

#include <cstdio>

#if defined(__GNUC__) || defined(__clang__)
#define PELLUCOR_PRINTF(format_index, first_argument) __attribute__((format(printf, format_index, first_argument)))
#else
#define PELLUCOR_PRINTF(format_index, first_argument)
#endif

constexpr int EXIT_BAD_ARGUMENTS = 1;
constexpr int EXIT_OUTPUT_FAILED = 2;
constexpr int EXIT_INPUT_FAILED = 3;

// Prints to the console; a finished line is flushed, so that a log shows
// every frame in the output.
void say(const char* format, ...) PELLUCOR_PRINTF(1, 2);

// Prints one line and ends the run with status: the one way to fail. The
// output is left as abandon_output says.
[[noreturn]] void fail(int status, const char* format, ...) PELLUCOR_PRINTF(2, 3);

// Ends the run with status, leaving the output as abandon_output says, after
// the lines already printed.
[[noreturn]] void end_run(int status);

// Messages go to standard error when the video goes to standard output, and
// nowhere when standard error is the same file or pipe as the video.
void choose_console(const char* output_path);

// With quiet, the banner and the frames' progress lines are not printed:
// failure lines and "Done." are.
void set_quiet(bool quiet);
bool is_quiet();

// One line on standard error, after "pellucor: ": the details behind a line
// of the console, a hint, the summary. Never into the video.
void note(const char* format, ...) PELLUCOR_PRINTF(1, 2);
// A note that fail prints after its line, when the run fails.
void explain(const char* format, ...) PELLUCOR_PRINTF(1, 2);
// The same without "pellucor: " before it.
void note_line(const char* text);

// The system's words for an error number, as strerror gives them.
const char* system_reason(int error);
