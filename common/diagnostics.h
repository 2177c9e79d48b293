// The library's diagnostics, all through one sink: the reports it has always printed on the host's
// standard output (a blocking file it cannot remove, an index it cannot save or load, the remote
// channel's progress), and the index's trace of its warnings and errors, which no host has seen.
//
// By default reports go to standard output, as they always have, and traces are dropped. A host
// that wants the reports elsewhere, and can reach the library only through its exports, names a
// file in the environment variable CVAICP_DIAGNOSTICS: the first diagnostic after the library is
// loaded reads it, and every report from then on is appended to that file instead (one that
// cannot be opened takes nothing). Traces are dropped there too. A host that knows nothing of the
// variable sees no change. Code linked into the same program (the tests, the fuzz targets) may
// set a sink of its own instead, which receives every diagnostic, traces included.
#pragma once

#include <cstddef>

#if defined(__GNUC__)
#define CV_PRINTF_LIKE(format_at, first_at) __attribute__((format(printf, format_at, first_at)))
#else
#define CV_PRINTF_LIKE(format_at, first_at)
#endif

namespace cv {

// The variable that names the file a host wants the reports in.
constexpr char kDiagnosticsVariable[] = "CVAICP_DIAGNOSTICS";

enum class DiagnosticLevel {
    kReport,        // standard output, or the file the host named
    kTraceWarning,  // the index's trace: only a sink set in process sees it
    kTraceError,
};

// Takes each diagnostic whole, as formatted, NUL-terminated at `length`. It is called by one
// thread at a time and must not report a diagnostic itself.
struct DiagnosticSink {
    void (*write)(void* context, DiagnosticLevel level, const char* text, size_t length) = nullptr;
    void* context = nullptr;
};

// A report, formatted as printf formats. The caller's last system error stays as it was.
void Diagnose(const char* format, ...) CV_PRINTF_LIKE(1, 2);
// A text of the trace (kTraceWarning or kTraceError), formatted as printf formats.
void DiagnosticTrace(DiagnosticLevel level, const char* format, ...) CV_PRINTF_LIKE(2, 3);
// Pushes out the reports that standard output's buffer holds, where they go there: for a report
// that must be seen before a wait that may be long.
void FlushDiagnostics();

// Sends every diagnostic of this copy of the library to `sink` from the call on; a sink without a
// write function restores the default. Answers the sink it replaces.
DiagnosticSink SetDiagnosticSink(DiagnosticSink sink);

}  // namespace cv
