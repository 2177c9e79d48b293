// Win32 side of the platform seam.
#include "common/platform.h"

#include <windows.h>

#include "common/fault_injection.h"

#include <cstdlib>
#include <ctime>

namespace cv {
namespace {

HANDLE AsHandle(intptr_t handle) {
    return reinterpret_cast<HANDLE>(handle);
}

FileTime ToFileTime(const FILETIME& ft) {
    return (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

// The fault switch of the test build (the constant false in the product): true when this
// operation is to fail, with the last error set as a real failure would set it.
bool Injected(fault::Operation operation) {
    if (!fault::ShouldFail(operation)) return false;
    SetLastError(fault::InjectedError(operation));
    return true;
}

void FillEntry(const WIN32_FIND_DATAA& data, FindData* entry) {
    entry->name = data.cFileName;
    entry->attributes = data.dwFileAttributes;
    entry->last_write = ToFileTime(data.ftLastWriteTime);
    entry->last_access = ToFileTime(data.ftLastAccessTime);
    entry->size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

}  // namespace

uint32_t LastSystemError() {
    return GetLastError();
}
void SetLastSystemError(uint32_t error) {
    SetLastError(error);
}

bool File::Open(const char* path, Mode mode) {
    Close();
    const bool reading = mode == Mode::kRead || mode == Mode::kReadQuick;
    if (Injected(reading ? fault::Operation::kOpenRead : fault::Operation::kOpenWrite)) {
        return false;
    }
    DWORD access = GENERIC_READ;
    DWORD disposition = OPEN_EXISTING;
    switch (mode) {
        case Mode::kRead:
        case Mode::kReadQuick:
            break;
        case Mode::kWriteTruncate:
            access = GENERIC_WRITE;
            disposition = CREATE_ALWAYS;
            break;
        case Mode::kAppend:
            access = FILE_APPEND_DATA;
            disposition = OPEN_ALWAYS;
            break;
    }
    HANDLE h = CreateFileA(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    handle_ = reinterpret_cast<intptr_t>(h);
    short_is_end_ = mode == Mode::kReadQuick;
    return true;
}

int64_t File::Read(void* buffer, size_t size) {
    if (handle_ == kInvalid) return -1;
    if (Injected(fault::Operation::kRead)) return -1;
    size_t done = 0;
    while (done < size) {
        DWORD chunk = static_cast<DWORD>(size - done > 0x10000000 ? 0x10000000 : size - done);
        DWORD got = 0;
        if (!ReadFile(AsHandle(handle_), static_cast<char*>(buffer) + done, chunk, &got, nullptr)) {
            return -1;
        }
        if (got == 0) break;
        done += got;
        if (short_is_end_ && got < chunk) break;  // the end of the file: no call to confirm it
    }
    return static_cast<int64_t>(done);
}

bool File::Write(const void* data, size_t size) {
    if (handle_ == kInvalid) return false;
    if (Injected(fault::Operation::kWrite)) return false;
    size_t done = 0;
    while (done < size) {
        DWORD chunk = static_cast<DWORD>(size - done > 0x10000000 ? 0x10000000 : size - done);
        DWORD put = 0;
        if (!WriteFile(AsHandle(handle_), static_cast<const char*>(data) + done, chunk, &put,
                       nullptr) ||
            put == 0) {
            return false;
        }
        done += put;
    }
    return true;
}

bool File::Seek(int64_t offset) {
    if (handle_ == kInvalid) return false;
    LARGE_INTEGER distance;
    distance.QuadPart = offset;
    return SetFilePointerEx(AsHandle(handle_), distance, nullptr, FILE_BEGIN) != 0;
}

int64_t File::Size() {
    LARGE_INTEGER size;
    if (handle_ == kInvalid || !GetFileSizeEx(AsHandle(handle_), &size)) return -1;
    return size.QuadPart;
}

bool File::Sync() {
    return handle_ != kInvalid && FlushFileBuffers(AsHandle(handle_)) != 0;
}

bool File::LastWriteTime(FileTime* time) {
    FILETIME written;
    if (handle_ == kInvalid || !GetFileTime(AsHandle(handle_), nullptr, nullptr, &written)) {
        return false;
    }
    *time = ToFileTime(written);
    return true;
}

bool File::GetState(FileState* state) {
    BY_HANDLE_FILE_INFORMATION info;
    if (handle_ == kInvalid || !GetFileInformationByHandle(AsHandle(handle_), &info)) return false;
    uint64_t index = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    state->identity = (static_cast<uint64_t>(info.dwVolumeSerialNumber) << 40) ^ index;
    state->size =
        static_cast<int64_t>((static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow);
    state->written = ToFileTime(info.ftLastWriteTime);
    return true;
}

bool File::Close() {
    if (handle_ == kInvalid) return true;
    bool injected = Injected(fault::Operation::kClose);  // the handle goes all the same
    BOOL closed = CloseHandle(AsHandle(handle_));
    handle_ = kInvalid;
    if (injected) SetLastError(fault::InjectedError(fault::Operation::kClose));
    return closed != 0 && !injected;
}

bool CreateNewFile(const char* path) {
    if (Injected(fault::Operation::kCreateNew)) return false;
    HANDLE h =
        CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    CloseHandle(h);
    return true;
}

bool RemoveFile(const char* path) {
    if (Injected(fault::Operation::kRemove)) return false;
    return DeleteFileA(path) != 0;
}

bool CopyFileTo(const char* from, const char* to, bool fail_if_exists) {
    if (Injected(fault::Operation::kCopy)) return false;
    return CopyFileA(from, to, fail_if_exists ? TRUE : FALSE) != 0;
}

bool MoveFileTo(const char* from, const char* to) {
    if (Injected(fault::Operation::kMove)) return false;
    return MoveFileA(from, to) != 0;
}

bool ReplaceFileWith(const char* from, const char* to) {
    if (Injected(fault::Operation::kReplace)) return false;
    return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING) != 0;
}

bool MakeDirectory(const char* path) {
    if (Injected(fault::Operation::kMakeDirectory)) return false;
    return CreateDirectoryA(path, nullptr) != 0;
}

bool RemoveFolder(const char* path) {
    if (Injected(fault::Operation::kRemove)) return false;
    return RemoveDirectoryA(path) != 0;
}

bool SetAttributes(const char* path, uint32_t attributes) {
    if (Injected(fault::Operation::kAttributes)) return false;
    return SetFileAttributesA(path, attributes) != 0;
}

bool SetFileTimes(const char* path, FileTime time) {
    if (Injected(fault::Operation::kAttributes)) return false;
    HANDLE h = CreateFileA(path, FILE_WRITE_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    FILETIME stamp;
    stamp.dwLowDateTime = static_cast<DWORD>(time);
    stamp.dwHighDateTime = static_cast<DWORD>(time >> 32);
    BOOL set = SetFileTime(h, &stamp, &stamp, &stamp);
    CloseHandle(h);
    return set != 0;
}

FileTime CurrentFileTime() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return ToFileTime(now);
}

bool EntryExists(const char* path) {
    if (Injected(fault::Operation::kLookup)) return false;
    return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

bool FileSizeByName(const char* path, int64_t* size) {
    if (Injected(fault::Operation::kLookup)) return false;
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data)) return false;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    *size = (static_cast<int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    return true;
}

DirectorySearch::~DirectorySearch() {
    Close();
}

bool DirectorySearch::First(const char* pattern, FindData* entry) {
    Close();
    if (Injected(fault::Operation::kSearch)) return false;
    WIN32_FIND_DATAA data;
    HANDLE h = FindFirstFileA(pattern, &data);
    if (h == INVALID_HANDLE_VALUE) return false;
    state_ = h;
    FillEntry(data, entry);
    return true;
}

bool DirectorySearch::Next(FindData* entry) {
    if (state_ == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    if (Injected(fault::Operation::kSearch)) return false;
    WIN32_FIND_DATAA data;
    if (!FindNextFileA(static_cast<HANDLE>(state_), &data)) return false;
    FillEntry(data, entry);
    return true;
}

void DirectorySearch::Close() {
    if (state_ == nullptr) return;
    DWORD error = GetLastError();  // closing must not hide why the search ended
    FindClose(static_cast<HANDLE>(state_));
    SetLastError(error);
    state_ = nullptr;
}

uint32_t FileTimeToDosStamp(FileTime time) {
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(time);
    ft.dwHighDateTime = static_cast<DWORD>(time >> 32);
    WORD date = 0;
    WORD clock = 0;
    if (!FileTimeToDosDateTime(&ft, &date, &clock)) return 0;
    return (static_cast<uint32_t>(date) << 16) | clock;
}

bool LocalDate(int64_t utc_seconds, int* year, int* month, int* day) {
    _tzset();  // the runtime reads TZ (or the system's zone) again
    const __time64_t t = utc_seconds;
    struct tm local;
    if (_localtime64_s(&local, &t) != 0) return false;
    *year = local.tm_year + 1900;
    *month = local.tm_mon + 1;
    *day = local.tm_mday;
    return true;
}

void SleepMilliseconds(uint32_t milliseconds) {
    if (fault::SleepsSkipped()) return;
    Sleep(milliseconds);
}

bool ThreadSlot::Allocate() {
    DWORD index = TlsAlloc();
    if (index == TLS_OUT_OF_INDEXES) return false;
    key_ = index;
    allocated_ = true;
    return true;
}

void ThreadSlot::Free() {
    if (!allocated_) return;
    TlsFree(static_cast<DWORD>(key_));
    allocated_ = false;
}

int32_t ThreadSlot::Get() const {
    if (!allocated_) return 0;
    return static_cast<int32_t>(reinterpret_cast<intptr_t>(TlsGetValue(static_cast<DWORD>(key_))));
}

void ThreadSlot::Set(int32_t value) {
    if (!allocated_) return;
    TlsSetValue(static_cast<DWORD>(key_), reinterpret_cast<void*>(static_cast<intptr_t>(value)));
}

TimeZoneInfo GetTimeZoneInfo() {
    TIME_ZONE_INFORMATION zone;
    TimeZoneInfo info;
    DWORD state = GetTimeZoneInformation(&zone);
    switch (state) {
        case TIME_ZONE_ID_UNKNOWN:
            info.state = TimeZoneInfo::kUnknown;
            break;
        case TIME_ZONE_ID_STANDARD:
            info.state = TimeZoneInfo::kStandard;
            break;
        case TIME_ZONE_ID_DAYLIGHT:
            info.state = TimeZoneInfo::kDaylight;
            break;
        default:
            return info;
    }
    info.bias = zone.Bias;
    info.standard_bias = zone.StandardBias;
    info.daylight_bias = zone.DaylightBias;
    return info;
}

bool IsDaylightTimeAt(int64_t utc_seconds) {
    TIME_ZONE_INFORMATION zone;
    DWORD state = GetTimeZoneInformation(&zone);
    if (state != TIME_ZONE_ID_STANDARD && state != TIME_ZONE_ID_DAYLIGHT) return false;
    if (zone.DaylightDate.wMonth == 0 || zone.DaylightBias == zone.StandardBias) return false;
    constexpr int64_t kTicksPerSecond = 10000000;
    constexpr int64_t kEarliest = -static_cast<int64_t>(kFileTimeUnixEpoch / kTicksPerSecond);
    constexpr int64_t kLatest = 28000LL * 365 * 86400;  // well inside what SYSTEMTIME can hold
    if (utc_seconds < kEarliest || utc_seconds > kLatest) return false;
    const uint64_t utc_ticks = kFileTimeUnixEpoch + utc_seconds * kTicksPerSecond;
    FILETIME utc_file;
    utc_file.dwLowDateTime = static_cast<DWORD>(utc_ticks);
    utc_file.dwHighDateTime = static_cast<DWORD>(utc_ticks >> 32);
    SYSTEMTIME utc, local;
    FILETIME local_file;
    if (!FileTimeToSystemTime(&utc_file, &utc) ||
        !SystemTimeToTzSpecificLocalTime(&zone, &utc, &local) ||
        !SystemTimeToFileTime(&local, &local_file)) {
        return false;
    }
    // The system applies the zone's rules; the offset it chose tells which time was in force.
    const int64_t offset_minutes =
        (static_cast<int64_t>(ToFileTime(local_file)) - static_cast<int64_t>(utc_ticks)) /
        (60 * kTicksPerSecond);
    return offset_minutes == -(static_cast<int64_t>(zone.Bias) + zone.DaylightBias);
}

MutexHandle CreateMutexHandle() {
    return CreateMutexA(nullptr, FALSE, nullptr);
}

bool CloseMutexHandle(MutexHandle handle) {
    return CloseHandle(handle) != 0;
}

WaitResult WaitForMutex(MutexHandle handle, uint32_t milliseconds) {
    switch (WaitForSingleObject(handle, milliseconds)) {
        case WAIT_OBJECT_0:
            return WaitResult::kAcquired;
        case WAIT_ABANDONED:
            return WaitResult::kAbandoned;
        case WAIT_TIMEOUT:
            return WaitResult::kTimedOut;
        default:
            return WaitResult::kFailed;
    }
}

bool ReleaseMutexHandle(MutexHandle handle) {
    return ReleaseMutex(handle) != 0;
}

std::string ExecutablePath() {
    char buffer[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, buffer, sizeof buffer);
    if (length == 0 || length >= sizeof buffer) return std::string();
    return std::string(buffer, length);
}

}  // namespace cv

namespace cv {

const char* ExecutableSuffix() {
    return ".exe";
}

std::string TemporaryFolder() {
    char buffer[MAX_PATH + 1];
    DWORD length = GetTempPathA(sizeof buffer, buffer);
    if (length == 0 || length > sizeof buffer) return ".";
    std::string result(buffer, length);
    while (result.size() > 3 && (result.back() == '\\' || result.back() == '/')) result.pop_back();
    return result;
}

uint32_t CurrentProcessId() {
    return GetCurrentProcessId();
}

bool SetProcessEnvironment(const char* name, const char* value) {
    // Both the system's copy and the C runtime's, so that getenv sees the change too.
    std::string assignment = std::string(name) + "=" + (value ? value : "");
    return SetEnvironmentVariableA(name, value) != 0 && _putenv(assignment.c_str()) == 0;
}

bool DynamicLibrary::Open(const char* path) {
    Close();
    handle_ = LoadLibraryA(path);
    if (handle_ == nullptr) {
        error_ = "LoadLibrary failed with error " + std::to_string(GetLastError());
        return false;
    }
    error_.clear();
    return true;
}

void* DynamicLibrary::Symbol(const char* name) const {
    return handle_ ? reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name))
                   : nullptr;
}

void* DynamicLibrary::Ordinal(unsigned ordinal) const {
    return handle_ ? reinterpret_cast<void*>(
                         GetProcAddress(static_cast<HMODULE>(handle_), MAKEINTRESOURCEA(ordinal)))
                   : nullptr;
}

void DynamicLibrary::Close() {
    if (handle_) FreeLibrary(static_cast<HMODULE>(handle_));
    handle_ = nullptr;
}

}  // namespace cv

namespace cv {
namespace {

// One argument quoted for CommandLineToArgvW's rules, so that the child sees it unchanged.
std::string QuoteArgument(const std::string& argument) {
    if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos) return argument;
    std::string quoted = "\"";
    size_t backslashes = 0;
    for (char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        if (c == '"')
            quoted.append(backslashes * 2 + 1, '\\');
        else
            quoted.append(backslashes, '\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, '\\');
    quoted += '"';
    return quoted;
}

}  // namespace

ChildProcess::~ChildProcess() {
    if (handle_ != 0) Wait();
}

bool ChildProcess::Start(const std::vector<std::string>& arguments) {
    if (arguments.empty() || handle_ != 0) return false;
    std::string command_line;
    for (const std::string& a : arguments) {
        if (!command_line.empty()) command_line += ' ';
        command_line += QuoteArgument(a);
    }
    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info;
    if (!CreateProcessA(arguments[0].c_str(), &command_line[0], nullptr, nullptr, TRUE, 0, nullptr,
                        nullptr, &startup, &info)) {
        return false;
    }
    CloseHandle(info.hThread);
    handle_ = reinterpret_cast<intptr_t>(info.hProcess);
    return true;
}

int ChildProcess::Wait() {
    if (handle_ == 0) return -1;
    HANDLE process = reinterpret_cast<HANDLE>(handle_);
    handle_ = 0;
    WaitForSingleObject(process, INFINITE);
    DWORD code = 0;
    BOOL got = GetExitCodeProcess(process, &code);
    CloseHandle(process);
    return got ? static_cast<int>(code) : -1;
}

void ChildProcess::Kill() {
    if (handle_ != 0) TerminateProcess(reinterpret_cast<HANDLE>(handle_), 137);
}

unsigned ChildProcess::id() const {
    return handle_ != 0 ? GetProcessId(reinterpret_cast<HANDLE>(handle_)) : 0;
}

}  // namespace cv
