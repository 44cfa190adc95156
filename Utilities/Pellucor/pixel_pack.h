// Pixel packers: source pixels to 16-bit words.
#pragma once

// Pack the pixels of input_buffer into output_buffer, top row first:
// 2 * width * height bytes, in color_word_format or gray_word_format.
// Expect a frame that passed check_frame.
void pack_color_frame();
void pack_gray_frame();
