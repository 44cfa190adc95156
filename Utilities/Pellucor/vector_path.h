// The kernel table: for each instruction set, the stages' inner loops, picked
// at run time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "word_format.h"

#if defined(__x86_64__) || defined(_M_X64)
#define PELLUCOR_X86 1
#elif defined(__aarch64__) || defined(_M_ARM64)
#define PELLUCOR_NEON 1
#endif

// Marks a function that uses an instruction set beyond the build's baseline;
// PELLUCOR_TARGET_FLAT also inlines everything it calls, so that templates
// and helpers compile for that instruction set too. MSVC needs neither.
#if defined(PELLUCOR_X86) && (defined(__GNUC__) || defined(__clang__))
#define PELLUCOR_TARGET(features) __attribute__((target(features)))
#define PELLUCOR_TARGET_FLAT(features) __attribute__((target(features), flatten))
#else
#define PELLUCOR_TARGET(features)
#define PELLUCOR_TARGET_FLAT(features)
#endif

// Inlined into every loop that calls it, however many there are.
#if defined(__GNUC__) || defined(__clang__)
#define PELLUCOR_INLINE __attribute__((always_inline)) inline
#elif defined(_MSC_VER)
#define PELLUCOR_INLINE __forceinline
#else
#define PELLUCOR_INLINE inline
#endif

// Packs height rows of width pixels, which lie bottom row first from source
// on, into words at packed, top row first. readable is how many bytes from
// source on lie inside input_buffer: a vector loop may load past a row's last
// pixel, never past that.
using RowPacker = void (*)(const std::uint8_t* source, std::uint8_t* packed, std::size_t width, std::size_t height,
                           std::size_t readable, const WordFormat& format);

struct RleCursor {
    const std::uint8_t* read;
    std::uint8_t* write;
};
// Decodes RLE packets while the read position is before read_limit and the
// write position before write_limit, which the caller sets so that no packet
// can run short, be cut or write past the end of input_buffer.
using PacketDecoder = RleCursor (*)(RleCursor at, const std::uint8_t* read_limit, const std::uint8_t* write_limit);

enum class VectorPath { avx512, avx2, ssse3, neon, plain };

struct Kernels {
    VectorPath path;
    const char* name;
    // nullptr where the build has no such loop
    RowPacker pack_color_row;
    RowPacker pack_gray_row;
    PacketDecoder decode_packets;
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
