#include "common/console.h"

#include <cstring>

#include <fcntl.h>
#include <io.h>

namespace cv {

FILE* SeparateLibraryDiagnostics() {
    std::fflush(stdout);
    int results = _dup(_fileno(stdout));
    if (results < 0) return stdout;
    // The mode belongs to the descriptor, which the copy takes over from standard output.
    _setmode(results, _O_BINARY);
    FILE* stream = _fdopen(results, "wb");
    if (stream == nullptr || _dup2(_fileno(stderr), _fileno(stdout)) < 0) {
        if (stream) std::fclose(stream);
        return stdout;
    }
    return stream;
}

void UseBinaryStandardStreams() {
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
}

namespace {
FILE* g_kept = nullptr;
}  // namespace

bool KeepLibraryDiagnostics() {
    std::fflush(stdout);
    g_kept = std::tmpfile();
    if (g_kept == nullptr) return false;
    if (_dup2(_fileno(g_kept), _fileno(stdout)) < 0) {
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
