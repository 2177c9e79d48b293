// Points a host process at a ".reg" file of settings before it loads the library. Natively the
// library reads such a file itself (CVAICP_REGISTRY); in the Windows build its values are written
// into the registry, where the library looks for them.
#pragma once

#include <string>

namespace cv {

// False when the file cannot be read (natively: nothing is checked until the library reads it).
bool ImportRegistryFile(const std::string& path);

}  // namespace cv
