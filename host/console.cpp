// The library's diagnostics kept aside for cvcal --verbose; see console.h.
#include "host/console.h"

#include <cstdio>
#include <string>

#include "common/diagnostics.h"
#include "common/file_helpers.h"
#include "host/host_platform.h"

namespace cv {
namespace {

std::string g_kept;  // the file that keeps them; empty when none does

}  // namespace

bool KeepLibraryDiagnostics() {
    std::string path;
    if (MakeTemporaryFile("cvc", &path)) {
        if (SetProcessEnvironment(kDiagnosticsVariable, path.c_str())) {
            g_kept = path;
            return true;
        }
        RemoveFile(path.c_str());
    }
    DropLibraryDiagnostics();
    return false;
}

void DropLibraryDiagnostics() {
    SetProcessEnvironment(kDiagnosticsVariable, NullDevicePath());
}

void ShowKeptDiagnostics(const char* label) {
    if (g_kept.empty()) return;
    std::string text;
    const bool read = ReadWholeFile(g_kept.c_str(), &text);
    RemoveFile(g_kept.c_str());
    g_kept.clear();
    if (!read) return;
    for (size_t at = 0; at < text.size();) {
        const size_t end = text.find('\n', at);
        const size_t next = end == std::string::npos ? text.size() : end + 1;
        std::fputs(label, stderr);
        std::fwrite(text.data() + at, 1, next - at, stderr);
        if (end == std::string::npos) std::fputc('\n', stderr);
        at = next;
    }
    std::fflush(stderr);
}

}  // namespace cv
