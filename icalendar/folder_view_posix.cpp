#include "icalendar/folder_view.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <malloc.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <set>

#include "platform/platform.h"

namespace cvical {
namespace {

FileSignature SignatureOf(const struct stat& st) {
    FileSignature s;
    s.mtime_ns = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    s.size = static_cast<int64_t>(st.st_size);
    s.inode = static_cast<uint64_t>(st.st_ino);
    return s;
}

}  // namespace

FolderView::~FolderView() {
    if (fd_ >= 0) close(fd_);
}

bool FolderView::Open(const std::string& folder, bool* missing) {
    if (fd_ >= 0) close(fd_);
    fd_ = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    *missing = fd_ < 0 && (errno == ENOENT || errno == ENOTDIR);
    return fd_ >= 0;
}

bool FolderView::Stamp(FileSignature* stamp) const {
    struct stat st;
    if (fd_ < 0 || fstat(fd_, &st) != 0) return false;
    *stamp = SignatureOf(st);
    stamp->size = 0;  // a folder's size says nothing its time does not
    return true;
}

bool FolderView::List(std::vector<ListedFile>* files) const {
    files->clear();
    if (fd_ < 0) return false;
    // A descriptor of its own: readdir moves the position of the one it reads.
    int fd = openat(fd_, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* dir = fd >= 0 ? fdopendir(fd) : nullptr;
    if (dir == nullptr) {
        if (fd >= 0) close(fd);
        return false;
    }
    bool whole = true;
    errno = 0;
    while (struct dirent* entry = readdir(dir)) {
        if (entry->d_type != DT_REG && entry->d_type != DT_UNKNOWN) continue;
        struct stat st;
        if (fstatat(fd_, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno != ENOENT) whole = false;  // gone since the listing: not there
            errno = 0;
            continue;
        }
        if (!S_ISREG(st.st_mode)) continue;
        files->push_back({entry->d_name, SignatureOf(st)});
    }
    if (errno != 0) whole = false;
    closedir(dir);
    return whole;
}

bool FolderView::Signature(const std::string& name, FileSignature* signature) const {
    struct stat st;
    if (fd_ < 0 || name.find('/') != std::string::npos ||
        fstatat(fd_, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)) {
        return false;
    }
    *signature = SignatureOf(st);
    return true;
}

bool FolderView::Read(const std::string& name, std::string* bytes, FileSignature* signature) const {
    bytes->clear();
    if (fd_ < 0 || name.find('/') != std::string::npos) return false;
    int fd = openat(fd_, name.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return false;
    struct stat st;
    bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    if (ok) {
        *signature = SignatureOf(st);
        // One byte more than the size: a read of a regular file that comes back short has met
        // its end, so a file that has not grown since the stat takes one read.
        bytes->resize(static_cast<size_t>(st.st_size) + 1);
        size_t at = 0;
        while (ok) {
            if (at == bytes->size()) bytes->resize(at + 4096 + at / 2);  // grown since the stat
            const size_t room = bytes->size() - at;
            ssize_t got = read(fd, &(*bytes)[at], room);
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) {
                ok = got == 0;
                break;
            }
            at += static_cast<size_t>(got);
            if (static_cast<size_t>(got) < room) break;
        }
        bytes->resize(at);
    }
    close(fd);
    return ok;
}

FolderChanges::~FolderChanges() {
    Stop();
}

bool FolderChanges::Start(const std::string& folder) {
    Stop();
    fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd_ < 0) return false;
    // Every way a file's name or bytes change; the folder itself going ends the watch.
    const uint32_t kEvents = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_CLOSE_WRITE |
                             IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;
    if (inotify_add_watch(fd_, folder.c_str(), kEvents) < 0) Stop();
    return fd_ >= 0;
}

void FolderChanges::Stop() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
}

bool FolderChanges::Take(std::vector<std::string>* names) {
    names->clear();
    if (fd_ < 0) return false;
    std::set<std::string> seen;
    alignas(struct inotify_event) char events[64 * 1024];
    bool lost = false;
    for (;;) {
        ssize_t got = read(fd_, events, sizeof events);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            lost = lost || (got < 0 && errno != EAGAIN);
            break;
        }
        for (char* at = events; at < events + got;) {
            const auto* event = reinterpret_cast<const struct inotify_event*>(at);
            at += sizeof(struct inotify_event) + event->len;
            if (event->mask & (IN_Q_OVERFLOW | IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED)) {
                lost = true;
            } else if (event->len > 0) {
                seen.insert(event->name);
            }
        }
    }
    if (lost) {
        Stop();
        return false;
    }
    names->assign(seen.begin(), seen.end());
    return true;
}

bool MakeFolder(const std::string& path) {
    return mkdir(path.c_str(), 0700) == 0 || errno == EEXIST;
}

int64_t WallClockNs() {
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

void ReturnFreeMemory(uint32_t call_ms) {
#if defined(__GLIBC__) && (__GLIBC__ > 2 || __GLIBC_MINOR__ >= 33)
    constexpr size_t kWorthReturning = 8 << 20;
    constexpr uint32_t kLongCallMs = 20;
    constexpr uint32_t kCountEveryMs = 1000;
    static std::atomic<bool> ever{false};
    static std::atomic<uint32_t> counted{0};
    const uint32_t now = cv::MonotonicMilliseconds();
    uint32_t last = counted.load(std::memory_order_relaxed);
    if (call_ms < kLongCallMs && ever.load(std::memory_order_relaxed) &&
        now - last < kCountEveryMs) {
        return;
    }
    if (!counted.compare_exchange_strong(last, now, std::memory_order_relaxed)) return;
    ever.store(true, std::memory_order_relaxed);
    if (mallinfo2().fordblks >= kWorthReturning) malloc_trim(0);
#else
    (void)call_ms;
#endif
}

}  // namespace cvical
