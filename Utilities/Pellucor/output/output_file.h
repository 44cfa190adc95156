// SPDX-License-Identifier: MIT
// The output file, and what it promises: it is opened as it is and emptied
// only once the first frame is packed; a regular file is locked against a
// second run; standard output is written where the shell left it; after a
// failure or a signal it holds only whole frames, and a file this run
// created and never began is removed.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform.h"

enum class OutputOpen { ok, failed, in_use };

// Opens the output of a run for frames of frame_bytes, without emptying it:
// standard output itself where the path names it, by any name, so that the
// frames go where the shell's > or >> put them; otherwise the file, created
// where nothing is (through a link to nothing, its target). A regular file
// is locked for the run, without waiting: in_use when another run holds it.
// identity is the open output's. From here on a failed run or a signal
// (SIGINT, SIGTERM, SIGHUP and the others that end a process; Ctrl-C or
// Ctrl-Break on Windows) leaves the output as abandon_output says. A closed
// pipe fails the write instead of ending the process.
OutputOpen open_output(const char* path, std::size_t frame_bytes, FileIdentity& identity);
// Empties what the run writes over: a regular file, unless it is standard
// output, where the run writes from where the shell left it. False on failure.
bool begin_output();
// Writes one packed frame and counts it as whole. False on a failed write.
bool write_frame(const std::uint8_t* frame);
// Writes the pieces of one whole part of the output (a PLV record, say) and
// counts their bytes as whole together: a signal or a failure cuts a
// regular file back to the end of the last whole part. False on a failed write.
struct OutputPiece {
    const std::uint8_t* bytes;
    std::size_t size;
};
bool write_whole(const OutputPiece* pieces, std::size_t count);
// Whether bytes already written can be written again: a regular file that
// the run opened by its name (standard output may be a pipe, or appended to).
bool output_rewritable();
// Writes size bytes over the output from offset on, counted from where the
// run began writing, and goes back to its end. False on a failed write.
bool rewrite_output(std::int64_t offset, const std::uint8_t* bytes, std::size_t size);
bool close_output();
// The bytes this run has written whole.
std::uint64_t output_bytes_written();
// After a failure: an output that this run created and never began is
// removed, and one it did not create is left as it was; a begun regular file
// is cut back to the last whole frame that this run wrote.
void abandon_output();
