// POSIX side of SetFileTimes, apart from the other operations by name: only the store-layer index
// entry points set a file's times, and the DLL, which none of its exports make do so, does not
// take this file.
#include <fcntl.h>
#include <sys/stat.h>

#include <new>

#include "platform/platform.h"
#include "platform/seam_posix.h"

namespace cv {
using namespace posix;

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

}  // namespace cv
