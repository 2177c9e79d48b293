// What the registry's reader and writer share in the Windows build: the root of a hive, and an
// open key that closes itself.
#pragma once

#include <windows.h>

#include "platform/registry.h"

namespace cv {
namespace win32 {

inline HKEY Root(Hive hive) {
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

}  // namespace win32
}  // namespace cv
