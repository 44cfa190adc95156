// SPDX-License-Identifier: MIT
// The command line: the options before the six arguments, the numbers, the
// help and the version.
#pragma once

#include <cstdint>

#include "plv_encode.h"

// What the command line asks for.
struct Run {
    const char* pattern;
    const char* output_path;
    char conversion;
    std::int32_t first_frame, last_frame;
    bool honor_origin;
    bool dither;
    unsigned threads;
    bool plv;  // a PLV file instead of raw words, as plv says
    PlvSettings plv_settings;
};

// Reads the command line: prints the banner, answers --help and --version,
// sets the geometry and the word formats and reserves this thread's frame
// store, and fails with status 1 on anything it refuses.
Run read_command_line(int argc, char** argv);
