#include "common/registry_import.h"

#include "common/file_helpers.h"
#include "common/platform.h"
#include "common/host_platform.h"
#include "common/reg_file.h"
#include "common/registry.h"
#include "common/registry_writer.h"

namespace cv {

bool ImportRegistryFile(const std::string& path) {
    if (RegistryIsFile()) return SetProcessEnvironment("CVAICP_REGISTRY", path.c_str());
    std::string text;
    if (!ReadWholeFile(path.c_str(), &text)) return false;
    bool written = true;
    for (const RegFile::Entry& e : RegFile::Parse(text).Entries()) {
        written &= WriteRegistryValue(e.hive, e.key.c_str(), e.value.name.c_str(),
                                      static_cast<RegistryType>(e.value.type), e.value.data.data(),
                                      e.value.data.size());
    }
    return written;
}

}  // namespace cv
