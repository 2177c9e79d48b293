#include "common/console.h"

#include <cstring>

#include <unistd.h>

namespace cv {

FILE* SeparateLibraryDiagnostics() {
    std::fflush(stdout);
    int results = dup(STDOUT_FILENO);
    if (results < 0) return stdout;
    FILE* stream = fdopen(results, "w");
    if (stream == nullptr || dup2(STDERR_FILENO, STDOUT_FILENO) < 0) {
        if (stream) std::fclose(stream);
        return stdout;
    }
    return stream;
}

void UseBinaryStandardStreams() {}  // POSIX streams carry bytes as they are

namespace {
FILE* g_kept = nullptr;
}  // namespace

bool KeepLibraryDiagnostics() {
    std::fflush(stdout);
    g_kept = std::tmpfile();
    if (g_kept == nullptr) return false;
    if (dup2(fileno(g_kept), fileno(stdout)) < 0) {
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
