// SPDX-License-Identifier: MIT
// What a frame file is, told by its first bytes. PNG frames and TGA frames
// are read; the other images, and text, are refused by name.
#pragma once

#include <cstddef>
#include <cstdint>

// A TGA file has no signature of its own: it is any file that none of the
// others' signatures begins. Each of those signatures has a byte other than
// 0 or 1 at offset 1, where a TGA's color-map type is.
enum class FileKind { tga, png, jpeg, bmp, gif, webp, tiff, qoi, text };

// The kind of the file whose first size bytes are at bytes.
FileKind kind_of_file(const std::uint8_t* bytes, std::size_t size);

// The kind in the user's words, "a JPEG image" and the like; nullptr for
// the kinds that are read.
const char* name_of_kind(FileKind kind);
