// Win32 side of the seam's FolderWatch: a change notification for the folder's file names.
#include "platform/platform.h"

#include <windows.h>

#include <cstring>

#include "platform/fault_injection.h"

namespace cv {

FolderWatch::~FolderWatch() {
    if (handle_ != kNone) FindCloseChangeNotification(reinterpret_cast<HANDLE>(handle_));
}

bool FolderWatch::Start(const char* path) {
    const char* slash = std::strrchr(path, '\\');
    size_t length = slash != nullptr ? static_cast<size_t>(slash - path) : 0;
    char folder[MAX_PATH];
    if (length == 0 || length >= sizeof folder) {
        SetLastError(ERROR_INVALID_NAME);
        return false;
    }
    std::memcpy(folder, path, length);
    folder[length] = '\0';
    HANDLE h = FindFirstChangeNotificationA(folder, FALSE, FILE_NOTIFY_CHANGE_FILE_NAME);
    if (h == INVALID_HANDLE_VALUE) return false;
    handle_ = reinterpret_cast<intptr_t>(h);
    return true;
}

bool FolderWatch::Wait(uint32_t milliseconds) {
    if (fault::SleepsSkipped()) return false;
    if (handle_ == kNone) {
        Sleep(milliseconds);
        return false;
    }
    HANDLE h = reinterpret_cast<HANDLE>(handle_);
    DWORD result = WaitForSingleObject(h, milliseconds);
    if (result == WAIT_OBJECT_0) {
        FindNextChangeNotification(h);  // the next change signals again
        return true;
    }
    if (result != WAIT_TIMEOUT) Sleep(milliseconds);
    return false;
}

}  // namespace cv
