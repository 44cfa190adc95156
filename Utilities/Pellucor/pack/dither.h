// SPDX-License-Identifier: MIT
// Ordered dithering, on request (--dither).
#pragma once

#include "frame_store.h"

// The 8 x 8 Bayer matrix, by row and column of the output frame.
constexpr std::uint8_t BAYER[8][8] = {{0, 32, 8, 40, 2, 34, 10, 42},  {48, 16, 56, 24, 50, 18, 58, 26},
                                      {12, 44, 4, 36, 14, 46, 6, 38}, {60, 28, 52, 20, 62, 30, 54, 22},
                                      {3, 35, 11, 43, 1, 33, 9, 41},  {51, 19, 59, 27, 49, 17, 57, 25},
                                      {15, 47, 7, 39, 13, 45, 5, 37}, {63, 31, 55, 23, 61, 29, 53, 21}};

// Packs rows first_row to first_row + rows - 1 of the frame as pack_rows
// does, dithered: each field of n bits, d =
// 8 - n, from its 8-bit channel v at output column x and row y is
//   min(v + (BAYER[y % 8][x % 8] >> (6 - d)), 255) >> d
// Each row is dithered and then packed while it is in cache: a color row,
// or a gray row whose word format has a 5-bit green, in place; any other
// gray row, whose 5-bit and 6-bit fields take different sums of one value,
// packed from both sums in one pass.
void pack_dithered_rows(const SourceFrame& band, std::size_t first_row, std::size_t rows, const WordFormat& format);
