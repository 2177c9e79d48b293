#include "host/private_file.h"

#include "platform/platform.h"

namespace cv {

bool WriteOwnerOnlyFile(const char* path, const std::string& bytes) {
    const std::string temporary = std::string(path) + ".new";
    if (WriteReplacementFile(temporary.c_str(), path, bytes, true) &&
        ReplaceFileWith(temporary.c_str(), path)) {
        return true;
    }
    RemoveFile(temporary.c_str());
    return false;
}

}  // namespace cv
