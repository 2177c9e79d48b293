// The trace that the index hands its warnings and errors to. This library keeps none: the trace
// takes the texts and drops them.
#pragma once

namespace cv {

constexpr int kTraceWarning = 8;
constexpr int kTraceError = 9;

inline int DiagnosticTrace(int level, const char* text) {
    (void)level;
    (void)text;
    return 1;
}

}  // namespace cv
