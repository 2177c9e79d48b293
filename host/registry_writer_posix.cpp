// Registry writers on the ".reg" file named by CVAICP_REGISTRY.
#include "host/registry_writer.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdio>

#include "host/private_file.h"
#include "platform/reg_file.h"
#include "platform/registry_file_posix.h"

namespace cv {
using posix::ReadRegistryFile;
using posix::RegistryFilePath;
namespace {

// Read-modify-write of the file, serialised between processes by an advisory lock on a companion
// lock file and made atomic by writing a new file and renaming it into place.
template <typename Change>
bool Rewrite(Change change) {
    const char* path = RegistryFilePath();
    if (path == nullptr) return false;
    std::string lock_path = std::string(path) + ".lock";
    int lock = open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (lock < 0) return false;
    flock(lock, LOCK_EX);
    std::string text;
    ReadRegistryFile(path, &text);
    RegEncoding encoding = RegEncoding::kUtf8;
    RegTextAsUtf8(text, &encoding);
    RegFile file = RegFile::Parse(text);
    bool changed = change(&file);
    bool written = true;
    if (changed) {
        std::string temp = std::string(path) + ".new";
        std::string out = RegTextInEncoding(file.Serialize(), encoding);
        written = WriteReplacementFile(temp.c_str(), path, out, HoldsCredentials(file)) &&
                  rename(temp.c_str(), path) == 0;
        if (!written) unlink(temp.c_str());
    }
    flock(lock, LOCK_UN);
    close(lock);
    return changed && written;
}

}  // namespace

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
    const char* path = RegistryFilePath();
    return path ? path : "";
}

bool DeleteRegistryValue(Hive hive, const char* key, const char* name) {
    return Rewrite([&](RegFile* file) { return file->Remove(hive, key, name ? name : ""); });
}

}  // namespace cv
