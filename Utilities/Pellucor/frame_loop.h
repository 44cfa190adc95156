// SPDX-License-Identifier: MIT
// The frame loop: one frame read, checked, brought into the packers' layout
// and packed, or refused with the line that says why; its line shown and its
// words written in frame order; and the run on one thread.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <string>

#include "command_line.h"
#include "platform.h"

// What converting one frame came to: the steps its line shows, and where it
// failed, the exit status and the line that says why. Its words are in the
// output_buffer of the thread that converted it.
struct FrameOutcome {
    bool compressed = false;  // "Uncompressing ... "
    bool gray = false;        // "Grayscale ... "
    bool top_first = false;   // the header says top row first, and the run reads it bottom first
    int status = EXIT_SUCCESS;
    std::string failure;
    // The file it read, and the system's error number where a call failed:
    // the note on standard error behind the failure line.
    std::string filename;
    int error = 0;
    PlvKeyCodes plv_key {};  // --plv: the frame coded alone
};

// One frame: read, checked, brought into the packers' layout and packed
// into this thread's output_buffer. Prints nothing, and may run on any
// thread that has a frame store of its own.
FrameOutcome convert_frame(const Run& run, const FileIdentity& output, std::int32_t frame);

// Prints the frame's line as far as its outcome goes and writes its words:
// the line and the bytes of one thread, whichever thread converted it.
// False, with the failure in the outcome, where the run ends here.
bool show_and_write(const Run& run, std::int32_t frame, FrameOutcome& outcome, const std::uint8_t* words);

// Ends the run with the frame's failure line and status.
[[noreturn]] void fail_with(const FrameOutcome& outcome);

// The frames on this thread alone, one after another.
void convert_frames(const Run& run, const FileIdentity& output);

// Closes the output and says "Done."; a run of no frames empties the output
// all the same.
void finish(const Run& run);
