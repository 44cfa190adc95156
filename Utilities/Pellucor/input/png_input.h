// SPDX-License-Identifier: MIT
// PNG frames, part of the frame input stage: read with libspng where the
// build has it.
#pragma once

#include <cstddef>
#include <cstdio>

#include "frame_input.h"

// True when the file read into input_buffer begins with the PNG signature.
bool is_png(std::size_t bytes_read);

// Checks the PNG frame against the run's geometry and decodes it into the
// packers' layout. The frame file is in input_buffer (bytes_read of it),
// whole unless bytes_read is less than the file's size, in which case it is
// read again from file, which is open for reading. The common frames, 8-bit
// RGB or gray and not interlaced, are packed as they are decoded, dithered
// where asked (frame.packed).
FrameCheck decode_png_frame(std::size_t bytes_read, std::size_t file_size, std::FILE* file, SourceFrame& frame,
                            bool dither);

// The library's version where the build reads PNG frames, else nullptr.
const char* png_library_version();
