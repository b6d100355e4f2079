#pragma once
// The byte loops that move whole pages (turns, the red-blue swap) take SSSE3's byte
// shuffles where the processor has them; the build keeps plain loops beside them for
// processors without, and for builds that are not for x86.

// Cleared, the loops take their plain form on every processor: the tests run both forms
// on machines that all have SSSE3.
inline bool dibUseSimd = true;

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define DIB_SIMD 1

// Functions that use the shuffles carry this. They also align the stack themselves: 32-bit
// Windows code keeps it aligned to 4 bytes only, and the registers' spills need 16.
#define DIB_SSSE3 __attribute__((target("ssse3"), force_align_arg_pointer))
// Their helpers, inlined into them.
#define DIB_SSSE3_INLINE __attribute__((target("ssse3"), always_inline)) inline

inline bool DibHasSsse3()
{
    static const bool has = (__builtin_cpu_init(), __builtin_cpu_supports("ssse3"));
    return has && dibUseSimd;
}
#else
inline bool DibHasSsse3()
{
    return false;
}
#endif
