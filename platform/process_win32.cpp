// Win32 side of what the seam tells about the running process.
#include "platform/platform.h"

#include <windows.h>

namespace cv {

std::string ExecutablePath() {
    char buffer[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, buffer, sizeof buffer);
    if (length == 0 || length >= sizeof buffer) return std::string();
    return std::string(buffer, length);
}

uint32_t CurrentProcessId() {
    return GetCurrentProcessId();
}
}  // namespace cv
