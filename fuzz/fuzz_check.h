// The fuzz targets' own checks: a property that fails stops the run like a crash, naming the
// check, so that libFuzzer saves the input.
#pragma once

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition)                                                                  \
    ((condition)                                                                               \
         ? (void)0                                                                             \
         : (std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition), \
            std::abort()))
