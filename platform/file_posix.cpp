// POSIX side of the seam's File: an open file, read and written unbuffered.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <new>

#include "platform/platform.h"
#include "platform/seam_posix.h"

namespace cv {
using namespace posix;

bool File::Open(const char* path, Mode mode, const FolderHandle* folder) try {
    Close();
    const bool reading = mode == Mode::kRead || mode == Mode::kReadQuick;
    if (Injected(reading ? fault::Operation::kOpenRead : fault::Operation::kOpenWrite)) {
        return false;
    }
    int flags = 0;
    switch (mode) {
        case Mode::kRead:
        case Mode::kReadQuick:
            flags = O_RDONLY;
            break;
        case Mode::kWriteTruncate:
            flags = O_WRONLY | O_TRUNC;
            break;
        case Mode::kAppend:
            flags = O_WRONLY | O_APPEND;
            break;
        case Mode::kWriteExisting:
            flags = O_WRONLY;
            break;
    }
    std::string native;
    int fd = -1;
    if (reading || mode == Mode::kWriteExisting) {
        // A file directly inside the folder held open is looked up there by its name alone;
        // anything else, a miss included, takes the whole path.
        if (const char* name = folder != nullptr ? folder->NameInside(path) : nullptr) {
            fd = OpenRetryingSignals(name, flags, 0, static_cast<int>(folder->handle_));
        }
        if (fd < 0) {
            native = NativePath(path);
            fd = OpenEntry(&native, flags);
        }
    } else {
        native = NativePath(path);
        fd = OpenForWriting(&native, flags, 0666);
    }
    if (fd < 0) return Fail(native);  // a folder opened for writing: EISDIR, access denied
    struct stat st;
    // Windows does not open folders as files; POSIX opens them for reading.
    if (mode == Mode::kRead && fstat(fd, &st) == 0) {
        if (S_ISDIR(st.st_mode)) {
            close(fd);
            SetLastSystemError(kErrorAccessDenied);
            return false;
        }
        if (S_ISREG(st.st_mode)) size_at_open_ = static_cast<int64_t>(st.st_size);
        written_at_open_ = ToFileTime(st.st_mtim);
    }
    handle_ = fd;
    offset_ = 0;
    short_is_end_ = mode == Mode::kReadQuick;
    return Succeed();
} catch (const std::bad_alloc&) {
    return OutOfMemory();
}

int64_t File::Read(void* buffer, size_t size) {
    if (handle_ == kInvalid) return -1;
    if (Injected(fault::Operation::kRead)) return -1;
    size_t done = 0;
    while (done < size) {
        ssize_t got =
            read(static_cast<int>(handle_), static_cast<char*>(buffer) + done, size - done);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            // A folder opened quickly fails here, as Windows would have failed to open it.
            SetLastSystemError(errno == EISDIR ? kErrorAccessDenied : kErrorReadFault);
            return -1;
        }
        if (got == 0) break;
        done += static_cast<size_t>(got);
        offset_ += got;
        // A regular file gives what was asked unless the end comes first: a short read that
        // reaches the size the file had when opened is the end (one that falls short of it,
        // after a failing sector for one, asks again and learns why).
        if (done < size && (short_is_end_ || (size_at_open_ >= 0 && offset_ >= size_at_open_))) {
            break;
        }
    }
    return static_cast<int64_t>(done);
}

bool File::Write(const void* data, size_t size) {
    if (handle_ == kInvalid) return false;
    if (Injected(fault::Operation::kWrite)) return false;
    size_t done = 0;
    while (done < size) {
        ssize_t put =
            write(static_cast<int>(handle_), static_cast<const char*>(data) + done, size - done);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return Fail("");
        done += static_cast<size_t>(put);
    }
    return true;
}

bool File::Seek(int64_t offset) {
    if (handle_ == kInvalid) return false;
    if (lseek(static_cast<int>(handle_), static_cast<off_t>(offset), SEEK_SET) < 0) return Fail("");
    offset_ = offset;
    return true;
}

int64_t File::Size() {
    struct stat st;
    if (handle_ == kInvalid || fstat(static_cast<int>(handle_), &st) != 0) return -1;
    return static_cast<int64_t>(st.st_size);
}

bool File::Sync() {
    return handle_ != kInvalid && fsync(static_cast<int>(handle_)) == 0;
}

bool File::LastWriteTime(FileTime* time) {
    if (handle_ != kInvalid && written_at_open_ != 0) {
        *time = written_at_open_;  // a scan asks this of every item file it reads
        return true;
    }
    struct stat st;
    if (handle_ == kInvalid || fstat(static_cast<int>(handle_), &st) != 0) return false;
    *time = ToFileTime(st.st_mtim);
    return true;
}

bool File::GetState(FileState* state) {
    struct stat st;
    if (handle_ == kInvalid || fstat(static_cast<int>(handle_), &st) != 0) return false;
    state->identity = (static_cast<uint64_t>(st.st_dev) << 40) ^ static_cast<uint64_t>(st.st_ino);
    state->size = static_cast<int64_t>(st.st_size);
    state->written = ToFileTime(st.st_mtim);
    return true;
}

bool File::Close() {
    if (handle_ == kInvalid) return true;
    bool injected = Injected(fault::Operation::kClose);  // the handle goes all the same
    int result = close(static_cast<int>(handle_));
    handle_ = kInvalid;
    size_at_open_ = -1;
    written_at_open_ = 0;
    return result == 0 && !injected;
}

bool FolderHandle::Open(const char* path) try {
    Close();
    std::string given(path != nullptr ? path : "");
    std::string native = NativePath(path);  // the folder may be held under another case
    int fd = OpenEntry(&native, O_RDONLY | O_DIRECTORY);
    if (fd < 0) return Fail(native);
    handle_ = fd;
    path_ = std::move(given);
    return Succeed();
} catch (const std::bad_alloc&) {
    return OutOfMemory();
}

// The paths of a folder's files are made by joining its path and a name, so the folder's path is
// looked for as it was given: a path spelled otherwise is opened whole, which costs only time.
const char* FolderHandle::NameInside(const char* path) const {
    if (!IsOpen() || path == nullptr || std::strncmp(path, path_.c_str(), path_.size()) != 0) {
        return nullptr;
    }
    const char* name = path + path_.size();
    if (*name != '\\' && *name != '/') return nullptr;
    ++name;
    return *name != '\0' && std::strpbrk(name, "\\/") == nullptr ? name : nullptr;
}

void FolderHandle::Close() {
    if (handle_ != kInvalid) close(static_cast<int>(handle_));
    handle_ = kInvalid;
    path_.clear();
}

}  // namespace cv
