// POSIX side of the seam's FolderWatch: an inotify queue of its own for each watch.
#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <new>

#include "platform/platform.h"
#include "platform/seam_posix.h"

namespace cv {
using namespace posix;

FolderWatch::~FolderWatch() {
    if (handle_ != kNone) close(static_cast<int>(handle_));
}

bool FolderWatch::Start(const char* path) try {
    std::string folder = NativePath(path);
    std::string::size_type slash = folder.find_last_of('/');
    if (slash == std::string::npos || slash == 0) {
        SetLastSystemError(kErrorInvalidName);
        return false;
    }
    folder.erase(slash);
    int queue = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (queue < 0) return Fail(folder);
    const uint32_t kEvents = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_ONLYDIR;
    auto watch = [&](const char* name) { return inotify_add_watch(queue, name, kEvents) >= 0; };
    if (!OnEntry(&folder, watch)) {
        Fail(folder);
        close(queue);
        return false;
    }
    handle_ = queue;
    return Succeed();
} catch (const std::bad_alloc&) {
    return OutOfMemory();
}

bool FolderWatch::Wait(uint32_t milliseconds) {
    if (fault::SleepsSkipped()) return false;
    if (handle_ == kNone) {
        SleepMilliseconds(milliseconds);
        return false;
    }
    struct pollfd queue = {static_cast<int>(handle_), POLLIN, 0};
    int ready = poll(&queue, 1, static_cast<int>(milliseconds));
    if (ready == 0) return false;
    if (ready < 0 && errno != EINTR) {
        SleepMilliseconds(milliseconds);
        return false;
    }
    // The events themselves do not matter: the waiter looks at the folder again.
    alignas(struct inotify_event) char events[4096];
    while (read(queue.fd, events, sizeof events) > 0) {
    }
    return true;
}

}  // namespace cv
