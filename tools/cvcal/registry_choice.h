// Which configuration cvcal works with. Natively that is a .reg file: --registry FILE, else
// $CVAICP_REGISTRY, else ~/.config/cvaicp/store.reg, the way other tools keep a per-user file.
// The Windows build reads the registry itself: there --registry is refused, and config import
// writes a file's values into the registry.
#pragma once

#include <string>

namespace cvcal {

enum class RegistryUse {
    kNone,    // the command reads no configuration
    kRead,    // the file must be there
    kCreate,  // the command writes values: the file is made when missing
};

// Points the library (and cvcal's own reads) at the configuration. A Failure (kExitConfig) for a
// file that is missing where it must be there, a folder, or not a .reg file.
void ChooseRegistry(const std::string& given, RegistryUse use);

// Writes the values of a .reg file into the registry (the Windows build). A Failure when the file
// is not a .reg file or a value cannot be written.
void ImportIntoRegistry(const std::string& path);

// The per-user file used when none is named ("" where there is no home folder).
std::string DefaultRegistryPath();

}  // namespace cvcal
