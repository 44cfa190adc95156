// SPDX-License-Identifier: MIT
// The dithering loops of the kernel table.
#pragma once

#include <cstddef>
#include <cstdint>

#include "processor.h"

// A row's dither pattern: the offsets of 16 color pixels or 48 gray ones,
// three 16-byte parts; it repeats along the row.
constexpr std::size_t DITHER_PATTERN_BYTES = 48;
// The offsets of 16 gray pixels for 5-bit and for 6-bit fields.
constexpr std::size_t DITHER_SPREAD_PIXELS = 16;

// Adds the pattern to the bytes of a row, each sum at most 255.
using PatternAdder = void (*)(std::uint8_t* row, std::size_t bytes, const std::uint8_t* pattern);
// Spreads a row of width gray pixels to 3-byte pixels blue, green, red:
// the gray value plus five[x % 16] in blue and red, plus six[x % 16] in
// green, each at most 255.
using GraySpreader = void (*)(const std::uint8_t* gray, std::uint8_t* pixels, std::size_t width,
                              const std::uint8_t* five, const std::uint8_t* six);

void add_pattern_plain(std::uint8_t* row, std::size_t bytes, const std::uint8_t* pattern);
void spread_gray_plain(const std::uint8_t* gray, std::uint8_t* pixels, std::size_t width, const std::uint8_t* five,
                       const std::uint8_t* six);
#ifdef PELLUCOR_X86
void add_pattern_sse2(std::uint8_t* row, std::size_t bytes, const std::uint8_t* pattern);
void spread_gray_ssse3(const std::uint8_t* gray, std::uint8_t* pixels, std::size_t width, const std::uint8_t* five,
                       const std::uint8_t* six);
#endif
#ifdef PELLUCOR_NEON
void add_pattern_neon(std::uint8_t* row, std::size_t bytes, const std::uint8_t* pattern);
void spread_gray_neon(const std::uint8_t* gray, std::uint8_t* pixels, std::size_t width, const std::uint8_t* five,
                      const std::uint8_t* six);
#endif
