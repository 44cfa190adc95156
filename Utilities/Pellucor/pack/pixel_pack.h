// SPDX-License-Identifier: MIT
// Pixel packers: source pixels to 16-bit words.
#pragma once

#include "frame_store.h"

// Packs the frame into output_buffer, top row first: 2 * width * height
// bytes, in color_word_format or gray_word_format by the frame's kind;
// dithered where asked (dither.h), otherwise each field the top bits of its
// channel. A dithered frame's pixels are changed on the way.
// Nothing where the frame's input stage packed it already (frame.packed).
void pack_frame(const SourceFrame& frame, bool dither = false);

// Packs rows first_row to first_row + rows - 1 of the frame alone, from
// the band of those rows at band.pixels, top row first where top_first:
// the words they would have in the whole frame, at their place in
// output_buffer.
void pack_rows(const SourceFrame& band, std::size_t first_row, std::size_t rows, bool dither);
