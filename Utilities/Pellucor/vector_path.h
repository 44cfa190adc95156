// SPDX-License-Identifier: MIT
// The kernel table: for each instruction set, the stages' inner loops, picked
// at run time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "word_format.h"

#include "dither_kernels.h"
#include "png_input_kernels.h"
#include "rle_decode.h"
#include "processor.h"

// Packs a frame of height rows of width pixels, which lie from source on,
// bottom row first (top row first where top_first), into words at packed,
// top row first. readable is how many bytes from source on lie inside the
// buffer: a vector loop may load past a row's last pixel, never past that.
using FramePacker = void (*)(const std::uint8_t* source, std::uint8_t* packed, std::size_t width, std::size_t height,
                             std::size_t readable, bool top_first, const WordFormat& format);

enum class VectorPath { avx512, avx2, ssse3, neon, plain };

struct Kernels {
    VectorPath path;
    const char* name;
    // nullptr where the build has no such loop
    FramePacker pack_color_frame;
    FramePacker pack_gray_frame;
    PacketDecoder decode_packets;
    PatternAdder add_pattern;
    DitheredGrayPacker pack_dithered_gray;
    ChunkCrc chunk_crc;  // nullptr: the PNG library checks CRCs itself
    PngUnfilter unfilter_png_row;
};

// Every path, best first, on every build; the last is the plain loops.
std::span<const Kernels> kernel_table();

// True where the build has the path's loops and the processor runs them.
bool vector_path_available(VectorPath path);

// The one way to force a path: makes the stages use path, or returns false,
// changing nothing, where it is not available. Until then the stages use the
// best available path, or the one PELLUCOR_VECTOR_PATH names, if available.
bool use_vector_path(VectorPath path);

// The kernels in use.
const Kernels& kernels();
