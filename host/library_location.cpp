#include "host/library_location.h"

#include "common/file_helpers.h"
#include "host/host_platform.h"
#include "platform/platform.h"

namespace cv {

std::string ProviderLibraryBesideExecutable() {
    std::string self = ExecutablePath();
    std::string::size_type slash = self.find_last_of("\\/");
    std::string folder = slash == std::string::npos ? std::string(".") : self.substr(0, slash);
    if (ExecutableSuffix()[0] != '\0') return folder + "\\CVAICP.DLL";
    std::string beside = folder + "/libcvaicp.so";
    if (FileExists(beside.c_str())) return beside;
    return folder + "/../lib/libcvaicp.so";
}

}  // namespace cv
