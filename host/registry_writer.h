// Configuration writers, for our hosts and the tests only: the provider never writes
// configuration, and the DLL does not link these. Keys are created as needed. In the Windows build
// they write the real registry; natively they rewrite the ".reg" file named by CVAICP_REGISTRY
// (created when missing), serialised between processes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/reg_file.h"
#include "platform/registry.h"

namespace cv {

bool SetRegistryString(Hive hive, const char* key, const char* name, const std::string& value);
bool SetRegistryDword(Hive hive, const char* key, const char* name, uint32_t value);
bool SetRegistryBinary(Hive hive, const char* key, const char* name, const void* data, size_t size);
bool DeleteRegistryValue(Hive hive, const char* key, const char* name);

// The raw write the setters above are built on.
bool WriteRegistryValue(Hive hive, const char* key, const char* name, RegistryType type,
                        const void* data, size_t size);

// Where the values live: natively the ".reg" file named by CVAICP_REGISTRY (empty when none is
// named), in the Windows build the registry itself.
bool RegistryIsFile();
std::string RegistryLocation();

// Whether the values hold a secret: a value named "Credentials" (a remote host's), under any key.
// Natively a ".reg" file that holds one is written readable by its owner alone.
bool HoldsCredentials(const RegFile& file);

}  // namespace cv
