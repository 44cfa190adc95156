// SPDX-License-Identifier: MIT
// JPEG frames, part of the frame input stage: read with libjpeg-turbo where
// the build has it.
#pragma once

#include <cstddef>
#include <cstdio>

#include "frame_input.h"

// True when the file read into input_buffer begins with a JPEG's start of
// image marker.
bool is_jpeg(std::size_t bytes_read);

// Checks the JPEG frame against the run's geometry and decodes it into the
// packers' layout, packing the rows a band at a time as they are decoded,
// dithered where asked (frame.packed). The frame file is in input_buffer
// (bytes_read of it), whole unless bytes_read is less than the file's size,
// in which case it is read again from file, which is open for reading.
FrameCheck decode_jpeg_frame(std::size_t bytes_read, std::size_t file_size, std::FILE* file, SourceFrame& frame,
                             bool dither);

// The version of libjpeg-turbo where the build reads JPEG frames, else
// nullptr.
const char* jpeg_library_version();
