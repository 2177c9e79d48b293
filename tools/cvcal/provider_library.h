// The provider library as cvcal loads it: at run time, the way the mail server does, with every
// export looked up by name.
#pragma once

#include <string>

#include "common/platform.h"
#include "common/host_platform.h"
#include "include/cvaicp.h"

namespace cvcal {

class ProviderLibrary {
  public:
    using RecordFn = int32_t(CVAPI*)(AppointmentRequest*);
    using EditFn = int32_t(CVAPI*)(AppointmentRequest*, AppointmentRequest*);
    using ItemFn = int32_t(CVAPI*)(AppointmentItemRequest*);
    using FreeBusyFn = int32_t(CVAPI*)(FreeBusyRequest*);
    using HostFn = int32_t(CVAPI*)(const char*);
    using ListFn = int32_t(CVAPI*)(ListContext*, ListItem*);
    using ListCloseFn = int32_t(CVAPI*)(ListContext*);

    // Loads the library from the path given, or from beside this executable when it is empty.
    bool Load(const std::string& path);
    const std::string& error() const { return error_; }
    const std::string& path() const { return path_; }

    RecordFn add = nullptr;
    RecordFn remove = nullptr;
    EditFn edit = nullptr;
    RecordFn get = nullptr;
    RecordFn find_first = nullptr;
    RecordFn find_next = nullptr;
    ItemFn item_get_first = nullptr;
    ItemFn item_get_next = nullptr;
    ItemFn item_get_size = nullptr;
    ItemFn item_write_first = nullptr;
    ItemFn item_write_next = nullptr;
    ItemFn item_delete = nullptr;
    FreeBusyFn free_busy = nullptr;
    ListFn list_find_first = nullptr;
    ListFn list_find_next = nullptr;
    ListCloseFn list_find_close = nullptr;
    HostFn set_current_host = nullptr;  // absent from libraries without a remote mode

  private:
    cv::DynamicLibrary library_;
    std::string path_;
    std::string error_;
};

// Where the library is found when no path is given.
std::string DefaultLibraryPath();

}  // namespace cvcal
