// Configuration readers. The store's settings live under HKEY_LOCAL_MACHINE, the remote hosts under
// HKEY_CURRENT_USER. Values are read when needed, never cached by the callers, so that a change
// takes effect at the next reading.
//
// In the Windows build these read the real registry. Natively they read a file in the Windows
// ".reg" text format named by the environment variable CVAICP_REGISTRY (re-read whenever it
// changes); without the variable or the file every key is missing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace cv {

// Text values are read through a buffer of this size; callers pass outputs at least this large.
constexpr size_t kRegistryTextSize = 1024;

// HKEY_LOCAL_MACHINE text. 1 and the text on success; 0 otherwise: the output is left alone when
// the key cannot be opened and emptied when the value is missing, empty or too large.
int GetRegistryString(const char* key, const char* name, char* out);
// HKEY_LOCAL_MACHINE number of at most 4 bytes (shorter data is zero-extended). 1 on success;
// 0 with the output untouched otherwise, and for an empty key path without asking the registry.
int GetRegistryDword(const char* key, const char* name, uint32_t* out);
// HKEY_CURRENT_USER text: as GetRegistryString, but every failure leaves the output alone.
int GetUserRegistryString(const char* key, const char* name, char* out);
// HKEY_CURRENT_USER number: as GetRegistryDword.
int GetUserRegistryDword(const char* key, const char* name, uint32_t* out);

enum class Hive { kLocalMachine, kCurrentUser };

// The raw access the readers above are built on: the value's data, up to capacity bytes.
enum class RegistryRead { kNoKey, kNoValue, kTooLarge, kRead };
RegistryRead ReadRegistryValue(Hive hive, const char* key, const char* name, void* data,
                               uint32_t capacity, uint32_t* size);

// Value types, with the Win32 numbers.
enum RegistryType : uint32_t { kRegSz = 1, kRegBinary = 3, kRegDword = 4 };

// The key that holds the store's settings, and its Providers subkey.
constexpr const char* kStoreKey = "SOFTWARE\\Corvane\\Corvane";
constexpr const char* kProvidersKey = "SOFTWARE\\Corvane\\Corvane\\Providers";

}  // namespace cv
