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

#ifdef PELLUCOR_X86
std::uint32_t chunk_crc_pclmul(const std::uint8_t* data, std::size_t size);
#endif
