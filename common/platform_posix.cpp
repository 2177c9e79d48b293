// POSIX side of the platform seam.
#include "common/platform.h"

#include "common/fault_injection.h"
#include "common/name_case_posix.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <stdio.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <mutex>
#include <new>
#include <set>

namespace cv {
namespace {

thread_local uint32_t t_last_error = 0;

// The store's paths are composed with backslashes; here they become slashes. "Z:", the drive that
// Wine maps to the root, is dropped, so that a configuration written for the Windows build under
// Wine names the same folders natively.
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

// What a call of the seam answers when the memory it needs cannot be had. Natively, paths and the
// case-blind look-ups take memory, which the Win32 calls do not ask of their callers; no call of
// the seam throws, as none does on Windows, since some of its callers run where a throw would end
// the process (the release of a blocking file while a failed change unwinds).
bool OutOfMemory() {
    t_last_error = kErrorNotEnoughMemory;
    return false;
}

bool Succeed() {
    t_last_error = kErrorSuccess;
    return true;
}

// The fault switch of the test build (the constant false in the product): true when this
// operation is to fail, with the system error set as a real failure would set it.
bool Injected(fault::Operation operation) {
    if (!fault::ShouldFail(operation)) return false;
    t_last_error = fault::InjectedError(operation);
    return true;
}

FileTime ToFileTime(const struct timespec& ts) {
    return kFileTimeUnixEpoch +
           static_cast<uint64_t>(static_cast<int64_t>(ts.tv_sec) * 10000000 + ts.tv_nsec / 100);
}

int OpenRetryingSignals(const char* path, int flags, mode_t mode) {
    int fd;
    do {
        fd = open(path, flags | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// Store names compare without regard to case (see name_case_posix.h). A call on an existing entry
// is made on the name as given, and only when that is not there on the entry's case twin: the
// search costs nothing while the exact name answers. False with errno set as the last call left it.
template <typename Call>
bool OnEntry(std::string* native, Call call) {
    if (call(native->c_str())) return true;
    if (errno != ENOENT) return false;
    std::string twin;
    if (!posix::FindCaseTwin(*native, &twin)) {
        errno = ENOENT;
        return false;
    }
    *native = twin;
    return call(native->c_str());
}

// Opens an existing file, or its case twin.
int OpenEntry(std::string* native, int flags) {
    int fd = -1;
    OnEntry(native,
            [&](const char* path) { return (fd = OpenRetryingSignals(path, flags, 0)) >= 0; });
    return fd;
}

// Opens a file for writing that is created when missing: an existing one (or its case twin) is
// opened as it is; a new one takes the name as given.
int OpenForWriting(std::string* native, int flags, mode_t mode) {
    int fd = OpenEntry(native, flags);
    if (fd >= 0 || errno != ENOENT) return fd;
    *native = posix::CreationName(*native);
    return OpenRetryingSignals(native->c_str(), flags | O_CREAT, mode);
}

// Creates an entry only when neither it nor a case twin of it exists. The entry is made first and
// the twin looked for after, so that of two parties racing under different cases neither wins
// (each tries again later) rather than both.
template <typename Create, typename Undo>
bool CreateExclusively(std::string* native, Create create, Undo undo) {
    if (!create(native->c_str())) {
        if (errno != ENOENT) return false;
        // The folder may be held under another case.
        *native = posix::CreationName(*native);
        if (!create(native->c_str())) return false;
    }
    if (!posix::HasOtherCaseTwin(*native)) return true;
    undo(native->c_str());
    errno = EEXIST;
    return false;
}

// One step of a copy through a buffer: what was read (and then written whole), 0 at the end, -1
// on a failure.
ssize_t CopyThroughBuffer(int in, int out, size_t* asked) {
    char buffer[64 * 1024];
    *asked = sizeof buffer;
    ssize_t got = read(in, buffer, sizeof buffer);
    for (ssize_t done = 0; got > 0 && done < got;) {
        ssize_t put = write(out, buffer + done, static_cast<size_t>(got - done));
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return -1;
        done += put;
    }
    return got;
}

// Whether the kernel cannot copy between these two files itself (an old kernel, a file system
// that does not offer it).
bool CannotCopyInKernel(int error) {
    return error == ENOSYS || error == EINVAL || error == EOPNOTSUPP;
}

// Copies a regular file whose size was known when it was opened. The kernel copies the bytes
// itself where it can (one call for a period file, where reading and writing take three: sendfile,
// which copies through the page cache, not copy_file_range, which on file systems that share
// blocks between copies first writes the source to the disk); elsewhere they pass through a
// buffer. A step that stops short once that size is reached has met the end.
bool CopyContents(int in, int out, int64_t size) {
    bool in_kernel = true;
    int64_t copied = 0;
    for (;;) {
        size_t asked = size_t{1} << 30;
        ssize_t got =
            in_kernel ? sendfile(out, in, nullptr, asked) : CopyThroughBuffer(in, out, &asked);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0 && in_kernel && copied == 0 && CannotCopyInKernel(errno)) {
            in_kernel = false;
            continue;
        }
        if (got < 0) return false;
        copied += got;
        if (got == 0 || (static_cast<size_t>(got) < asked && copied >= size)) return true;
    }
}

// '*' and '?' as a Windows directory search reads them, letters compared without regard to case.
// "*.*" matches every name, with or without a dot.
bool WildcardMatch(const char* pattern, const char* name) {
    if (std::strcmp(pattern, "*.*") == 0) return true;
    const char* star = nullptr;
    const char* resume = nullptr;
    while (*name) {
        if (*pattern == '*') {
            star = pattern++;
            resume = name;
        } else if (*pattern == '?' ||
                   (*pattern && std::tolower(static_cast<unsigned char>(*pattern)) ==
                                    std::tolower(static_cast<unsigned char>(*name)))) {
            ++pattern;
            ++name;
        } else if (star) {
            pattern = star + 1;
            name = ++resume;
        } else {
            return false;
        }
    }
    while (*pattern == '*') ++pattern;
    return *pattern == '\0';
}

struct SearchState {
    DIR* dir = nullptr;
    std::string folder;
    std::string pattern;
};

bool FillEntry(const SearchState& search, const char* name, FindData* entry) {
    std::string full = search.folder + "/" + name;
    struct stat st;
    if (lstat(full.c_str(), &st) != 0) return false;  // vanished since readdir
    entry->name = name;
    entry->attributes = S_ISDIR(st.st_mode) ? uint32_t{kAttributeDirectory} : 0u;
    if ((st.st_mode & S_IWUSR) == 0) entry->attributes |= kAttributeReadOnly;
    if (entry->attributes == 0) entry->attributes = kAttributeNormal;
    entry->last_write = ToFileTime(st.st_mtim);
    entry->last_access = ToFileTime(st.st_atim);
    entry->size = S_ISDIR(st.st_mode) ? 0 : static_cast<uint64_t>(st.st_size);
    return true;
}

bool NextMatch(SearchState* search, FindData* entry) {
    for (;;) {
        errno = 0;
        struct dirent* d = readdir(search->dir);
        if (d == nullptr) {
            t_last_error = errno == 0 ? kErrorNoMoreFiles : TranslateErrno(errno, search->folder);
            return false;
        }
        if (!WildcardMatch(search->pattern.c_str(), d->d_name)) continue;
        if (FillEntry(*search, d->d_name, entry)) return Succeed();
    }
}

}  // namespace

uint32_t LastSystemError() {
    return t_last_error;
}
void SetLastSystemError(uint32_t error) {
    t_last_error = error;
}

bool File::Open(const char* path, Mode mode) try {
    Close();
    const bool reading = mode == Mode::kRead || mode == Mode::kReadQuick;
    if (Injected(reading ? fault::Operation::kOpenRead : fault::Operation::kOpenWrite)) {
        return false;
    }
    std::string native = NativePath(path);
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
    }
    int fd = reading ? OpenEntry(&native, flags) : OpenForWriting(&native, flags, 0666);
    if (fd < 0) return Fail(native);  // a folder opened for writing: EISDIR, access denied
    struct stat st;
    // Windows does not open folders as files; POSIX opens them for reading.
    if (mode == Mode::kRead && fstat(fd, &st) == 0) {
        if (S_ISDIR(st.st_mode)) {
            close(fd);
            t_last_error = kErrorAccessDenied;
            return false;
        }
        if (S_ISREG(st.st_mode)) size_at_open_ = static_cast<int64_t>(st.st_size);
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
            t_last_error = errno == EISDIR ? kErrorAccessDenied : kErrorReadFault;
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
    return result == 0 && !injected;
}

bool CreateNewFile(const char* path) try {
    if (Injected(fault::Operation::kCreateNew)) return false;
    std::string native = NativePath(path);
    auto create = [](const char* name) {
        int fd = OpenRetryingSignals(name, O_WRONLY | O_CREAT | O_EXCL, 0666);
        if (fd >= 0) close(fd);
        return fd >= 0;
    };
    return CreateExclusively(&native, create, unlink) ? Succeed() : Fail(native);
} catch (const std::bad_alloc&) {
    return OutOfMemory();
}

bool RemoveFile(const char* path) try {
    if (Injected(fault::Operation::kRemove)) return false;
    // DeleteFileA refuses folders, and so does unlink (EISDIR, which reads as access denied).
    std::string native = NativePath(path);
    return OnEntry(&native, [](const char* name) { return unlink(name) == 0; }) ? Succeed()
                                                                                : Fail(native);
} catch (const std::bad_alloc&) {
    return OutOfMemory();
}

bool CopyFileTo(const char* from, const char* to, bool fail_if_exists) try {
    if (Injected(fault::Operation::kCopy)) return false;
    std::string source = NativePath(from);
    std::string target = NativePath(to);
    int in = OpenEntry(&source, O_RDONLY);
    if (in < 0) return Fail(source);
    struct stat st;
    if (fstat(in, &st) != 0 || S_ISDIR(st.st_mode)) {
        close(in);
        t_last_error = kErrorAccessDenied;
        return false;
    }
    int out = -1;
    if (fail_if_exists) {
        auto create = [&](const char* name) {
            return (out = OpenRetryingSignals(name, O_WRONLY | O_CREAT | O_EXCL,
                                              st.st_mode & 0777)) >= 0;
        };
        auto undo = [&](const char* name) {
            close(out);
            out = -1;
            unlink(name);
        };
        CreateExclusively(&target, create, undo);
    } else {
        out = OpenForWriting(&target, O_WRONLY | O_TRUNC, st.st_mode & 0777);
    }
    if (out < 0) {
        Fail(target);
        close(in);
        return false;
    }
    bool copied = CopyContents(in, out, static_cast<int64_t>(st.st_size));
    int saved = errno;
    close(in);
    if (close(out) != 0) copied = false;
    if (!copied) {
        errno = saved;
        return Fail(target);
    }
    return Succeed();
} catch (const std::bad_alloc&) {
    return OutOfMemory();
}

bool MoveFileTo(const char* from, const char* to) try {
    if (Injected(fault::Operation::kMove)) return false;
    std::string source = NativePath(from);
    // The target's case twin counts as the target.
    std::string target = posix::CreationName(NativePath(to));
    bool linked = false;
    // rename() would silently replace an existing target; MoveFileA does not. File systems
    // without RENAME_NOREPLACE: a hard link refuses an existing target too.
    auto move = [&](const char* name) {
        if (renameat2(AT_FDCWD, name, AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) return true;
        if (errno != EINVAL && errno != ENOSYS) return false;
        return linked = link(name, target.c_str()) == 0;
    };
    if (!OnEntry(&source, move)) return Fail(errno == EEXIST ? target : source);
    if (linked) unlink(source.c_str());
    return Succeed();
} catch (const std::bad_alloc&) {
    return OutOfMemory();
}

bool ReplaceFileWith(const char* from, const char* to) try {
    if (Injected(fault::Operation::kReplace)) return false;
    std::string source = NativePath(from);
    std::string target = NativePath(to);
    // A target held under another case is the one replaced: the folder must not end up with both.
    struct stat st;
    if (lstat(target.c_str(), &st) != 0 && errno == ENOENT) target = posix::CreationName(target);
    auto replace = [&](const char* name) { return rename(name, target.c_str()) == 0; };
    return OnEntry(&source, replace) ? Succeed() : Fail(source);
} catch (const std::bad_alloc&) {
    return OutOfMemory();
}

bool MakeDirectory(const char* path) try {
    if (Injected(fault::Operation::kMakeDirectory)) return false;
    std::string native = NativePath(path);
    auto create = [](const char* name) { return mkdir(name, 0777) == 0; };
    if (CreateExclusively(&native, create, rmdir)) return Succeed();
    if (errno == EEXIST) {
        t_last_error = kErrorAlreadyExists;
        return false;
    }
    return Fail(native);
} catch (const std::bad_alloc&) {
    return OutOfMemory();
}

bool RemoveFolder(const char* path) try {
    if (Injected(fault::Operation::kRemove)) return false;
    std::string native = NativePath(path);
    return OnEntry(&native, [](const char* name) { return rmdir(name) == 0; }) ? Succeed()
                                                                               : Fail(native);
} catch (const std::bad_alloc&) {
    return OutOfMemory();
}

bool SetAttributes(const char* path, uint32_t attributes) try {
    if (Injected(fault::Operation::kAttributes)) return false;
    std::string native = NativePath(path);
    struct stat st;
    if (!OnEntry(&native, [&](const char* name) { return stat(name, &st) == 0; })) {
        return Fail(native);
    }
    mode_t mode = st.st_mode & 07777;
    if (attributes & kAttributeReadOnly) {
        mode &= static_cast<mode_t>(~0222);
    } else {
        mode |= S_IWUSR;
    }
    return chmod(native.c_str(), mode) == 0 ? Succeed() : Fail(native);
} catch (const std::bad_alloc&) {
    return OutOfMemory();
}

bool SetFileTimes(const char* path, FileTime time) try {
    if (Injected(fault::Operation::kAttributes)) return false;
    std::string native = NativePath(path);
    int64_t ticks = static_cast<int64_t>(time - kFileTimeUnixEpoch);
    struct timespec times[2];
    times[0].tv_sec = static_cast<time_t>(ticks / 10000000);
    times[0].tv_nsec = static_cast<long>(ticks % 10000000) * 100;
    times[1] = times[0];
    auto set = [&](const char* name) { return utimensat(AT_FDCWD, name, times, 0) == 0; };
    return OnEntry(&native, set) ? Succeed() : Fail(native);
} catch (const std::bad_alloc&) {
    return OutOfMemory();
}

FileTime CurrentFileTime() {
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    return ToFileTime(now);
}

bool EntryExists(const char* path) try {
    if (Injected(fault::Operation::kLookup)) return false;
    std::string native = NativePath(path);
    struct stat st;
    return OnEntry(&native, [&](const char* name) { return lstat(name, &st) == 0; });
} catch (const std::bad_alloc&) {
    return OutOfMemory();
}

bool FileSizeByName(const char* path, int64_t* size) try {
    if (Injected(fault::Operation::kLookup)) return false;
    std::string native = NativePath(path);
    struct stat st;
    if (!OnEntry(&native, [&](const char* name) { return stat(name, &st) == 0; })) {
        return Fail(native);
    }
    if (S_ISDIR(st.st_mode)) {
        t_last_error = kErrorAccessDenied;
        return false;
    }
    *size = static_cast<int64_t>(st.st_size);
    return Succeed();
} catch (const std::bad_alloc&) {
    return OutOfMemory();
}

DirectorySearch::~DirectorySearch() {
    Close();
}

bool DirectorySearch::First(const char* pattern, FindData* entry) try {
    Close();
    if (Injected(fault::Operation::kSearch)) return false;
    std::string native = NativePath(pattern);
    std::string::size_type slash = native.find_last_of('/');
    std::unique_ptr<SearchState> search(new SearchState);
    if (slash == std::string::npos) {
        search->folder = ".";
        search->pattern = native;
    } else {
        search->folder = slash == 0 ? "/" : native.substr(0, slash);
        search->pattern = native.substr(slash + 1);
    }
    if (search->pattern.empty()) {  // "folder\" names no entry
        t_last_error = kErrorFileNotFound;
        return false;
    }
    search->dir = nullptr;
    OnEntry(&search->folder,
            [&](const char* name) { return (search->dir = opendir(name)) != nullptr; });
    if (search->dir == nullptr) {
        t_last_error = errno == ENOENT || errno == ENOTDIR ? kErrorPathNotFound
                                                           : TranslateErrno(errno, native);
        return false;
    }
    state_ = search.release();
    if (NextMatch(static_cast<SearchState*>(state_), entry)) return true;
    uint32_t error = LastSystemError();
    Close();
    t_last_error = error == kErrorNoMoreFiles ? kErrorFileNotFound : error;
    return false;
} catch (const std::bad_alloc&) {
    return OutOfMemory();
}

bool DirectorySearch::Next(FindData* entry) try {
    if (state_ == nullptr) {
        t_last_error = kErrorInvalidHandle;
        return false;
    }
    if (Injected(fault::Operation::kSearch)) return false;
    return NextMatch(static_cast<SearchState*>(state_), entry);
} catch (const std::bad_alloc&) {
    return OutOfMemory();
}

void DirectorySearch::Close() {
    auto* search = static_cast<SearchState*>(state_);
    if (search == nullptr) return;
    if (search->dir) closedir(search->dir);
    delete search;
    state_ = nullptr;
}

uint32_t FileTimeToDosStamp(FileTime time) {
    if (time < kFileTimeUnixEpoch) return 0;
    time_t seconds = static_cast<time_t>((time - kFileTimeUnixEpoch) / 10000000);
    struct tm utc;
    if (gmtime_r(&seconds, &utc) == nullptr) return 0;
    int year = utc.tm_year + 1900;
    if (year < 1980 || year > 2107) return 0;
    uint32_t date =
        static_cast<uint32_t>(((year - 1980) << 9) | ((utc.tm_mon + 1) << 5) | utc.tm_mday);
    uint32_t clock =
        static_cast<uint32_t>((utc.tm_hour << 11) | (utc.tm_min << 5) | (utc.tm_sec / 2));
    return (date << 16) | clock;
}

bool LocalDate(int64_t utc_seconds, int* year, int* month, int* day) {
    if (utc_seconds < 0) return false;  // as the Windows runtime
    const time_t t = static_cast<time_t>(utc_seconds);
    if (static_cast<int64_t>(t) != utc_seconds) return false;
    tzset();  // localtime_r need not look at TZ again by itself
    struct tm local;
    if (localtime_r(&t, &local) == nullptr) return false;
    *year = local.tm_year + 1900;
    *month = local.tm_mon + 1;
    *day = local.tm_mday;
    return true;
}

void SleepMilliseconds(uint32_t milliseconds) {
    if (fault::SleepsSkipped()) return;
    struct timespec wait = {static_cast<time_t>(milliseconds / 1000),
                            static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&wait, &wait) != 0 && errno == EINTR) {
    }
}

bool ThreadSlot::Allocate() {
    pthread_key_t key;
    if (pthread_key_create(&key, nullptr) != 0) return false;
    key_ = static_cast<uintptr_t>(key);
    allocated_ = true;
    return true;
}

void ThreadSlot::Free() {
    if (!allocated_) return;
    pthread_key_delete(static_cast<pthread_key_t>(key_));
    allocated_ = false;
}

int32_t ThreadSlot::Get() const {
    if (!allocated_) return 0;
    return static_cast<int32_t>(
        reinterpret_cast<intptr_t>(pthread_getspecific(static_cast<pthread_key_t>(key_))));
}

void ThreadSlot::Set(int32_t value) {
    if (!allocated_) return;
    pthread_setspecific(static_cast<pthread_key_t>(key_),
                        reinterpret_cast<void*>(static_cast<intptr_t>(value)));
}

TimeZoneInfo GetTimeZoneInfo() {
    TimeZoneInfo info;
    tzset();
    time_t now = time(nullptr);
    struct tm local;
    if (localtime_r(&now, &local) == nullptr) return info;
    // timezone: seconds west of UTC in standard time, which is the Win32 Bias in seconds.
    info.bias = static_cast<int32_t>(timezone / 60);
    info.standard_bias = 0;
    info.daylight_bias = 0;
    if (daylight) {
        // The zone's daylight shift: compare a daylight instant's offset with standard time. Look
        // at now when it is in daylight time, else half a year on, else a quarter.
        const time_t probes[] = {now, now + 182 * 86400, now + 91 * 86400, now + 273 * 86400};
        for (time_t probe : probes) {
            struct tm t;
            if (localtime_r(&probe, &t) && t.tm_isdst > 0) {
                info.daylight_bias = static_cast<int32_t>(-(t.tm_gmtoff + timezone) / 60);
                break;
            }
        }
    }
    info.state = local.tm_isdst > 0 ? TimeZoneInfo::kDaylight
                                    : (daylight ? TimeZoneInfo::kStandard : TimeZoneInfo::kUnknown);
    return info;
}

bool IsDaylightTimeAt(int64_t utc_seconds) {
    tzset();  // localtime_r need not look at TZ again by itself
    const time_t t = static_cast<time_t>(utc_seconds);
    if (static_cast<int64_t>(t) != utc_seconds) return false;  // beyond a narrow time_t
    struct tm local;
    return localtime_r(&t, &local) != nullptr && local.tm_isdst > 0;
}

namespace {

// A Win32 mutex in POSIX terms: recursive, and robust, so that a holder that ends without releasing
// it hands the next waiter EOWNERDEAD, which is what Windows calls abandoned. Handles are checked
// against the set of live ones, so that a closed or invented handle fails with error 6 instead of
// touching freed memory.
//
// The owner is kept beside the mutex: releasing a mutex that the caller does not hold is refused
// (ERROR_NOT_OWNER, as Windows answers) without asking the system to unlock it, which POSIX leaves
// undefined for a mutex held by another thread or by nobody.
struct NativeMutex {
    pthread_mutex_t mutex;
    std::atomic<pthread_t> owner{0};
    uint32_t depth = 0;  // recursive acquisitions by the owner; touched only by the owner
};

// Records the calling thread as the owner of a mutex it has just acquired.
void TakeOwnership(NativeMutex* m, bool abandoned) {
    if (abandoned) m->depth = 0;  // the previous owner's count died with it
    if (m->depth++ == 0) m->owner.store(pthread_self());
}

std::mutex g_handles_guard;
std::set<MutexHandle>& LiveHandles() {
    static std::set<MutexHandle> handles;
    return handles;
}

NativeMutex* Lookup(MutexHandle handle) {
    std::lock_guard<std::mutex> hold(g_handles_guard);
    return LiveHandles().count(handle) ? static_cast<NativeMutex*>(handle) : nullptr;
}

}  // namespace

MutexHandle CreateMutexHandle() {
    auto* m = new NativeMutex;
    pthread_mutexattr_t attributes;
    pthread_mutexattr_init(&attributes);
    pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutexattr_setrobust(&attributes, PTHREAD_MUTEX_ROBUST);
    int result = pthread_mutex_init(&m->mutex, &attributes);
    pthread_mutexattr_destroy(&attributes);
    if (result != 0) {
        delete m;
        t_last_error = kErrorNotEnoughMemory;
        return nullptr;
    }
    std::lock_guard<std::mutex> hold(g_handles_guard);
    LiveHandles().insert(m);
    return m;
}

bool CloseMutexHandle(MutexHandle handle) {
    NativeMutex* m;
    {
        std::lock_guard<std::mutex> hold(g_handles_guard);
        if (LiveHandles().erase(handle) == 0) {
            t_last_error = kErrorInvalidHandle;
            return false;
        }
        m = static_cast<NativeMutex*>(handle);
    }
    pthread_mutex_destroy(&m->mutex);
    delete m;
    return true;
}

WaitResult WaitForMutex(MutexHandle handle, uint32_t milliseconds) {
    NativeMutex* m = Lookup(handle);
    if (m == nullptr) {
        t_last_error = kErrorInvalidHandle;
        return WaitResult::kFailed;
    }
    int result;
    if (milliseconds == kWaitInfinite) {
        result = pthread_mutex_lock(&m->mutex);
    } else if (milliseconds == 0) {
        result = pthread_mutex_trylock(&m->mutex);
    } else {
        struct timespec deadline;
        clock_gettime(CLOCK_REALTIME, &deadline);
        deadline.tv_sec += milliseconds / 1000;
        deadline.tv_nsec += static_cast<long>(milliseconds % 1000) * 1000000L;
        if (deadline.tv_nsec >= 1000000000L) {
            deadline.tv_sec += 1;
            deadline.tv_nsec -= 1000000000L;
        }
        result = pthread_mutex_timedlock(&m->mutex, &deadline);
    }
    switch (result) {
        case 0:
            TakeOwnership(m, false);
            return WaitResult::kAcquired;
        case EBUSY:
        case ETIMEDOUT:
            return WaitResult::kTimedOut;
        case EOWNERDEAD:
            pthread_mutex_consistent(&m->mutex);
            TakeOwnership(m, true);
            return WaitResult::kAbandoned;
        default:
            t_last_error = TranslateErrno(result, "");
            return WaitResult::kFailed;
    }
}

bool ReleaseMutexHandle(MutexHandle handle) {
    NativeMutex* m = Lookup(handle);
    if (m == nullptr) {
        t_last_error = kErrorInvalidHandle;
        return false;
    }
    if (!pthread_equal(m->owner.load(), pthread_self())) {  // then depth is the caller's own
        t_last_error = kErrorNotOwner;
        return false;
    }
    if (--m->depth == 0) m->owner.store(0);
    int result = pthread_mutex_unlock(&m->mutex);
    if (result != 0) {
        t_last_error = result == EPERM ? kErrorNotOwner : TranslateErrno(result, "");
        return false;
    }
    return true;
}

std::string ExecutablePath() {
    char buffer[4096];
    ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (length <= 0) return std::string();
    return std::string(buffer, static_cast<size_t>(length));
}

}  // namespace cv

#include <dlfcn.h>

namespace cv {

const char* ExecutableSuffix() {
    return "";
}

std::string TemporaryFolder() {
    const char* folder = std::getenv("TMPDIR");
    std::string result = folder && folder[0] ? folder : "/tmp";
    while (result.size() > 1 && result.back() == '/') result.pop_back();
    return result;
}

uint32_t CurrentProcessId() {
    return static_cast<uint32_t>(getpid());
}

bool SetProcessEnvironment(const char* name, const char* value) {
    return (value ? setenv(name, value, 1) : unsetenv(name)) == 0;
}

bool DynamicLibrary::Open(const char* path) {
    Close();
    handle_ = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) {
        const char* why = dlerror();
        error_ = why ? why : "dlopen failed";
        return false;
    }
    error_.clear();
    return true;
}

void* DynamicLibrary::Symbol(const char* name) const {
    return handle_ ? dlsym(handle_, name) : nullptr;
}

void* DynamicLibrary::Ordinal(unsigned) const {
    return nullptr;
}

void DynamicLibrary::Close() {
    if (handle_) dlclose(handle_);
    handle_ = nullptr;
}

}  // namespace cv

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace cv {

ChildProcess::~ChildProcess() {
    if (handle_ != 0) Wait();
}

bool ChildProcess::Start(const std::vector<std::string>& arguments) {
    if (arguments.empty() || handle_ != 0) return false;
    std::vector<char*> argv;
    for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return false;
    handle_ = pid;
    return true;
}

int ChildProcess::Wait() {
    if (handle_ == 0) return -1;
    int status = 0;
    pid_t pid = static_cast<pid_t>(handle_);
    handle_ = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    return -1;
}

void ChildProcess::Kill() {
    if (handle_ != 0) kill(static_cast<pid_t>(handle_), SIGKILL);
}

unsigned ChildProcess::id() const {
    return static_cast<unsigned>(handle_);
}

}  // namespace cv
