// The baseline's file work with the Win32 calls that the library's file layer makes for the same
// steps: CreateFileA with CREATE_NEW for the blocking file, ReadFile and WriteFile on handles
// opened as File::Open opens them, CopyFileA for the backup, MoveFileExA with
// MOVEFILE_REPLACE_EXISTING for the replace, DeleteFileA, GetFileAttributesA for the look.
#include <windows.h>

#include "bench/baseline.h"

namespace cvbench {
namespace {

// A handle closed when it goes.
class Handle {
  public:
    explicit Handle(HANDLE h) : h_(h) {}
    ~Handle() {
        if (ok()) CloseHandle(h_);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    bool ok() const { return h_ != INVALID_HANDLE_VALUE; }
    HANDLE get() const { return h_; }

  private:
    HANDLE h_;
};

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

bool ReadAll(const char* path, std::string* out) {
    Handle file(CreateFileA(path, GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.ok()) return false;
    out->clear();
    char buffer[16384];
    DWORD got;
    for (;;) {
        if (!ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr)) return false;
        if (got == 0) return true;
        out->append(buffer, got);
    }
}

bool WriteAll(const char* path, const std::string& bytes) {
    Handle file(CreateFileA(path, GENERIC_WRITE, kShareAll, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD put = 0;
    return file.ok() &&
           WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &put, nullptr) &&
           put == bytes.size();
}

}  // namespace

bool BaselineChange(BaselinePeriod* b) {
    {
        Handle blocking(CreateFileA(b->blocking.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!blocking.ok()) return false;
    }
    bool done = ReadAll(b->period.c_str(), &b->content) &&
                WriteAll(b->temporary.c_str(), b->content) &&
                CopyFileA(b->period.c_str(), b->backup.c_str(), FALSE) &&
                MoveFileExA(b->temporary.c_str(), b->period.c_str(), MOVEFILE_REPLACE_EXISTING);
    return DeleteFileA(b->blocking.c_str()) && done;
}

bool BaselineRead(BaselinePeriod* b) {
    if (GetFileAttributesA(b->blocking.c_str()) != INVALID_FILE_ATTRIBUTES) return false;
    return ReadAll(b->period.c_str(), &b->content);
}

// The Windows build runs under Wine, whose drive Z: is the Linux root; where there is no such
// folder (Windows itself) the in-memory benchmarks report that they were skipped.
const char* MemoryFolder() {
    return "Z:\\dev\\shm";
}

}  // namespace cvbench
