// What the registry's reader and writer share natively: where the ".reg" file is, and how it is
// read.
#pragma once

#include <string>

namespace cv {
namespace posix {

// The file named by CVAICP_REGISTRY, or null when none is named.
const char* RegistryFilePath();

// The file's whole text. The name is a native path, taken as it is, and the read goes straight to
// the system rather than through the platform seam (File, ReadWholeFile): the seam would turn the
// name as a store path, and the fault injection of the tests, which fails the seam's calls, must
// not take the configuration away from the code under test.
bool ReadRegistryFile(const char* path, std::string* text);

}  // namespace posix
}  // namespace cv
