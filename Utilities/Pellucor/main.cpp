// SPDX-License-Identifier: MIT
// Pellucor: a numbered sequence of frames into one raw video of 16-bit words.
//
//   pellucor [OPTION...] [--] PATTERN OUTPUT FIRST LAST WIDTH HEIGHT
//
// The run, stage by stage:
//   command_line.cpp      the options and the six arguments; help, version
//   output/               the output opened and checked, never a frame of
//                         the run, emptied once the first frame is packed
//   frame_loop.cpp        each frame read, brought into the packers' layout
//                         (input/) and packed (pack/), then shown and written
//   pipeline.cpp          the same on worker threads, written in frame order
// Every message goes through console.cpp; each failure is one line and an
// exit with the status that names it.
#include <cstdlib>

#include "command_line.h"
#include "frame_loop.h"
#include "output_check.h"
#include "pipeline.h"
#include "platform.h"

int main(int argc, char** argv)
{
    keep_standard_streams_open();
    const Run run = read_command_line(argc, argv);
    const FileIdentity output = open_and_check_output(run);
    convert_frames_in_parallel(run, output);
    finish(run);
    return EXIT_SUCCESS;
}
