#include "common/file_helpers.h"
#include "tools/cvcal/library_version.h"

namespace cvcal {

std::string LibraryFileVersion(const std::string& path) {
    std::string bytes;
    if (!cv::ReadWholeFile(path.c_str(), &bytes)) return "";
    return VersionMarkIn(bytes);
}

}  // namespace cvcal
