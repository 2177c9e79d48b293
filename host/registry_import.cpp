#include "host/registry_import.h"

#include "common/file_helpers.h"
#include "host/host_platform.h"
#include "host/registry_writer.h"
#include "platform/code_page.h"
#include "platform/platform.h"
#include "platform/reg_file.h"
#include "platform/registry.h"

namespace cv {

bool ImportRegistryFile(const std::string& path) {
    if (RegistryIsFile()) return SetProcessEnvironment("CVAICP_REGISTRY", path.c_str());
    std::string text;
    if (!ReadWholeFile(path.c_str(), &text)) return false;
    bool written = true;
    for (const RegFile::Entry& e : RegFile::Parse(text).Entries()) {
        // A file's texts are UTF-8; the registry is written in this build's code page.
        std::string data = e.value.data;
        if (e.value.type == kRegSz) data = Utf8ToCodePage(data);
        written &= WriteRegistryValue(
            e.hive, Utf8ToCodePage(e.key).c_str(), Utf8ToCodePage(e.value.name).c_str(),
            static_cast<RegistryType>(e.value.type), data.data(), data.size());
    }
    return written;
}

}  // namespace cv
