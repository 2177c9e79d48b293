#include "tools/cvcal/provider_library.h"

#include "common/library_location.h"

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
    Bind(library_, "AppointmentListItemFindFirst", &list_find_first, &missing);
    Bind(library_, "AppointmentListItemFindNext", &list_find_next, &missing);
    Bind(library_, "AppointmentListItemFindClose", &list_find_close, &missing);
    if (!missing.empty()) {
        error_ = path_ + " does not export " + missing;
        return false;
    }
    std::string optional;
    Bind(library_, "SetCurrentHost", &set_current_host, &optional);
    return true;
}

}  // namespace cvcal
