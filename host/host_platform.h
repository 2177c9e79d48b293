// The services of the system that only our hosts (cvcal, cvadmind) and the tests use, beside the
// platform seam (platform.h): loading a library, running processes, temporary folders, the
// environment, renaming. They live in the host library, which the DLL does not link, so that the
// provider cannot come to depend on them. host_platform_*.cpp, dynamic_library_*.cpp and
// child_process_*.cpp implement them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace cv {

// Renames a file; fails when the target exists.
bool MoveFileTo(const char* from, const char* to);

// What executables' file names end with: ".exe" on Windows, nothing elsewhere.
const char* ExecutableSuffix();

// Whether the system's own paths separate folders with backslashes (Windows) rather than slashes,
// for showing a store path as a user of this system writes it.
bool PathsUseBackslashes();

// A store path (composed with backslashes, as the library composes them) as this system names
// the file: natively with slashes, "Z:" dropped and the existing part in the letter case it has on
// disk (store names ignore case); on Windows the path itself.
std::string SystemPath(const std::string& store_path);

// The file that takes what is written to it and keeps nothing ("NUL", "/dev/null").
const char* NullDevicePath();

// The system's folder for temporary files, without a trailing separator.
std::string TemporaryFolder();
// Makes a new, empty file there that only its owner may read, under a name no other file has,
// which begins with `prefix`; its path in *path.
bool MakeTemporaryFile(const char* prefix, std::string* path);
// A path as it reads from any working folder (a service starts in the system's folder, not the
// one it was installed from); the path itself when it cannot be made absolute.
std::string AbsolutePath(const std::string& path);
// Sets (or, with a null value, removes) a variable of the process's environment.
bool SetProcessEnvironment(const char* name, const char* value);

// A shared library loaded at run time, as a host loads the provider.
class DynamicLibrary {
  public:
    DynamicLibrary() = default;
    ~DynamicLibrary() { Close(); }
    DynamicLibrary(const DynamicLibrary&) = delete;
    DynamicLibrary& operator=(const DynamicLibrary&) = delete;

    bool Open(const char* path);
    // The address of an export by name, null when missing.
    void* Symbol(const char* name) const;
    // The address of an export by ordinal (Windows only; null elsewhere).
    void* Ordinal(unsigned ordinal) const;
    // Why the last Open failed, for messages.
    std::string Error() const { return error_; }
    void Close();

  private:
    void* handle_ = nullptr;
    std::string error_;
};

// A child process started from an argument list (no shell). Tests and tools use it to run
// several hosts of the library at once.
class ChildProcess {
  public:
    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool Start(const std::vector<std::string>& arguments);
    // Waits for the end; the exit code, or -1 when it could not be had.
    int Wait();
    // Ends the process at once, as a crash would (SIGKILL; TerminateProcess).
    void Kill();
    bool running() const { return handle_ != 0; }
    // The system's id of the running process (0 when none), for tools that look at it from outside.
    unsigned id() const;

  private:
    intptr_t handle_ = 0;
};

}  // namespace cv
