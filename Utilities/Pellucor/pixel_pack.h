// Pixel packers: source pixels to 16-bit words.
#pragma once

#include "frame_store.h"

// Packs the frame into output_buffer, top row first: 2 * width * height
// bytes, in color_word_format or gray_word_format by the frame's kind.
void pack_frame(const SourceFrame& frame);
