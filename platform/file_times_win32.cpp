// Win32 side of SetFileTimes, apart from the other operations by name: only the store-layer index
// entry points set a file's times, and the DLL, which none of its exports make do so, does not
// take this file.
#include "platform/platform.h"

#include <windows.h>

#include "platform/seam_win32.h"

namespace cv {
using namespace win32;

bool SetFileTimes(const char* path, FileTime time) {
    if (Injected(fault::Operation::kAttributes)) return false;
    HANDLE h = CreateFileA(path, FILE_WRITE_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    FILETIME stamp;
    stamp.dwLowDateTime = static_cast<DWORD>(time);
    stamp.dwHighDateTime = static_cast<DWORD>(time >> 32);
    BOOL set = SetFileTime(h, &stamp, &stamp, &stamp);
    CloseHandle(h);
    return set != 0;
}

}  // namespace cv
