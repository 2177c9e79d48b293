// The library's diagnostics kept aside for cvcal --verbose; see console.h.
#include <cstring>

#include "host/console.h"

namespace cv {
namespace {

FILE* g_kept = nullptr;

}  // namespace

bool KeepLibraryDiagnostics() {
    g_kept = std::tmpfile();
    if (g_kept == nullptr) return false;
    if (!PointStandardOutputAt(g_kept)) {
        std::fclose(g_kept);
        g_kept = nullptr;
        return false;
    }
    return true;
}

void ShowKeptDiagnostics(const char* label) {
    if (g_kept == nullptr) return;
    std::fflush(stdout);
    std::rewind(g_kept);
    char line[1024];
    bool at_start = true;
    while (std::fgets(line, sizeof line, g_kept) != nullptr) {
        std::fprintf(stderr, "%s%s", at_start ? label : "", line);
        at_start = std::strchr(line, '\n') != nullptr;
    }
    if (!at_start) std::fputc('\n', stderr);
    std::fflush(stderr);
}

}  // namespace cv
