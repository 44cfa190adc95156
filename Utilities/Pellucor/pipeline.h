// SPDX-License-Identifier: MIT
// Frames in parallel: worker threads convert frames ahead of the one being
// written; this thread shows and writes them in frame order.
#pragma once

#include "command_line.h"
#include "platform.h"

// Converts the frames on the run's threads: on as many as the system starts
// and as have the memory for their buffers; on this one alone where it has
// one, or where no other thread can be had. The output bytes, the lines and
// the exit status are those of one thread.
void convert_frames_in_parallel(const Run& run, const FileIdentity& output);
