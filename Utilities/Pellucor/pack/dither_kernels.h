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
// Packs a row of width gray pixels, dithered, into words of a format with a
// 6-bit green: each 5-bit field from the gray value plus five[x % 16], the
// green field from it plus six[x % 16], each sum at most 255.
using DitheredGrayPacker = void (*)(const std::uint8_t* gray, std::uint8_t* packed, std::size_t width,
                                    const std::uint8_t* five, const std::uint8_t* six, bool high_first);

void add_pattern_plain(std::uint8_t* row, std::size_t bytes, const std::uint8_t* pattern);
void pack_dithered_gray_plain(const std::uint8_t* gray, std::uint8_t* packed, std::size_t width,
                              const std::uint8_t* five, const std::uint8_t* six, bool high_first);
#ifdef PELLUCOR_X86
void add_pattern_sse2(std::uint8_t* row, std::size_t bytes, const std::uint8_t* pattern);
void pack_dithered_gray_sse2(const std::uint8_t* gray, std::uint8_t* packed, std::size_t width,
                             const std::uint8_t* five, const std::uint8_t* six, bool high_first);
#endif
#ifdef PELLUCOR_NEON
void add_pattern_neon(std::uint8_t* row, std::size_t bytes, const std::uint8_t* pattern);
void pack_dithered_gray_neon(const std::uint8_t* gray, std::uint8_t* packed, std::size_t width,
                             const std::uint8_t* five, const std::uint8_t* six, bool high_first);
#endif
