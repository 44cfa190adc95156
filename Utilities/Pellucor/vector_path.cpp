// SPDX-License-Identifier: MIT
// Which kernels the stages run: the best the processor has, found on first
// use, or the one a test, a benchmark or PELLUCOR_VECTOR_PATH asks for.
#include "vector_path.h"

#include <cstdlib>
#include <cstring>
#include <iterator>

#include "pixel_pack_kernels.h"
#include "rle_decode.h"

#if defined(PELLUCOR_X86) && defined(_MSC_VER) && !defined(__clang__)
#include <immintrin.h>
#include <intrin.h>
#endif

namespace {

#ifdef PELLUCOR_X86
#define PELLUCOR_X86_KERNEL(kernel) kernel
#else
#define PELLUCOR_X86_KERNEL(kernel) nullptr
#endif
#ifdef PELLUCOR_NEON
#define PELLUCOR_NEON_KERNEL(kernel) kernel
#else
#define PELLUCOR_NEON_KERNEL(kernel) nullptr
#endif

// The gray packer of avx512 is the avx2 one (pixel_pack_x86.cpp says why);
// that of ssse3 is the plain loop, which compilers vectorize with SSE2.
// The dithering loops of every x86 path are those of SSE2: a saturating add
// a byte and a few shifts gain little from wider registers. The chunk CRC
// takes PCLMULQDQ, which the avx2 and avx512 paths ask of the processor too;
// elsewhere the PNG library's own CRC is as fast as a plain loop would be.
// The PNG row filters are undone by SSSE3 on every x86 path: each pixel
// waits on the one before it, which wider registers do not help.
constexpr Kernels KERNEL_TABLE[] = {
    {VectorPath::avx512, "avx512", PELLUCOR_X86_KERNEL(pack_color_frame_avx512),
     PELLUCOR_X86_KERNEL(pack_gray_frame_avx2), PELLUCOR_X86_KERNEL(decode_packets_avx2),
     PELLUCOR_X86_KERNEL(add_pattern_sse2), PELLUCOR_X86_KERNEL(pack_dithered_gray_sse2),
     PELLUCOR_X86_KERNEL(chunk_crc_pclmul), PELLUCOR_X86_KERNEL(unfilter_row_ssse3)},
    {VectorPath::avx2, "avx2", PELLUCOR_X86_KERNEL(pack_color_frame_avx2), PELLUCOR_X86_KERNEL(pack_gray_frame_avx2),
     PELLUCOR_X86_KERNEL(decode_packets_avx2), PELLUCOR_X86_KERNEL(add_pattern_sse2),
     PELLUCOR_X86_KERNEL(pack_dithered_gray_sse2), PELLUCOR_X86_KERNEL(chunk_crc_pclmul),
     PELLUCOR_X86_KERNEL(unfilter_row_ssse3)},
    {VectorPath::ssse3, "ssse3", PELLUCOR_X86_KERNEL(pack_color_frame_ssse3),
     PELLUCOR_X86_KERNEL(pack_gray_frame_plain), PELLUCOR_X86_KERNEL(decode_packets),
     PELLUCOR_X86_KERNEL(add_pattern_sse2), PELLUCOR_X86_KERNEL(pack_dithered_gray_sse2), nullptr,
     PELLUCOR_X86_KERNEL(unfilter_row_ssse3)},
    {VectorPath::neon, "neon", PELLUCOR_NEON_KERNEL(pack_color_frame_neon), PELLUCOR_NEON_KERNEL(pack_gray_frame_neon),
     PELLUCOR_NEON_KERNEL(decode_packets), PELLUCOR_NEON_KERNEL(add_pattern_neon),
     PELLUCOR_NEON_KERNEL(pack_dithered_gray_neon), nullptr, PELLUCOR_NEON_KERNEL(unfilter_row_neon)},
    {VectorPath::plain, "plain", pack_color_frame_plain, pack_gray_frame_plain, decode_packets, add_pattern_plain,
     pack_dithered_gray_plain, nullptr, unfilter_row_plain},
};
#undef PELLUCOR_X86_KERNEL
#undef PELLUCOR_NEON_KERNEL

bool processor_has(VectorPath path)
{
    switch (path) {
    case VectorPath::plain:
        return true;
#ifdef PELLUCOR_X86
#if defined(_MSC_VER) && !defined(__clang__)
    case VectorPath::ssse3:
    case VectorPath::avx2:
    case VectorPath::avx512: {
        // CPUID leaf 1 ECX: PCLMULQDQ bit 1, SSSE3 bit 9, OSXSAVE bit 27. Leaf 7 EBX: AVX2 bit 5,
        // AVX-512F bit 16, AVX-512BW bit 30; ECX: AVX-512 VBMI bit 1. XCR0 says
        // which registers the operating system saves: SSE and AVX state (bits
        // 1, 2), and for AVX-512 the mask and upper registers too (bits 5-7).
        constexpr int PCLMUL = 1 << 1, SSSE3 = 1 << 9, OSXSAVE = 1 << 27, AVX2 = 1 << 5, AVX512F = 1 << 16,
                      AVX512BW = 1 << 30, AVX512VBMI = 1 << 1;
        constexpr unsigned long long AVX_STATE = 0x6, AVX512_STATE = 0xE6;
        int leaf1[4], leaf7[4];
        __cpuid(leaf1, 1);
        __cpuidex(leaf7, 7, 0);
        const unsigned long long saved = (leaf1[2] & OSXSAVE) ? _xgetbv(0) : 0;
        if (path == VectorPath::ssse3) return (leaf1[2] & SSSE3) != 0;
        if ((leaf1[2] & PCLMUL) == 0) return false;
        if (path == VectorPath::avx2) return (saved & AVX_STATE) == AVX_STATE && (leaf7[1] & AVX2) != 0;
        return (saved & AVX512_STATE) == AVX512_STATE && (leaf7[1] & AVX512F) && (leaf7[1] & AVX512BW) &&
               (leaf7[2] & AVX512VBMI);
    }
#else
    case VectorPath::ssse3:
        return __builtin_cpu_supports("ssse3");
    case VectorPath::avx2:
        return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("pclmul");
    case VectorPath::avx512:
        return __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("avx512f") &&
               __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vbmi");
#endif
#endif
#ifdef PELLUCOR_NEON
    case VectorPath::neon:
        return true;
#endif
    default:
        return false;
    }
}

const Kernels* in_use = nullptr;

const Kernels& row_of(VectorPath path)
{
    for (const Kernels& row : KERNEL_TABLE) {
        if (row.path == path) {
            return row;
        }
    }
    return KERNEL_TABLE[std::size(KERNEL_TABLE) - 1];
}

}  // namespace

std::span<const Kernels> kernel_table()
{
    return KERNEL_TABLE;
}

bool vector_path_available(VectorPath path)
{
    return row_of(path).pack_color_frame != nullptr && processor_has(path);
}

bool use_vector_path(VectorPath path)
{
    if (!vector_path_available(path)) {
        return false;
    }
    in_use = &row_of(path);
    return true;
}

const Kernels& kernels()
{
    if (in_use == nullptr) {
        const char* asked = std::getenv("PELLUCOR_VECTOR_PATH");
        for (const Kernels& row : KERNEL_TABLE) {
            if (asked != nullptr && std::strcmp(asked, row.name) == 0 && use_vector_path(row.path)) {
                return *in_use;
            }
        }
        for (const Kernels& row : KERNEL_TABLE) {
            if (use_vector_path(row.path)) {
                break;
            }
        }
    }
    return *in_use;
}
