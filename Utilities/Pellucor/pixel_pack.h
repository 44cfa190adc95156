// Pixel packers: source pixels to 16-bit words, stored low byte first.
#pragma once

// Pack the pixels of input_buffer into output_buffer, top row first:
// 2 * width * height bytes. Expect a frame that passed check_frame.
void pack_color_frame();
void pack_gray_frame();

// The row loops the packers run, by instruction set. The best one that the
// processor has is used unless a test or benchmark picks another; the plain
// loops are the reference, and every path packs the same words.
enum class PackPath { plain, ssse3, avx2, avx512, neon };

// Makes the packers use path; false, with nothing changed, where the build
// or the processor does not have it.
bool use_pack_path(PackPath path);
PackPath pack_path();
