// Registry access on a ".reg" file named by CVAICP_REGISTRY. The parsed file is kept and parsed
// again whenever the file's identity, size or modification time changes, so values are still read
// "when needed". Looking at the file costs a path lookup, which every call of the library would
// pay (each asks the registry whether to work remotely); on Linux a change watch on the file's
// folder says instead whether there is anything to look at.
#include "platform/reg_file.h"
#include "platform/registry.h"
#include "platform/registry_file_posix.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/inotify.h>
#endif

#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>

namespace cv {
using posix::ReadRegistryFile;
using posix::RegistryFilePath;
namespace {

struct Snapshot {
    std::string path;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = -1;
    struct timespec modified = {0, 0};
    std::shared_ptr<const RegFile> file;
    // A watch on the folder of the file at `watched`, set before the snapshot was taken: while it
    // has nothing to report about the file, the snapshot holds. -1: none (the file is looked at on
    // every reading).
    int watch = -1;
    std::string watched;
};

std::mutex g_snapshot_guard;

// Constructed on first use: the library's load hook reads the registry before the dynamic
// initialisers of its globals have all run, and a global Snapshot would then be constructed over
// the values already read (losing them).
Snapshot& TheSnapshot() {
    static Snapshot snapshot;
    return snapshot;
}

#ifdef __linux__
// A process that forks shares the watch with its child, and the events one of them reads the other
// never sees: the child starts without one.
void ForgetWatchInChild() {
    Snapshot& s = TheSnapshot();
    if (s.watch >= 0) close(s.watch);
    s.watch = -1;
    s.file.reset();
}

// Watches the folder that holds the file, since a file is often replaced by renaming another over
// it. The kernel queues an event before the call that made the change returns, so a change that
// any process has made is reported to a reading that comes after it. A file reached through a
// symbolic link changes where its folder does not see it: it is not watched.
int WatchFolderOf(const char* path) {
    struct stat st;
    if (lstat(path, &st) != 0 || S_ISLNK(st.st_mode)) return -1;
    static std::once_flag fork_hook;
    std::call_once(fork_hook, [] { pthread_atfork(nullptr, nullptr, ForgetWatchInChild); });
    const char* slash = std::strrchr(path, '/');
    std::string folder = slash == nullptr ? "." : slash == path ? "/" : std::string(path, slash);
    int fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd < 0) return -1;
    const uint32_t events = IN_MODIFY | IN_ATTRIB | IN_CLOSE_WRITE | IN_CREATE | IN_DELETE |
                            IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF |
                            IN_ONLYDIR;
    if (inotify_add_watch(fd, folder.c_str(), events) < 0) {
        close(fd);
        return -1;
    }
    return fd;
}

enum class WatchReport { kNothing, kFileChanged, kWatchLost };

// What the watch has reported about the file (named by its last path component) since it was
// last asked. Events about other entries of the folder are passed over; one without a name is
// about the folder itself (moved or deleted, or events were lost), and the watch is then lost.
WatchReport AskWatch(int watch, const char* path) {
    const char* slash = std::strrchr(path, '/');
    const char* name = slash ? slash + 1 : path;
    alignas(struct inotify_event) char events[4096];
    WatchReport report = WatchReport::kNothing;
    for (;;) {
        ssize_t got = read(watch, events, sizeof events);
        if (got < 0) return errno == EAGAIN ? report : WatchReport::kWatchLost;
        for (ssize_t at = 0; at < got;) {
            const auto* event = reinterpret_cast<const struct inotify_event*>(events + at);
            if (event->len == 0) return WatchReport::kWatchLost;
            if (std::strcmp(event->name, name) == 0) report = WatchReport::kFileChanged;
            at += static_cast<ssize_t>(sizeof *event + event->len);
        }
        // A read that did not fill the buffer emptied the queue.
        if (static_cast<size_t>(got) < sizeof events) return report;
    }
}
#else
enum class WatchReport { kNothing, kFileChanged, kWatchLost };
int WatchFolderOf(const char*) {
    return -1;
}
WatchReport AskWatch(int, const char*) {
    return WatchReport::kWatchLost;
}
#endif

// The current contents, or null when there is no registry file.
std::shared_ptr<const RegFile> Current() {
    const char* path = RegistryFilePath();
    if (path == nullptr) return nullptr;
    std::lock_guard<std::mutex> hold(g_snapshot_guard);
    Snapshot& s = TheSnapshot();
    if (s.watch >= 0 && s.watched == path) {
        WatchReport report = AskWatch(s.watch, path);
        if (report == WatchReport::kNothing && s.file && s.path == path) return s.file;
        if (report == WatchReport::kWatchLost) {
            close(s.watch);
            s.watch = -1;
        }
    } else if (s.watch >= 0) {
        close(s.watch);
        s.watch = -1;
    }
    // Watching first, then looking: a change made after the look is reported.
    if (s.watch < 0 && (s.watch = WatchFolderOf(path)) >= 0) s.watched = path;
    struct stat st;
    if (stat(path, &st) != 0) {
        s.file.reset();
        return nullptr;
    }
    if (s.file && s.path == path && s.device == st.st_dev && s.inode == st.st_ino &&
        s.size == st.st_size && s.modified.tv_sec == st.st_mtim.tv_sec &&
        s.modified.tv_nsec == st.st_mtim.tv_nsec) {
        return s.file;
    }
    std::string text;
    if (!ReadRegistryFile(path, &text)) {
        s.file.reset();
        return nullptr;
    }
    s.path = path;
    s.device = st.st_dev;
    s.inode = st.st_ino;
    s.size = st.st_size;
    s.modified = st.st_mtim;
    s.file = std::make_shared<const RegFile>(RegFile::Parse(text));
    return s.file;
}

}  // namespace

RegistryRead ReadRegistryValue(Hive hive, const char* key, const char* name, void* data,
                               uint32_t capacity, uint32_t* size) try {
    std::shared_ptr<const RegFile> file = Current();
    if (file == nullptr || key == nullptr || !file->HasKey(hive, key)) return RegistryRead::kNoKey;
    const RegFile::Value* value = file->Find(hive, key, name ? name : "");
    if (value == nullptr) return RegistryRead::kNoValue;
    if (value->data.size() > capacity) return RegistryRead::kTooLarge;
    std::memcpy(data, value->data.data(), value->data.size());
    *size = static_cast<uint32_t>(value->data.size());
    return RegistryRead::kRead;
} catch (const std::bad_alloc&) {
    // Reading the file takes memory, which the Windows registry does not ask of its callers: a
    // read that cannot have it finds nothing, and the caller takes its default, as it would when
    // the value is missing. (Readers run where nothing may throw, such as a blocking file's
    // release while a change unwinds.)
    return RegistryRead::kNoKey;
}

namespace posix {

const char* RegistryFilePath() {
    const char* path = std::getenv("CVAICP_REGISTRY");
    return path != nullptr && path[0] != '\0' ? path : nullptr;
}

bool ReadRegistryFile(const char* path, std::string* text) {
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    text->clear();
    char buffer[16384];
    ssize_t got;
    while ((got = read(fd, buffer, sizeof buffer)) > 0)
        text->append(buffer, static_cast<size_t>(got));
    close(fd);
    return got == 0;
}

}  // namespace posix

}  // namespace cv
