// Our command-line hosts print their results on standard output. The library's diagnostics would
// go there too; cvcal has them sent to a file instead (the library's diagnostics variable, see
// common/diagnostics.h), so that a script reading its results (its JSON, say) gets only those.
#pragma once

namespace cv {

// Has the library's reports kept in a temporary file from now on, for ShowKeptDiagnostics; in
// this process and in the libraries it loads. False, and the reports dropped, when there is none
// to be had.
bool KeepLibraryDiagnostics();
// Has the library's reports dropped.
void DropLibraryDiagnostics();
// Writes what was kept on standard error, each line after `label`, and removes the file; once,
// at the end.
void ShowKeptDiagnostics(const char* label);

// Standard input and output as bytes: on Windows the C runtime would otherwise turn LF into
// CR LF on the way out and drop CRs on the way in, and an item file's bytes would not survive.
void UseBinaryStandardStreams();

}  // namespace cv
