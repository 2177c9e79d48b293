#include "host/console.h"

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

bool PointStandardOutputAt(FILE* file) {
    std::fflush(stdout);
    return dup2(fileno(file), fileno(stdout)) >= 0;
}

}  // namespace cv
