// Win32 side of DynamicLibrary: LoadLibrary, as a host loads the provider.
#include "host/host_platform.h"

#include <windows.h>

namespace cv {

bool DynamicLibrary::Open(const char* path) {
    Close();
    handle_ = LoadLibraryA(path);
    if (handle_ == nullptr) {
        error_ = "LoadLibrary failed with error " + std::to_string(GetLastError());
        return false;
    }
    error_.clear();
    return true;
}

void* DynamicLibrary::Symbol(const char* name) const {
    return handle_ ? reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name))
                   : nullptr;
}

void* DynamicLibrary::Ordinal(unsigned ordinal) const {
    return handle_ ? reinterpret_cast<void*>(
                         GetProcAddress(static_cast<HMODULE>(handle_), MAKEINTRESOURCEA(ordinal)))
                   : nullptr;
}

void DynamicLibrary::Close() {
    if (handle_) FreeLibrary(static_cast<HMODULE>(handle_));
    handle_ = nullptr;
}

}  // namespace cv
