// Registry writers on the real registry.
#include "host/registry_writer.h"

#include <windows.h>

#include "platform/registry_key_win32.h"

namespace cv {
using namespace win32;

bool WriteRegistryValue(Hive hive, const char* key, const char* name, RegistryType type,
                        const void* data, size_t size) {
    ScopedKey opened;
    if (RegCreateKeyExA(Root(hive), key, 0, nullptr, 0, KEY_SET_VALUE, nullptr, opened.out(),
                        nullptr) != ERROR_SUCCESS) {
        return false;
    }
    return RegSetValueExA(opened.get(), name, 0, type, static_cast<const BYTE*>(data),
                          static_cast<DWORD>(size)) == ERROR_SUCCESS;
}

bool RegistryIsFile() {
    return false;
}

std::string RegistryLocation() {
    return "the Windows registry";
}

bool DeleteRegistryValue(Hive hive, const char* key, const char* name) {
    ScopedKey opened;
    if (RegOpenKeyExA(Root(hive), key, 0, KEY_SET_VALUE, opened.out()) != ERROR_SUCCESS) {
        return false;
    }
    return RegDeleteValueA(opened.get(), name) == ERROR_SUCCESS;
}

}  // namespace cv
