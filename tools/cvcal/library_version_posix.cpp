#include "common/file_helpers.h"
#include "tools/cvcal/library_version.h"

namespace cvcal {

// The text after "CVAICP-VERSION " up to its NUL (provider/version_mark.cpp).
std::string LibraryFileVersion(const std::string& path) {
    static const char kMark[] = "CVAICP-VERSION ";
    std::string bytes;
    if (!cv::ReadWholeFile(path.c_str(), &bytes)) return "";
    size_t at = bytes.find(kMark);
    if (at == std::string::npos) return "";
    at += sizeof kMark - 1;
    size_t end = bytes.find('\0', at);
    // A version is a short text; anything longer is not the mark but bytes that look like it.
    if (end == std::string::npos || end == at || end - at > 64) return "";
    return bytes.substr(at, end - at);
}

}  // namespace cvcal
