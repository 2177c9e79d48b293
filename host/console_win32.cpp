#include "host/console.h"

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

bool PointStandardOutputAt(FILE* file) {
    std::fflush(stdout);
    return _dup2(_fileno(file), _fileno(stdout)) >= 0;
}

}  // namespace cv
