// The last error of the POSIX seam and the helpers its files share (seam_posix.h).
#include "platform/seam_posix.h"

#include <fcntl.h>
#include <sys/stat.h>

namespace cv {

namespace {

thread_local uint32_t t_last_error = 0;

// Windows tells a missing file (2) from a missing folder on the way to it (3); errno says ENOENT
// for both, so look at the parent.
uint32_t MissingPathError(const std::string& native) {
    std::string::size_type slash = native.find_last_of('/');
    if (slash == std::string::npos || slash == 0) return kErrorFileNotFound;
    std::string folder = native.substr(0, slash);
    struct stat st;
    if (stat(folder.c_str(), &st) != 0 && errno == ENOENT) {  // held under another case?
        std::string twin;
        if (posix::FindCaseTwin(folder, &twin)) folder = twin;
    }
    if (stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return kErrorPathNotFound;
    return kErrorFileNotFound;
}

}  // namespace

uint32_t LastSystemError() {
    return t_last_error;
}
void SetLastSystemError(uint32_t error) {
    t_last_error = error;
}

namespace posix {

std::string NativePath(const char* path) {
    std::string native(path ? path : "");
    if (native.size() >= 2 && (native[0] == 'Z' || native[0] == 'z') && native[1] == ':') {
        native.erase(0, 2);
    }
    for (char& c : native) {
        if (c == '\\') c = '/';
    }
    return native;
}

uint32_t TranslateErrno(int error, const std::string& native) {
    switch (error) {
        case 0:
            return kErrorSuccess;
        case ENOENT:
            return MissingPathError(native);
        case ENOTDIR:
            return kErrorPathNotFound;
        case EACCES:
        case EPERM:
        case EROFS:
        case EISDIR:
            return kErrorAccessDenied;
        case EEXIST:
            return kErrorFileExists;
        case ENOTEMPTY:
            return kErrorDirNotEmpty;
        case ENAMETOOLONG:
            return kErrorFilenameTooLong;
        case EINVAL:
            return kErrorInvalidName;
        case EBUSY:
        case ETXTBSY:
            return kErrorSharingViolation;
        case ENOSPC:
        case EDQUOT:
            return kErrorDiskFull;
        case ENOMEM:
            return kErrorNotEnoughMemory;
        case EBADF:
            return kErrorInvalidHandle;
        case EIO:
            return kErrorWriteFault;
        default:
            return kErrorAccessDenied;
    }
}

bool Fail(const std::string& native) {
    t_last_error = TranslateErrno(errno, native);
    return false;
}

bool OutOfMemory() {
    t_last_error = kErrorNotEnoughMemory;
    return false;
}

bool Succeed() {
    t_last_error = kErrorSuccess;
    return true;
}

FileTime ToFileTime(const struct timespec& ts) {
    return kFileTimeUnixEpoch +
           static_cast<uint64_t>(static_cast<int64_t>(ts.tv_sec) * 10000000 + ts.tv_nsec / 100);
}

int OpenRetryingSignals(const char* path, int flags, mode_t mode, int folder) {
    int fd;
    do {
        fd = openat(folder, path, flags | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

int OpenEntry(std::string* native, int flags) {
    int fd = -1;
    OnEntry(native,
            [&](const char* path) { return (fd = OpenRetryingSignals(path, flags, 0)) >= 0; });
    return fd;
}

int OpenForWriting(std::string* native, int flags, mode_t mode) {
    // A folder whose listing is kept tells at once which name to open (or make).
    std::string known;
    if (KnownName(*native, &known)) {
        *native = known;
        return OpenRetryingSignals(native->c_str(), flags | O_CREAT, mode);
    }
    int fd = OpenRetryingSignals(native->c_str(), flags, 0);
    if (fd >= 0 || errno != ENOENT) return fd;
    // One look at the folder settles both cases: a twin is opened as it is, or the file is made
    // under the name given.
    *native = CreationName(*native);
    return OpenRetryingSignals(native->c_str(), flags | O_CREAT, mode);
}

}  // namespace posix
}  // namespace cv
