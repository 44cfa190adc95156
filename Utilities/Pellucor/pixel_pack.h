// SPDX-License-Identifier: MIT
// Pixel packers: source pixels to 16-bit words.
#pragma once

#include "frame_store.h"

// Packs the frame into output_buffer, top row first: 2 * width * height
// bytes, in color_word_format or gray_word_format by the frame's kind;
// dithered where asked (dither.h), otherwise each field the top bits of its
// channel. A dithered frame's pixels are changed on the way.
void pack_frame(const SourceFrame& frame, bool dither = false);
