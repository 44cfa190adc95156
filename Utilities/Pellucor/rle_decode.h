// RLE decoder for TGA image type 10 (24-bit color).
#pragma once

#include <cstddef>

// Decodes the RLE pixel data of input_buffer (bytes_read of it are valid),
// using scratch_buffer as its work area, so that afterwards input_buffer
// holds the unchanged header and the plain pixels. Returns false when the
// data ends before every pixel of the frame is decoded; the pixels in
// input_buffer are then not to be used.
bool decompress_rle_frame(std::size_t bytes_read);
