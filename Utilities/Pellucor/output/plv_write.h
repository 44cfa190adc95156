// SPDX-License-Identifier: MIT
// The PLV output of a run (--plv): the header once the first frame is
// packed, a record a frame, and at the end the index and the trailer, with
// the header filled in where the output is a regular file. Each record is
// counted whole as it is written, so that a signal leaves whole records.
#pragma once

#include <cstddef>
#include <cstdint>

#include "plv_encode.h"
#include "word_format.h"

// Reserves the encoder for the run, before the output is opened. False
// where the memory cannot be had.
bool start_plv_output(const PlvSettings& settings, std::size_t expected_frames);
// Codes a frame alone (a key frame), on the thread that packed it into
// words, its output buffer: the codes stay in memory of that thread's, one
// place for each output buffer, until the buffer holds another frame.
PlvKeyCodes code_plv_key(const std::uint8_t* words);
// Writes one frame's record, after the header where it is the first: key
// is what code_plv_key gave for the frame. False on a failed write.
bool write_plv_frame(const std::uint8_t* words, const WordFormat& format, const PlvKeyCodes& key);
// Writes the index and the trailer (and the header, where no frame came
// before), then the filled-in header where the output can be written again.
// False on a failed write.
bool finish_plv_output();
// Finishes the output of a run that stops at a frame that failed: true
// where there is a PLV output and it was begun, whether or not finishing it
// worked (a failed write leaves whole records).
bool finish_plv_output_after_failure();
