// POSIX side of what the seam tells about the running process.
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "platform/platform.h"

namespace cv {

std::string ExecutablePath() {
    char buffer[4096];
    ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (length <= 0) return std::string();
    return std::string(buffer, static_cast<size_t>(length));
}

uint32_t CurrentProcessId() {
    return static_cast<uint32_t>(getpid());
}

bool EnvironmentValue(const char* name, char* value, size_t size) {
    const char* found = std::getenv(name);
    if (found == nullptr) return false;
    const size_t length = std::strlen(found);
    if (length == 0 || length >= size) return false;
    std::memcpy(value, found, length + 1);
    return true;
}

}  // namespace cv
