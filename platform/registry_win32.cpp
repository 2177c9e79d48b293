// Registry access on the real registry.
#include "platform/registry.h"

#include <windows.h>

#include "platform/registry_key_win32.h"

namespace cv {
using namespace win32;

RegistryRead ReadRegistryValue(Hive hive, const char* key, const char* name, void* data,
                               uint32_t capacity, uint32_t* size) {
    ScopedKey opened;
    if (RegOpenKeyExA(Root(hive), key, 0, KEY_QUERY_VALUE, opened.out()) != ERROR_SUCCESS) {
        return RegistryRead::kNoKey;
    }
    DWORD length = capacity;
    LONG result =
        RegQueryValueExA(opened.get(), name, nullptr, nullptr, static_cast<BYTE*>(data), &length);
    if (result == ERROR_MORE_DATA) return RegistryRead::kTooLarge;
    if (result != ERROR_SUCCESS) return RegistryRead::kNoValue;
    *size = length;
    return RegistryRead::kRead;
}

}  // namespace cv
