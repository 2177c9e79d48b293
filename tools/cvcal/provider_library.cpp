#include "tools/cvcal/provider_library.h"

#include <cstring>

#include "host/library_location.h"

namespace cvcal {
namespace {

template <typename Fn>
bool Bind(const cv::DynamicLibrary& library, const char* name, Fn* fn, std::string* missing) {
    *fn = reinterpret_cast<Fn>(library.Symbol(name));
    if (*fn == nullptr && missing->empty()) *missing = name;
    return *fn != nullptr;
}

}  // namespace

std::string DefaultLibraryPath() {
    return cv::ProviderLibraryBesideExecutable();
}

void ProviderLibrary::Choose(const std::string& path) {
    path_ = path.empty() ? DefaultLibraryPath() : path;
}

bool ProviderLibrary::Load(const std::string& path) {
    Choose(path);
    if (!library_.Open(path_.c_str())) {
        error_ = "cannot load " + path_ + ": " + library_.Error();
        return false;
    }
    std::string missing;
    std::string optional;
#define CV_BIND(Name, ...) \
    Bind(library_, #Name, &Name, std::strcmp(#Name, "SetCurrentHost") == 0 ? &optional : &missing);
    CVAICP_EXPORTS(CV_BIND)
#undef CV_BIND
    if (!missing.empty()) {
        error_ = path_ + " does not export " + missing;
        return false;
    }
    return true;
}

}  // namespace cvcal
