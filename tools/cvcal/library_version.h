// The version of a provider library file, read from the file without loading it.
#pragma once

#include <string>

namespace cvcal {

// The version the file names: its version resource on Windows, the text mark that every build of
// the library carries elsewhere. Empty when the file cannot be read or names none (a library of
// another build, or no library at all).
std::string LibraryFileVersion(const std::string& path);

}  // namespace cvcal
