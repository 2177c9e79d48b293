// POSIX side of DynamicLibrary: dlopen, as a host loads the provider.
#include <dlfcn.h>

#include "host/host_platform.h"

namespace cv {

bool DynamicLibrary::Open(const char* path) {
    Close();
    handle_ = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) {
        const char* why = dlerror();
        error_ = why ? why : "dlopen failed";
        return false;
    }
    error_.clear();
    return true;
}

void* DynamicLibrary::Symbol(const char* name) const {
    return handle_ ? dlsym(handle_, name) : nullptr;
}

void* DynamicLibrary::Ordinal(unsigned) const {
    return nullptr;
}

void DynamicLibrary::Close() {
    if (handle_) dlclose(handle_);
    handle_ = nullptr;
}

}  // namespace cv
