// The provider library as cvcal loads it: at run time, the way the mail server does, with every
// export looked up by name.
#pragma once

#include <string>

#include "host/host_platform.h"
#include "include/cvaicp_exports.h"
#include "platform/platform.h"

namespace cvcal {

class ProviderLibrary {
  public:
    // Names the library without loading it: the path given, or beside this executable when it
    // is empty.
    void Choose(const std::string& path);
    // Loads the library from the path given, or from beside this executable when it is empty.
    bool Load(const std::string& path);
    const std::string& error() const { return error_; }
    const std::string& path() const { return path_; }

    // One pointer per export of the export table, named as the export and of its declared type.
    // SetCurrentHost may be null: a library without a remote mode need not have it.
#define CV_BINDING(Name, Ordinal, Arguments, First, FirstBack, Second, SecondBack, Forwarded) \
    cvaicp::Function<Arguments, First, Second>::Type Name = nullptr;
    CVAICP_EXPORTS(CV_BINDING)
#undef CV_BINDING

  private:
    cv::DynamicLibrary library_;
    std::string path_;
    std::string error_;
};

// Where the library is found when no path is given.
std::string DefaultLibraryPath();

}  // namespace cvcal
