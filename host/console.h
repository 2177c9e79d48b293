// Our command-line hosts print their results on standard output, and the library prints its own
// diagnostics there too. SeparateLibraryDiagnostics moves the process's standard output onto
// standard error and hands back a stream on the original standard output, so that a script
// reading cvcal's results (its JSON, say) gets only those.
#pragma once

#include <cstdio>

namespace cv {

// The stream for the program's own results; stdout itself when the move is not possible. It
// writes bytes as they are.
FILE* SeparateLibraryDiagnostics();

// Keeps what is written on standard output from now on (the library's diagnostics, once they have
// been separated) in a temporary file, for ShowKeptDiagnostics. False when there is none to be had.
bool KeepLibraryDiagnostics();
// Writes what was kept on standard error, each line after `label`; once, at the end.
void ShowKeptDiagnostics(const char* label);

// Makes standard output's descriptor write to the file (the platform's part of keeping).
bool PointStandardOutputAt(FILE* file);

// Standard input and output as bytes: on Windows the C runtime would otherwise turn LF into
// CR LF on the way out and drop CRs on the way in, and an item file's bytes would not survive.
void UseBinaryStandardStreams();

}  // namespace cv
