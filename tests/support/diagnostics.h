// The library's diagnostics kept for a test while one of these lives, instead of going to
// standard output; the sink in place before comes back with its end.
#pragma once

#include <string>

#include "common/diagnostics.h"

namespace cv {
namespace testing {

class KeptDiagnostics {
  public:
    KeptDiagnostics() : previous_(SetDiagnosticSink({&Keep, this})) {}
    ~KeptDiagnostics() { SetDiagnosticSink(previous_); }
    KeptDiagnostics(const KeptDiagnostics&) = delete;
    KeptDiagnostics& operator=(const KeptDiagnostics&) = delete;

    // The reports, or the trace's texts, kept since the last Take of them.
    std::string Take() { return Taken(&reports_); }
    std::string TakeTrace() { return Taken(&trace_); }

  private:
    static std::string Taken(std::string* kept) {
        std::string taken;
        taken.swap(*kept);
        return taken;
    }
    static void Keep(void* context, DiagnosticLevel level, const char* text, size_t length) {
        auto* self = static_cast<KeptDiagnostics*>(context);
        (level == DiagnosticLevel::kReport ? self->reports_ : self->trace_).append(text, length);
    }

    DiagnosticSink previous_;
    std::string reports_;
    std::string trace_;
};

}  // namespace testing
}  // namespace cv
