#include "tools/cvcal/library_version.h"

#include <cstring>

namespace cvcal {

std::string VersionMarkIn(const std::string& bytes) {
    static const char kMark[] = "CVAICP-VERSION ";
    const size_t mark_length = sizeof kMark - 1;
    size_t at = bytes.find(kMark);
    if (at == std::string::npos) return "";
    at += mark_length;
    size_t end = bytes.find('\0', at);
    // A version is a short text; anything longer is not the mark but bytes that look like it.
    if (end == std::string::npos || end == at || end - at > 64) return "";
    return bytes.substr(at, end - at);
}

}  // namespace cvcal
