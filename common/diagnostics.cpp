// The one sink of the library's diagnostics; see diagnostics.h.
#include "common/diagnostics.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <new>

#include "common/spin_lock.h"
#include "platform/platform.h"

namespace cv {
namespace {

enum class Destination { kUnknown, kStandardOutput, kFile };

// Guards the sink and the one reading of the variable. Everything here is constant-initialised:
// the library runs in a foreign host, and a report may come while an exception unwinds.
SpinLock g_lock;
DiagnosticSink g_sink;
Destination g_destination = Destination::kUnknown;
char g_file[1024];  // written once, under the lock, before g_destination says kFile

// Where reports go when no sink is set. Called with the lock held.
Destination ReportDestination() {
    if (g_destination == Destination::kUnknown) {
        g_destination = EnvironmentValue(kDiagnosticsVariable, g_file, sizeof g_file)
                            ? Destination::kFile
                            : Destination::kStandardOutput;
    }
    return g_destination;
}

// A diagnostic formatted in memory: on the stack when it is short, as nearly all are, else in a
// block of its own; cut to the stack's room when there is no memory for that, since a report
// must not fail its caller.
class FormattedText {
  public:
    FormattedText(const char* format, va_list args) {
        va_list again;
        va_copy(again, args);
        const int length = std::vsnprintf(small_, sizeof small_, format, args);
        if (length < 0) {
            small_[0] = '\0';
        } else if (static_cast<size_t>(length) < sizeof small_) {
            length_ = static_cast<size_t>(length);
        } else {
            length_ = sizeof small_ - 1;
            const size_t size = static_cast<size_t>(length) + 1;
            large_.reset(new (std::nothrow) char[size]);
            if (large_ && std::vsnprintf(large_.get(), size, format, again) == length) {
                text_ = large_.get();
                length_ = static_cast<size_t>(length);
            }
        }
        va_end(again);
    }
    FormattedText(const FormattedText&) = delete;
    FormattedText& operator=(const FormattedText&) = delete;

    const char* text() const { return text_; }
    size_t length() const { return length_; }

  private:
    char small_[512];
    std::unique_ptr<char[]> large_;
    const char* text_ = small_;
    size_t length_ = 0;
};

void AppendToFile(const char* path, const FormattedText& text) {
    File file;
    if (file.Open(path, File::Mode::kAppend)) file.Write(text.text(), text.length());
}

void Deliver(DiagnosticLevel level, const char* format, va_list args) {
    // Reports come from failure paths whose callers may still look at the error.
    const uint32_t error = LastSystemError();
    Destination destination;
    {
        SpinLockHold hold(g_lock);
        if (g_sink.write != nullptr) {
            const FormattedText text(format, args);
            g_sink.write(g_sink.context, level, text.text(), text.length());
            SetLastSystemError(error);
            return;
        }
        destination =
            level == DiagnosticLevel::kReport ? ReportDestination() : Destination::kUnknown;
    }
    if (destination == Destination::kStandardOutput) {
        std::vfprintf(stdout, format, args);
    } else if (destination == Destination::kFile) {
        AppendToFile(g_file, FormattedText(format, args));
    }
    SetLastSystemError(error);
}

}  // namespace

void Diagnose(const char* format, ...) {
    va_list args;
    va_start(args, format);
    Deliver(DiagnosticLevel::kReport, format, args);
    va_end(args);
}

void DiagnosticTrace(DiagnosticLevel level, const char* format, ...) {
    va_list args;
    va_start(args, format);
    Deliver(level, format, args);
    va_end(args);
}

void FlushDiagnostics() {
    bool to_standard_output;
    {
        SpinLockHold hold(g_lock);
        to_standard_output =
            g_sink.write == nullptr && g_destination == Destination::kStandardOutput;
    }
    if (to_standard_output) std::fflush(stdout);
}

DiagnosticSink SetDiagnosticSink(DiagnosticSink sink) {
    SpinLockHold hold(g_lock);
    const DiagnosticSink previous = g_sink;
    g_sink = sink.write != nullptr ? sink : DiagnosticSink();
    return previous;
}

}  // namespace cv
