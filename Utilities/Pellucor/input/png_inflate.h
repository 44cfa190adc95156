// SPDX-License-Identifier: MIT
// The fast path of PNG frames: the common frames, 8 bits a sample and not
// interlaced, read by walking their chunks here and inflating their image
// data with ISA-L, where the build has it. libspng stays the judge of every
// frame: whatever this path does not expect goes to it whole.
#pragma once

#include <cstddef>

#include "frame_store.h"

enum class PngDecoder { fast, libspng };

// The decoder that the frames go to first: the fast path where the build
// has it, unless PELLUCOR_PNG_DECODER=libspng, or use_png_decoder, says
// libspng.
PngDecoder png_decoder();

// Makes the frames go to decoder first; false, changing nothing, where the
// build has no fast path.
bool use_png_decoder(PngDecoder decoder);

// Decodes the PNG frame held whole in input_buffer (bytes_read of it) and
// packs it band by band into output_buffer, dithered where asked: true once
// every row is packed. False where the frame is not one the path takes, or
// the path has any doubt about it: a chunk or a size it does not expect, a
// bad CRC, Adler-32 or stream. Rows may have been packed before that; the
// caller decodes the frame from its start with libspng.
bool decode_png_fast(std::size_t bytes_read, SourceFrame& frame, bool dither);

// "ISA-L 2.30.0" where the build has the fast path, else nullptr.
const char* png_inflate_version();
