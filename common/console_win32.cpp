#include "common/console.h"

#include <io.h>

namespace cv {

FILE* SeparateLibraryDiagnostics() {
    std::fflush(stdout);
    int results = _dup(_fileno(stdout));
    if (results < 0) return stdout;
    FILE* stream = _fdopen(results, "wb");
    if (stream == nullptr || _dup2(_fileno(stderr), _fileno(stdout)) < 0) {
        if (stream) std::fclose(stream);
        return stdout;
    }
    return stream;
}

}  // namespace cv
