// Sixteen bytes compared at once where the processor can: SSE2, which every x86-64 processor has
// and the 32-bit build asks for at run time. Elsewhere the callers' byte-wise paths serve alone.
#pragma once

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#include <emmintrin.h>

#define CVAICP_SSE2 1
#define CVAICP_SSE2_FUNCTION __attribute__((target("sse2")))

namespace cv {

inline bool HasSse2() {
#ifdef __x86_64__
    return true;
#else
    return __builtin_cpu_supports("sse2");
#endif
}

}  // namespace cv
#endif
