#include <windows.h>
#include <winver.h>

#include <vector>

#include "tools/cvcal/library_version.h"

namespace cvcal {

// The FileVersion text of the version resource, as Explorer shows it.
std::string LibraryFileVersion(const std::string& path) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
    if (size == 0) return "";
    std::vector<char> info(size);
    if (!GetFileVersionInfoA(path.c_str(), 0, size, info.data())) return "";
    char* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(info.data(), "\\StringFileInfo\\040904B0\\FileVersion",
                        reinterpret_cast<void**>(&value), &length) ||
        value == nullptr || length == 0) {
        return "";
    }
    return std::string(value, strnlen(value, length));
}

}  // namespace cvcal
