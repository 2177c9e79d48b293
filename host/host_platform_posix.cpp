// POSIX side of the services that only our hosts and the tests use (host_platform.h).
#include "host/host_platform.h"

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <cstdlib>
#include <new>

#include "platform/seam_posix.h"

namespace cv {
using namespace posix;

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

const char* ExecutableSuffix() {
    return "";
}

bool PathsUseBackslashes() {
    return false;
}

std::string SystemPath(const std::string& store_path) {
    std::string native = NativePath(store_path.c_str());
    std::string actual;
    return FindCaseTwin(native, &actual) ? actual : native;
}

const char* NullDevicePath() {
    return "/dev/null";
}

std::string TemporaryFolder() {
    const char* folder = std::getenv("TMPDIR");
    std::string result = folder && folder[0] ? folder : "/tmp";
    while (result.size() > 1 && result.back() == '/') result.pop_back();
    return result;
}

bool MakeTemporaryFile(const char* prefix, std::string* path) {
    std::string name = TemporaryFolder() + "/" + prefix + "XXXXXX";
    const int fd = mkstemp(&name[0]);  // mode 600
    if (fd < 0) return false;
    close(fd);
    *path = name;
    return true;
}

std::string AbsolutePath(const std::string& path) {
    if (path.empty() || path[0] == '/') return path;
    char here[4096];
    if (getcwd(here, sizeof here) == nullptr) return path;
    return std::string(here) + "/" + path;
}

bool SetProcessEnvironment(const char* name, const char* value) {
    return (value ? setenv(name, value, 1) : unsetenv(name)) == 0;
}

}  // namespace cv
