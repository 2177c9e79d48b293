// File helpers for our hosts and the tests only, over the platform seam: the provider deletes no
// folder trees and writes no whole files, and the DLL does not link these.
#pragma once

#include <cstddef>
#include <string>

namespace cv {

// Paths that DeleteFolderTree builds are limited to this many bytes with their NUL (MAX_PATH).
constexpr size_t kMaxPath = 260;

// Deletes the folder's entries that match the pattern (every entry when the pattern is null),
// descending into matching subfolders, then removes the folder itself. 1 when the folder was
// removed, 0 otherwise (a file that could not be deleted stops the walk at once).
int DeleteFolderTree(const char* folder, const char* pattern);

// A whole string as a file (created or replaced); ReadWholeFile (file_helpers.h) is its pair.
bool WriteWholeFile(const char* path, const std::string& bytes);

// Where the native build's hosts (cvcal, cvadmind) keep the configuration when neither an option
// nor CVAICP_REGISTRY names one: ~/.config/cvaicp/store.reg, as other tools keep a per-user
// file; "" where there is no home folder.
std::string DefaultRegistryFile();

// One argument quoted for the Windows command-line parser (CommandLineToArgvW's rules), so that
// the program started with it, a child or a service, reads it back unchanged.
std::string QuoteArgument(const std::string& argument);

}  // namespace cv
