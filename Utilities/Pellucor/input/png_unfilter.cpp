// SPDX-License-Identifier: MIT
// The PNG row filters undone a byte at a time: the reference the vector
// loops are tested against, and the loop of every path that has no other.
// Each byte is predicted from the byte pixel_bytes to its left (0 at the
// row's start), the byte above it and the one above that left one.
#include "png_input_kernels.h"

#include <cstring>

bool unfilter_row_plain(const std::uint8_t* filtered, const std::uint8_t* previous, std::uint8_t* row,
                        std::size_t row_bytes, std::size_t pixel_bytes)
{
    const std::uint8_t type = filtered[0];
    const std::uint8_t* in = filtered + 1;
    const std::size_t first = pixel_bytes < row_bytes ? pixel_bytes : row_bytes;
    switch (type) {
    case PNG_FILTER_NONE:
        std::memcpy(row, in, row_bytes);
        return true;
    case PNG_FILTER_SUB:
        for (std::size_t i = 0; i < first; ++i) row[i] = in[i];
        for (std::size_t i = first; i < row_bytes; ++i)
            row[i] = static_cast<std::uint8_t>(in[i] + row[i - pixel_bytes]);
        return true;
    case PNG_FILTER_UP:
        for (std::size_t i = 0; i < row_bytes; ++i) row[i] = static_cast<std::uint8_t>(in[i] + previous[i]);
        return true;
    case PNG_FILTER_AVERAGE:
        for (std::size_t i = 0; i < first; ++i) row[i] = static_cast<std::uint8_t>(in[i] + (previous[i] >> 1));
        for (std::size_t i = first; i < row_bytes; ++i) {
            row[i] = static_cast<std::uint8_t>(in[i] + ((row[i - pixel_bytes] + previous[i]) >> 1));
        }
        return true;
    case PNG_FILTER_PAETH:
        for (std::size_t i = 0; i < first; ++i) row[i] = static_cast<std::uint8_t>(in[i] + previous[i]);
        for (std::size_t i = first; i < row_bytes; ++i) {
            row[i] = static_cast<std::uint8_t>(
                in[i] + paeth_predictor(row[i - pixel_bytes], previous[i], previous[i - pixel_bytes]));
        }
        return true;
    default:
        return false;
    }
}
