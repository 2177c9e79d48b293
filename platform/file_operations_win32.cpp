// Win32 side of the seam's operations on whole files and folders by name.
#include "platform/platform.h"

#include <windows.h>

#include "platform/seam_win32.h"

namespace cv {
using namespace win32;

bool CreateNewFile(const char* path) {
    if (Injected(fault::Operation::kCreateNew)) return false;
    HANDLE h =
        CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    CloseHandle(h);
    return true;
}

bool RemoveFile(const char* path) {
    if (Injected(fault::Operation::kRemove)) return false;
    return DeleteFileA(path) != 0;
}

bool CopyFileTo(const char* from, const char* to, bool fail_if_exists) {
    if (Injected(fault::Operation::kCopy)) return false;
    return CopyFileA(from, to, fail_if_exists ? TRUE : FALSE) != 0;
}

bool CopyHeldFile(const char* from, std::string_view, const char* to) {
    return CopyFileTo(from, to, false);
}

bool ReplaceFileWith(const char* from, const char* to) {
    if (Injected(fault::Operation::kReplace)) return false;
    return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING) != 0;
}

bool MakeDirectory(const char* path) {
    if (Injected(fault::Operation::kMakeDirectory)) return false;
    return CreateDirectoryA(path, nullptr) != 0;
}

bool RemoveFolder(const char* path) {
    if (Injected(fault::Operation::kRemove)) return false;
    return RemoveDirectoryA(path) != 0;
}

bool SetAttributes(const char* path, uint32_t attributes) {
    if (Injected(fault::Operation::kAttributes)) return false;
    return SetFileAttributesA(path, attributes) != 0;
}

bool EntryExists(const char* path) {
    if (Injected(fault::Operation::kLookup)) return false;
    return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

bool FileSizeByName(const char* path, int64_t* size) {
    if (Injected(fault::Operation::kLookup)) return false;
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data)) return false;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    *size = (static_cast<int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    return true;
}

// The system looks every name up without regard to case: there is nothing to keep.
HeldNamesScope::HeldNamesScope() = default;
HeldNamesScope::~HeldNamesScope() = default;

}  // namespace cv
