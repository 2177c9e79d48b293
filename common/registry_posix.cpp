// Registry access on a ".reg" file named by CVAICP_REGISTRY. The parsed file is kept and parsed
// again whenever the file's identity, size or modification time changes, so values are still read
// "when needed" at the cost of one stat per reading.
#include "common/reg_file.h"
#include "common/registry.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>

namespace cv {
namespace {

struct Snapshot {
    std::string path;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = -1;
    struct timespec modified = {0, 0};
    std::shared_ptr<const RegFile> file;
};

std::mutex g_snapshot_guard;

// Constructed on first use: the library's load hook reads the registry before the dynamic
// initialisers of its globals have all run, and a global Snapshot would then be constructed over
// the values already read (losing them).
Snapshot& TheSnapshot() {
    static Snapshot snapshot;
    return snapshot;
}

const char* RegistryPath() {
    const char* path = std::getenv("CVAICP_REGISTRY");
    return path != nullptr && path[0] != '\0' ? path : nullptr;
}

bool ReadWholeFile(const char* path, std::string* text) {
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

// The current contents, or null when there is no registry file.
std::shared_ptr<const RegFile> Current() {
    const char* path = RegistryPath();
    if (path == nullptr) return nullptr;
    struct stat st;
    if (stat(path, &st) != 0) return nullptr;
    std::lock_guard<std::mutex> hold(g_snapshot_guard);
    Snapshot& s = TheSnapshot();
    if (s.file && s.path == path && s.device == st.st_dev && s.inode == st.st_ino &&
        s.size == st.st_size && s.modified.tv_sec == st.st_mtim.tv_sec &&
        s.modified.tv_nsec == st.st_mtim.tv_nsec) {
        return s.file;
    }
    std::string text;
    if (!ReadWholeFile(path, &text)) return nullptr;
    s.path = path;
    s.device = st.st_dev;
    s.inode = st.st_ino;
    s.size = st.st_size;
    s.modified = st.st_mtim;
    s.file = std::make_shared<const RegFile>(RegFile::Parse(text));
    return s.file;
}

// Read-modify-write of the file, serialised between processes by an advisory lock on a companion
// lock file and made atomic by writing a new file and renaming it into place.
template <typename Change>
bool Rewrite(Change change) {
    const char* path = RegistryPath();
    if (path == nullptr) return false;
    std::string lock_path = std::string(path) + ".lock";
    int lock = open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (lock < 0) return false;
    flock(lock, LOCK_EX);
    std::string text;
    ReadWholeFile(path, &text);
    RegFile file = RegFile::Parse(text);
    bool changed = change(&file);
    bool written = true;
    if (changed) {
        std::string temp = std::string(path) + ".new";
        std::string out = file.Serialize();
        int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        written = fd >= 0 && write(fd, out.data(), out.size()) == static_cast<ssize_t>(out.size());
        if (fd >= 0 && close(fd) != 0) written = false;
        written = written && rename(temp.c_str(), path) == 0;
        if (!written) unlink(temp.c_str());
    }
    flock(lock, LOCK_UN);
    close(lock);
    return changed && written;
}

}  // namespace

RegistryRead ReadRegistryValue(Hive hive, const char* key, const char* name, void* data,
                               uint32_t capacity, uint32_t* size) {
    std::shared_ptr<const RegFile> file = Current();
    if (file == nullptr || key == nullptr || !file->HasKey(hive, key)) return RegistryRead::kNoKey;
    const RegFile::Value* value = file->Find(hive, key, name ? name : "");
    if (value == nullptr) return RegistryRead::kNoValue;
    if (value->data.size() > capacity) return RegistryRead::kTooLarge;
    std::memcpy(data, value->data.data(), value->data.size());
    *size = static_cast<uint32_t>(value->data.size());
    return RegistryRead::kRead;
}

bool WriteRegistryValue(Hive hive, const char* key, const char* name, RegistryType type,
                        const void* data, size_t size) {
    std::string bytes(static_cast<const char*>(data), size);
    return Rewrite([&](RegFile* file) {
        file->Set(hive, key, name ? name : "", type, bytes);
        return true;
    });
}

bool RegistryIsFile() {
    return true;
}

std::string RegistryLocation() {
    const char* path = RegistryPath();
    return path ? path : "";
}

bool DeleteRegistryValue(Hive hive, const char* key, const char* name) {
    return Rewrite([&](RegFile* file) { return file->Remove(hive, key, name ? name : ""); });
}

}  // namespace cv
