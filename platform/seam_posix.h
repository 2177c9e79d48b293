// What the POSIX files of the platform seam share, and nothing outside them may use (but the
// host's private files, which take names as the seam does): the turn of a store path into a
// native one, errno in Win32 terms (set as the calling thread's last error,
// which seam_posix.cpp keeps), and the case-blind look-up of existing entries.
#pragma once

#include <errno.h>
#include <fcntl.h>
#include <sys/types.h>
#include <time.h>

#include <cstdint>
#include <string>

#include "platform/fault_injection.h"
#include "platform/name_case_posix.h"
#include "platform/platform.h"

namespace cv {
namespace posix {

// The store's paths are composed with backslashes; here they become slashes. "Z:", the drive that
// Wine maps to the root, is dropped, so that a configuration written for the Windows build under
// Wine names the same folders natively.
std::string NativePath(const char* path);

// errno as the Win32 error a failing call would have set (the path tells a missing file from a
// missing folder).
uint32_t TranslateErrno(int error, const std::string& native);

// Sets the last error from errno (for the entry `native`) and answers false.
bool Fail(const std::string& native);

// What a call of the seam answers when the memory it needs cannot be had. Natively, paths and the
// case-blind look-ups take memory, which the Win32 calls do not ask of their callers; no call of
// the seam throws, as none does on Windows, since some of its callers run where a throw would end
// the process (the release of a blocking file while a failed change unwinds).
bool OutOfMemory();

bool Succeed();

// The fault switch of the test build (the constant false in the product): true when this
// operation is to fail, with the system error set as a real failure would set it.
inline bool Injected(fault::Operation operation) {
    if (!fault::ShouldFail(operation)) return false;
    SetLastSystemError(fault::InjectedError(operation));
    return true;
}

FileTime ToFileTime(const struct timespec& ts);

// open() with close-on-exec, tried again when a signal cuts it short; a relative path from
// `folder`, an open folder's descriptor, where given.
int OpenRetryingSignals(const char* path, int flags, mode_t mode, int folder = AT_FDCWD);

// Store names compare without regard to case (see name_case_posix.h). A call on an existing entry
// is made on the name as given, and only when that is not there on the entry's case twin: the
// search costs nothing while the exact name answers. False with errno set as the last call left it.
template <typename Call>
bool OnEntry(std::string* native, Call call) {
    if (call(native->c_str())) return true;
    if (errno != ENOENT) return false;
    std::string twin;
    if (!FindCaseTwin(*native, &twin)) {
        errno = ENOENT;
        return false;
    }
    *native = twin;
    return call(native->c_str());
}

// Opens an existing file, or its case twin.
int OpenEntry(std::string* native, int flags);

// Opens a file for writing that is created when missing: an existing one (or its case twin) is
// opened as it is; a new one takes the name as given.
int OpenForWriting(std::string* native, int flags, mode_t mode);

// Creates an entry only when neither it nor a case twin of it exists. The entry is made first and
// the twin looked for after, so that of two parties racing under different cases neither wins
// (each tries again later) rather than both.
template <typename Create, typename Undo>
bool CreateExclusively(std::string* native, Create create, Undo undo) {
    if (!create(native->c_str())) {
        if (errno != ENOENT) return false;
        // The folder may be held under another case.
        *native = CreationName(*native);
        if (!create(native->c_str())) return false;
    }
    if (!HasOtherCaseTwin(*native)) return true;
    undo(native->c_str());
    errno = EEXIST;
    return false;
}

}  // namespace posix
}  // namespace cv
