// Registry access on the real registry.
#include "common/registry.h"

#include <windows.h>

namespace cv {
namespace {

HKEY Root(Hive hive) {
    return hive == Hive::kLocalMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
}

class ScopedKey {
  public:
    ScopedKey() = default;
    ~ScopedKey() {
        if (key_) RegCloseKey(key_);
    }
    ScopedKey(const ScopedKey&) = delete;
    ScopedKey& operator=(const ScopedKey&) = delete;
    HKEY* out() { return &key_; }
    HKEY get() const { return key_; }

  private:
    HKEY key_ = nullptr;
};

}  // namespace

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
