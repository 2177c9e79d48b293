// POSIX side of the seam's operations on whole files and folders by name: create, remove, copy,
// replace, attributes and times, look-ups.
#include <fcntl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <new>

#include "platform/platform.h"
#include "platform/seam_posix.h"

namespace cv {
using namespace posix;
namespace {

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

}  // namespace

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

namespace {

// Deletes an entry, or its case twin, with `remove` (unlink for a file, rmdir for a folder).
bool RemoveEntry(const char* path, int (*remove)(const char*)) try {
    if (Injected(fault::Operation::kRemove)) return false;
    std::string native = NativePath(path);
    return OnEntry(&native, [&](const char* name) { return remove(name) == 0; }) ? Succeed()
                                                                                 : Fail(native);
} catch (const std::bad_alloc&) {
    return OutOfMemory();
}

}  // namespace

bool RemoveFile(const char* path) {
    // DeleteFileA refuses folders, and so does unlink (EISDIR, which reads as access denied).
    return RemoveEntry(path, unlink);
}

namespace {

bool CopyEntry(const char* from, const char* to, bool fail_if_exists) {
    std::string source = NativePath(from);
    std::string target = NativePath(to);
    int in = OpenEntry(&source, O_RDONLY);
    if (in < 0) return Fail(source);
    struct stat st;
    if (fstat(in, &st) != 0 || S_ISDIR(st.st_mode)) {
        close(in);
        SetLastSystemError(kErrorAccessDenied);
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
}

}  // namespace

bool CopyFileTo(const char* from, const char* to, bool fail_if_exists) try {
    if (Injected(fault::Operation::kCopy)) return false;
    return CopyEntry(from, to, fail_if_exists);
} catch (const std::bad_alloc&) {
    return OutOfMemory();
}

bool CopyHeldFile(const char* from, std::string_view content, const char* to) try {
    if (Injected(fault::Operation::kCopy)) return false;
    std::string target = NativePath(to);
    // Truncated as the copy would truncate it, its permissions staying; a missing target is made
    // by the copy itself, with the source's permissions.
    int out = OpenEntry(&target, O_WRONLY | O_TRUNC);
    if (out < 0) return errno == ENOENT ? CopyEntry(from, to, false) : Fail(target);
    bool written = true;
    for (size_t done = 0; written && done < content.size();) {
        ssize_t put = write(out, content.data() + done, content.size() - done);
        if (put < 0 && errno == EINTR) continue;
        written = put > 0;
        if (written) done += static_cast<size_t>(put);
    }
    int saved = errno;
    if (close(out) != 0) written = false;
    if (!written) {
        errno = saved;
        return Fail(target);
    }
    return Succeed();
} catch (const std::bad_alloc&) {
    return OutOfMemory();
}

bool ReplaceFileWith(const char* from, const char* to) try {
    if (Injected(fault::Operation::kReplace)) return false;
    std::string source = NativePath(from);
    std::string target = NativePath(to);
    // A target held under another case is the one replaced: the folder must not end up with both.
    // A folder whose listing is kept tells at once which that is.
    std::string known;
    struct stat st;
    if (posix::KnownName(target, &known)) {
        target = known;
    } else if (lstat(target.c_str(), &st) != 0 && errno == ENOENT) {
        target = posix::CreationName(target);
    }
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
        SetLastSystemError(kErrorAlreadyExists);
        return false;
    }
    return Fail(native);
} catch (const std::bad_alloc&) {
    return OutOfMemory();
}

bool RemoveFolder(const char* path) {
    return RemoveEntry(path, rmdir);
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

bool EntryExists(const char* path) try {
    if (Injected(fault::Operation::kLookup)) return false;
    std::string native = NativePath(path);
    // A folder whose listing is kept answers from memory, for every letter case at once: a
    // reader asks for the period's blocking file before every read, and it is seldom there.
    bool exists = false;
    if (KnownToExist(native, &exists)) return exists;
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
        SetLastSystemError(kErrorAccessDenied);
        return false;
    }
    *size = static_cast<int64_t>(st.st_size);
    return Succeed();
} catch (const std::bad_alloc&) {
    return OutOfMemory();
}
}  // namespace cv
