// Which vector loops the stages run: the best the processor has, found on
// first use, or the one a test or benchmark asks for.
#include "vector_path.h"

#if defined(PELLUCOR_X86) && defined(_MSC_VER) && !defined(__clang__)
#include <immintrin.h>
#include <intrin.h>
#endif

namespace {

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
        // CPUID leaf 1 ECX: SSSE3 bit 9, OSXSAVE bit 27. Leaf 7 EBX: AVX2 bit 5,
        // AVX-512F bit 16, AVX-512BW bit 30; ECX: AVX-512 VBMI bit 1. XCR0 says
        // which registers the operating system saves.
        int leaf1[4], leaf7[4];
        __cpuid(leaf1, 1);
        __cpuidex(leaf7, 7, 0);
        const unsigned long long saved = (leaf1[2] & 1 << 27) ? _xgetbv(0) : 0;
        if (path == VectorPath::ssse3) return (leaf1[2] & 1 << 9) != 0;
        if (path == VectorPath::avx2) return (saved & 0x6) == 0x6 && (leaf7[1] & 1 << 5) != 0;
        return (saved & 0xE6) == 0xE6 && (leaf7[1] & 1 << 16) != 0 && (leaf7[1] & 1 << 30) != 0 &&
               (leaf7[2] & 1 << 1) != 0;
    }
#else
    case VectorPath::ssse3:
        return __builtin_cpu_supports("ssse3");
    case VectorPath::avx2:
        return __builtin_cpu_supports("avx2");
    case VectorPath::avx512:
        return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
               __builtin_cpu_supports("avx512vbmi");
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

constexpr VectorPath BEST_FIRST[] = {VectorPath::avx512, VectorPath::avx2, VectorPath::ssse3, VectorPath::neon,
                                     VectorPath::plain};

bool chosen = false;
VectorPath path_in_use = VectorPath::plain;

}  // namespace

bool use_vector_path(VectorPath path)
{
    if (!processor_has(path)) {
        return false;
    }
    path_in_use = path;
    chosen = true;
    return true;
}

VectorPath vector_path()
{
    if (!chosen) {
        for (const VectorPath path : BEST_FIRST) {
            if (use_vector_path(path)) {
                break;
            }
        }
    }
    return path_in_use;
}
