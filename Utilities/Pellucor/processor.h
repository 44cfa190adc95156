// SPDX-License-Identifier: MIT
// What the build's target processor is, and how a function asks for more of
// it than the build's baseline.
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

// Inlined into every loop that calls it, however many there are.
#if defined(__GNUC__) || defined(__clang__)
#define PELLUCOR_INLINE __attribute__((always_inline)) inline
#elif defined(_MSC_VER)
#define PELLUCOR_INLINE __forceinline
#else
#define PELLUCOR_INLINE inline
#endif
