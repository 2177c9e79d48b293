// Win32 side of the seam's directory search.
#include "platform/platform.h"

#include <windows.h>

#include "platform/seam_win32.h"

namespace cv {
using namespace win32;
namespace {

void FillEntry(const WIN32_FIND_DATAA& data, FindData* entry) {
    entry->name = data.cFileName;
    entry->attributes = data.dwFileAttributes;
    entry->last_write = ToFileTime(data.ftLastWriteTime);
    entry->last_access = ToFileTime(data.ftLastAccessTime);
    entry->size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

}  // namespace

DirectorySearch::~DirectorySearch() {
    Close();
}

bool DirectorySearch::First(const char* pattern, FindData* entry, Detail) {
    Close();
    if (Injected(fault::Operation::kSearch)) return false;
    WIN32_FIND_DATAA data;
    HANDLE h = FindFirstFileA(pattern, &data);
    if (h == INVALID_HANDLE_VALUE) return false;
    state_ = h;
    FillEntry(data, entry);
    return true;
}

bool DirectorySearch::Next(FindData* entry) {
    if (state_ == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    if (Injected(fault::Operation::kSearch)) return false;
    WIN32_FIND_DATAA data;
    if (!FindNextFileA(static_cast<HANDLE>(state_), &data)) return false;
    FillEntry(data, entry);
    return true;
}

void DirectorySearch::Close() {
    if (state_ == nullptr) return;
    DWORD error = GetLastError();  // closing must not hide why the search ended
    FindClose(static_cast<HANDLE>(state_));
    SetLastError(error);
    state_ = nullptr;
}
}  // namespace cv
