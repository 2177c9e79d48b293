// Sixteen bytes compared at once where the processor can: SSE2, which every x86-64 processor has
// and the 32-bit build asks for at run time; thirty-two with AVX2 where the processor and the
// system (which must save its registers) both have it. Elsewhere the callers' byte-wise paths
// serve alone.
#pragma once

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#include <immintrin.h>

#define CVAICP_SSE2 1
#define CVAICP_SSE2_FUNCTION __attribute__((target("sse2")))
#define CVAICP_AVX2_FUNCTION __attribute__((target("avx2")))

namespace cv {

inline bool HasSse2() {
#ifdef __x86_64__
    return true;
#else
    return __builtin_cpu_supports("sse2");
#endif
}

// The compiler's run-time check counts AVX2 only where the system has enabled the wide registers
// (XGETBV), so a system too old to save them gets the SSE2 path.
inline bool HasAvx2() {
    return __builtin_cpu_supports("avx2");
}

}  // namespace cv
#endif
