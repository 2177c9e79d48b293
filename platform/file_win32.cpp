// Win32 side of the seam's File, and of the last error, which is the system's own.
#include "platform/platform.h"

#include <windows.h>

#include "platform/seam_win32.h"

namespace cv {
using namespace win32;

uint32_t LastSystemError() {
    return GetLastError();
}
void SetLastSystemError(uint32_t error) {
    SetLastError(error);
}

bool File::Open(const char* path, Mode mode, const FolderHandle*) {
    Close();
    const bool reading = mode == Mode::kRead || mode == Mode::kReadQuick;
    if (Injected(reading ? fault::Operation::kOpenRead : fault::Operation::kOpenWrite)) {
        return false;
    }
    DWORD access = GENERIC_READ;
    DWORD disposition = OPEN_EXISTING;
    switch (mode) {
        case Mode::kRead:
        case Mode::kReadQuick:
            break;
        case Mode::kWriteTruncate:
            access = GENERIC_WRITE;
            disposition = CREATE_ALWAYS;
            break;
        case Mode::kAppend:
            access = FILE_APPEND_DATA;
            disposition = OPEN_ALWAYS;
            break;
        case Mode::kWriteExisting:
            access = GENERIC_WRITE;
            break;
    }
    HANDLE h = CreateFileA(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    handle_ = reinterpret_cast<intptr_t>(h);
    short_is_end_ = mode == Mode::kReadQuick;
    return true;
}

int64_t File::Read(void* buffer, size_t size) {
    if (handle_ == kInvalid) return -1;
    if (Injected(fault::Operation::kRead)) return -1;
    size_t done = 0;
    while (done < size) {
        DWORD chunk = static_cast<DWORD>(size - done > 0x10000000 ? 0x10000000 : size - done);
        DWORD got = 0;
        if (!ReadFile(AsHandle(handle_), static_cast<char*>(buffer) + done, chunk, &got, nullptr)) {
            return -1;
        }
        if (got == 0) break;
        done += got;
        if (short_is_end_ && got < chunk) break;  // the end of the file: no call to confirm it
    }
    return static_cast<int64_t>(done);
}

bool File::Write(const void* data, size_t size) {
    if (handle_ == kInvalid) return false;
    if (Injected(fault::Operation::kWrite)) return false;
    size_t done = 0;
    while (done < size) {
        DWORD chunk = static_cast<DWORD>(size - done > 0x10000000 ? 0x10000000 : size - done);
        DWORD put = 0;
        if (!WriteFile(AsHandle(handle_), static_cast<const char*>(data) + done, chunk, &put,
                       nullptr) ||
            put == 0) {
            return false;
        }
        done += put;
    }
    return true;
}

bool File::Seek(int64_t offset) {
    if (handle_ == kInvalid) return false;
    LARGE_INTEGER distance;
    distance.QuadPart = offset;
    return SetFilePointerEx(AsHandle(handle_), distance, nullptr, FILE_BEGIN) != 0;
}

int64_t File::Size() {
    LARGE_INTEGER size;
    if (handle_ == kInvalid || !GetFileSizeEx(AsHandle(handle_), &size)) return -1;
    return size.QuadPart;
}

bool File::Sync() {
    return handle_ != kInvalid && FlushFileBuffers(AsHandle(handle_)) != 0;
}

bool File::LastWriteTime(FileTime* time) {
    FILETIME written;
    if (handle_ == kInvalid || !GetFileTime(AsHandle(handle_), nullptr, nullptr, &written)) {
        return false;
    }
    *time = ToFileTime(written);
    return true;
}

bool File::GetState(FileState* state) {
    BY_HANDLE_FILE_INFORMATION info;
    if (handle_ == kInvalid || !GetFileInformationByHandle(AsHandle(handle_), &info)) return false;
    uint64_t index = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    state->identity = (static_cast<uint64_t>(info.dwVolumeSerialNumber) << 40) ^ index;
    state->size =
        static_cast<int64_t>((static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow);
    state->written = ToFileTime(info.ftLastWriteTime);
    return true;
}

bool File::Close() {
    if (handle_ == kInvalid) return true;
    bool injected = Injected(fault::Operation::kClose);  // the handle goes all the same
    BOOL closed = CloseHandle(AsHandle(handle_));
    handle_ = kInvalid;
    if (injected) SetLastError(fault::InjectedError(fault::Operation::kClose));
    return closed != 0 && !injected;
}

// CreateFile has no opening relative to a folder handle: files are opened by their whole paths.
// The last error is left as it was, since nothing failed.
bool FolderHandle::Open(const char*) {
    return false;
}

void FolderHandle::Close() {}

}  // namespace cv
