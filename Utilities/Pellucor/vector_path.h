// The instruction sets of the stages' vector loops, picked at run time.
#pragma once

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

// The best path that the processor has is used unless a test or benchmark
// picks another. The plain loops are the reference; every path gives the same
// bytes. The packers have a row loop for each path; the RLE decoder writes
// 32-byte parts on avx2 and avx512, and 16-byte parts on the others.
enum class VectorPath { plain, ssse3, avx2, avx512, neon };

// Every path, in the enum's order, for tests and benchmarks to go through.
constexpr VectorPath VECTOR_PATHS[] = {VectorPath::plain, VectorPath::ssse3, VectorPath::avx2, VectorPath::avx512,
                                       VectorPath::neon};

// Makes the stages use path; false, with nothing changed, where the build or
// the processor does not have it.
bool use_vector_path(VectorPath path);
VectorPath vector_path();
