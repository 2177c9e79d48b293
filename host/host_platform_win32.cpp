// Win32 side of the services that only our hosts and the tests use (host_platform.h).
#include "host/host_platform.h"

#include <windows.h>

#include <cstdlib>

#include "platform/seam_win32.h"

namespace cv {

bool MoveFileTo(const char* from, const char* to) {
    if (win32::Injected(fault::Operation::kMove)) return false;
    return MoveFileA(from, to) != 0;
}

const char* ExecutableSuffix() {
    return ".exe";
}

bool PathsUseBackslashes() {
    return true;
}

std::string SystemPath(const std::string& store_path) {
    return store_path;
}

const char* NullDevicePath() {
    return "NUL";
}

std::string TemporaryFolder() {
    char buffer[MAX_PATH + 1];
    DWORD length = GetTempPathA(sizeof buffer, buffer);
    if (length == 0 || length > sizeof buffer) return ".";
    std::string result(buffer, length);
    while (result.size() > 3 && (result.back() == '\\' || result.back() == '/')) result.pop_back();
    return result;
}

bool MakeTemporaryFile(const char* prefix, std::string* path) {
    // The user's temporary folder is the user's alone.
    char name[MAX_PATH + 1];
    if (GetTempFileNameA(TemporaryFolder().c_str(), prefix, 0, name) == 0) return false;
    *path = name;
    return true;
}

std::string AbsolutePath(const std::string& path) {
    char buffer[MAX_PATH + 1];
    DWORD length = GetFullPathNameA(path.c_str(), sizeof buffer, buffer, nullptr);
    if (length == 0 || length >= sizeof buffer) return path;
    return std::string(buffer, length);
}

bool SetProcessEnvironment(const char* name, const char* value) {
    // Both the system's copy and the C runtime's, so that getenv sees the change too.
    std::string assignment = std::string(name) + "=" + (value ? value : "");
    return SetEnvironmentVariableA(name, value) != 0 && _putenv(assignment.c_str()) == 0;
}
}  // namespace cv
