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

// Messages go to standard error when the video goes to standard output, and
// nowhere when standard error is the same file or pipe as the video.
void choose_console(const char* output_path);
