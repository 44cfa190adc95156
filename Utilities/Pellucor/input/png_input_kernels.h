// SPDX-License-Identifier: MIT
// The PNG loops of the kernel table.
#pragma once

#include <cstddef>
#include <cstdint>

#include "processor.h"

// The CRC-32 of PNG chunks (and zlib's crc32) of size bytes at data: the
// reflected polynomial 0xEDB88320, started at and finished with all ones.
using ChunkCrc = std::uint32_t (*)(const std::uint8_t* data, std::size_t size);

// The CRC register c run over size bytes at data by a table, a byte a step,
// neither started nor finished: ~run_crc_table(~0u, data, size) is the CRC,
// on every build, where the kernel table has no faster loop.
std::uint32_t run_crc_table(std::uint32_t c, const std::uint8_t* data, std::size_t size);

// The five row filters of PNG, undone: filtered is a row as the zlib stream
// holds it, its filter type byte then row_bytes bytes; previous is the row
// above, as undone (all zeros for the first row); the row is written to row,
// which overlaps neither. pixel_bytes is 1 to 4, the bytes of an 8-bit pixel.
// False, with row left undefined, for a filter type past 4.
using PngUnfilter = bool (*)(const std::uint8_t* filtered, const std::uint8_t* previous, std::uint8_t* row,
                             std::size_t row_bytes, std::size_t pixel_bytes);

constexpr std::uint8_t PNG_FILTER_NONE = 0, PNG_FILTER_SUB = 1, PNG_FILTER_UP = 2, PNG_FILTER_AVERAGE = 3,
                       PNG_FILTER_PAETH = 4;

// The Paeth predictor of PNG: of left, above and upper left, the one closest
// to left + above - upper left, ties going in that order.
PELLUCOR_INLINE std::uint8_t paeth_predictor(unsigned left, unsigned above, unsigned upper_left)
{
    const int p = static_cast<int>(left + above) - static_cast<int>(upper_left);
    const int to_left = p > static_cast<int>(left) ? p - static_cast<int>(left) : static_cast<int>(left) - p;
    const int to_above = p > static_cast<int>(above) ? p - static_cast<int>(above) : static_cast<int>(above) - p;
    const int to_corner =
        p > static_cast<int>(upper_left) ? p - static_cast<int>(upper_left) : static_cast<int>(upper_left) - p;
    if (to_left <= to_above && to_left <= to_corner) return static_cast<std::uint8_t>(left);
    return static_cast<std::uint8_t>(to_above <= to_corner ? above : upper_left);
}

bool unfilter_row_plain(const std::uint8_t* filtered, const std::uint8_t* previous, std::uint8_t* row,
                        std::size_t row_bytes, std::size_t pixel_bytes);

// A path's unfilter from its own loops: Sub and Up on every pixel size,
// Average and Paeth on pixels of 3 or 4 bytes (a pixel a vector step); the
// rest, None and a filter type past 4 too, by the plain loop.
template <auto undo_sub, auto undo_up, auto undo_average, auto undo_paeth>
bool unfilter_row_with(const std::uint8_t* filtered, const std::uint8_t* previous, std::uint8_t* row,
                       std::size_t row_bytes, std::size_t pixel_bytes)
{
    const std::uint8_t* in = filtered + 1;
    switch (filtered[0]) {
    case PNG_FILTER_SUB:
        undo_sub(in, row, row_bytes, pixel_bytes);
        return true;
    case PNG_FILTER_UP:
        undo_up(in, previous, row, row_bytes);
        return true;
    case PNG_FILTER_AVERAGE:
        if (pixel_bytes < 3) break;
        undo_average(in, previous, row, row_bytes, pixel_bytes);
        return true;
    case PNG_FILTER_PAETH:
        if (pixel_bytes < 3) break;
        undo_paeth(in, previous, row, row_bytes, pixel_bytes);
        return true;
    default:
        break;
    }
    return unfilter_row_plain(filtered, previous, row, row_bytes, pixel_bytes);
}
#ifdef PELLUCOR_X86
bool unfilter_row_ssse3(const std::uint8_t* filtered, const std::uint8_t* previous, std::uint8_t* row,
                        std::size_t row_bytes, std::size_t pixel_bytes);
#endif
#ifdef PELLUCOR_NEON
bool unfilter_row_neon(const std::uint8_t* filtered, const std::uint8_t* previous, std::uint8_t* row,
                       std::size_t row_bytes, std::size_t pixel_bytes);
#endif

#ifdef PELLUCOR_X86
std::uint32_t chunk_crc_pclmul(const std::uint8_t* data, std::size_t size);
#endif
