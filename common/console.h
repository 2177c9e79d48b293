// Our command-line hosts print their results on standard output, and the library prints its own
// diagnostics there too. SeparateLibraryDiagnostics moves the process's standard output onto
// standard error and hands back a stream on the original standard output, so that a script
// reading cvcal's results (its JSON, say) gets only those.
#pragma once

#include <cstdio>

namespace cv {

// The stream for the program's own results; stdout itself when the move is not possible.
FILE* SeparateLibraryDiagnostics();

}  // namespace cv
