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

bool EnvironmentValue(const char* name, char* value, size_t size) {
    if (size == 0 || size > MAXDWORD) return false;
    // The length without the NUL when it fits; the size it needs, NUL included, when not.
    const DWORD length = GetEnvironmentVariableA(name, value, static_cast<DWORD>(size));
    return length > 0 && length < size;
}
}  // namespace cv
