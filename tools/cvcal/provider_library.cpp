#include "tools/cvcal/provider_library.h"

#include "common/file_helpers.h"

namespace cvcal {
namespace {

std::string ExecutableFolder() {
    std::string self = cv::ExecutablePath();
    std::string::size_type slash = self.find_last_of("\\/");
    return slash == std::string::npos ? std::string(".") : self.substr(0, slash);
}

bool Exists(const std::string& path) {
    return cv::FileExists(path.c_str()) != 0;
}

template <typename Fn>
bool Bind(const cv::DynamicLibrary& library, const char* name, Fn* fn, std::string* missing) {
    *fn = reinterpret_cast<Fn>(library.Symbol(name));
    if (*fn == nullptr && missing->empty()) *missing = name;
    return *fn != nullptr;
}

}  // namespace

std::string DefaultLibraryPath() {
    std::string folder = ExecutableFolder();
    const char* suffix = cv::ExecutableSuffix();
    if (suffix[0] != '\0') return folder + "\\CVAICP.DLL";
    // Natively the library sits in lib/ beside bin/, or right beside the executable.
    std::string beside = folder + "/libcvaicp.so";
    if (Exists(beside)) return beside;
    return folder + "/../lib/libcvaicp.so";
}

bool ProviderLibrary::Load(const std::string& path) {
    path_ = path.empty() ? DefaultLibraryPath() : path;
    if (!library_.Open(path_.c_str())) {
        error_ = "cannot load " + path_ + ": " + library_.Error();
        return false;
    }
    std::string missing;
    Bind(library_, "AppointmentAdd", &add, &missing);
    Bind(library_, "AppointmentRemove", &remove, &missing);
    Bind(library_, "AppointmentEdit", &edit, &missing);
    Bind(library_, "AppointmentGet", &get, &missing);
    Bind(library_, "AppointmentFindFirst", &find_first, &missing);
    Bind(library_, "AppointmentFindNext", &find_next, &missing);
    Bind(library_, "AppointmentItemGetFirstChunk", &item_get_first, &missing);
    Bind(library_, "AppointmentItemGetNextChunk", &item_get_next, &missing);
    Bind(library_, "AppointmentItemGetSize", &item_get_size, &missing);
    Bind(library_, "AppointmentItemWriteFirstChunk", &item_write_first, &missing);
    Bind(library_, "AppointmentItemWriteNextChunk", &item_write_next, &missing);
    Bind(library_, "AppointmentItemDelete", &item_delete, &missing);
    Bind(library_, "GetFreeBusyData", &free_busy, &missing);
    if (!missing.empty()) {
        error_ = path_ + " does not export " + missing;
        return false;
    }
    std::string optional;
    Bind(library_, "SetCurrentHost", &set_current_host, &optional);
    return true;
}

}  // namespace cvcal
