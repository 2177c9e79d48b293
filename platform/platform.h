// The platform seam: every call into the operating system that the provider makes goes through
// this header. Files named after their job implement it, *_win32.cpp on the Win32 API and
// *_posix.cpp on POSIX: file (File), file_operations (whole files and folders by name),
// directory_search, folder_watch, time_zone (clock, dates, zone), threads (sleep, thread slot,
// mutex handles), process; the POSIX ones share seam_posix.h. What only our hosts and the tests
// need from the system is host_platform.h, which the DLL does not link.
//
// Paths are composed by the portable code exactly as the store lays them out on Windows, with
// backslashes; the POSIX side turns every backslash into a slash (and a leading "Z:" drive, which
// Wine maps to the file-system root, into nothing) before it calls the system, so that one store
// configuration serves both builds. Directory searches match names without regard to case on both
// sides, as Windows does.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace cv {

// Win32 error codes, the vocabulary in which the portable code reasons about failures. The POSIX
// side maps errno onto them.
enum SystemError : uint32_t {
    kErrorSuccess = 0,
    kErrorFileNotFound = 2,
    kErrorPathNotFound = 3,
    kErrorAccessDenied = 5,
    kErrorInvalidHandle = 6,
    kErrorNotEnoughMemory = 8,
    kErrorNoMoreFiles = 18,
    kErrorWriteFault = 29,
    kErrorReadFault = 30,
    kErrorSharingViolation = 32,
    kErrorFileExists = 80,
    kErrorInvalidParameter = 87,
    kErrorDiskFull = 112,
    kErrorInvalidName = 123,
    kErrorDirNotEmpty = 145,
    kErrorAlreadyExists = 183,
    kErrorFilenameTooLong = 206,
    kErrorNotOwner = 288,
};

// The calling thread's last system error, as GetLastError reports it.
uint32_t LastSystemError();
void SetLastSystemError(uint32_t error);

// File attributes, with the Win32 bit values.
enum : uint32_t {
    kAttributeReadOnly = 0x01,
    kAttributeDirectory = 0x10,
    kAttributeNormal = 0x80,
};

// Windows FILETIME: 100-nanosecond ticks since 1601-01-01 00:00 UTC.
using FileTime = uint64_t;
constexpr FileTime kFileTimeUnixEpoch = 116444736000000000ULL;

class FolderHandle;

// An open file. Reads and writes are unbuffered: callers build what they write in memory and hand
// it over in one piece. Other parties may read, write, delete and rename the file while it is
// open, as on a shared disk where a reader must never keep a writer from replacing a file.
// What tells one state of a file from another: a number that tells the file from any other on the
// machine while it exists (device and inode; volume and file index: a file replaced by another
// under the same name gets another), its size and its last-write time.
struct FileState {
    uint64_t identity = 0;
    int64_t size = -1;
    FileTime written = 0;
};

class File {
  public:
    enum class Mode {
        kRead,           // existing file, read only
        kReadQuick,      // the same, for a reader that takes a short read for the end of the
                         // file (regular files give one only there, or before a failing part):
                         // no further call confirms it, and the open looks at nothing more, so on
                         // POSIX a folder opens and its first read fails (access denied)
        kWriteTruncate,  // created or cut to zero length, write only
        kAppend,         // created when missing, every write goes to the end
        kWriteExisting,  // existing file, write only: never created
    };

    File() = default;
    ~File() { Close(); }
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    // `folder`, where given, is a folder held open: a file directly inside it is looked up there
    // by its own name alone (see FolderHandle).
    bool Open(const char* path, Mode mode, const FolderHandle* folder = nullptr);
    bool IsOpen() const { return handle_ != kInvalid; }
    // The size the file had when it was opened for reading, where opening told it (kRead on
    // POSIX); -1 where it did not.
    int64_t SizeAtOpen() const { return size_at_open_; }
    // Bytes read (0 at the end of the file); -1 on a read error. Reads until the buffer is full
    // or the end of the file is met, so a short count means the end.
    int64_t Read(void* buffer, size_t size);
    // True when every byte was written.
    bool Write(const void* data, size_t size);
    bool Seek(int64_t offset);
    // Size of the open file in bytes, -1 on failure.
    int64_t Size();
    // Forces written data to the disk.
    bool Sync();
    // Last-write time of the open file; of one opened for reading, where the opening told it
    // (kRead on POSIX), the time it had then.
    bool LastWriteTime(FileTime* time);
    // Which file this is and how it stands, in one call (see FileState).
    bool GetState(FileState* state);
    // False when closing reported an error (for a written file: data may not have reached the
    // disk).
    bool Close();

  private:
    static constexpr intptr_t kInvalid = -1;
    intptr_t handle_ = kInvalid;
    // Where the platform tells it when the file is opened for reading (POSIX looks at the file
    // then anyway): its size at that moment, and the offset reading has reached. A read that stops
    // short at that size has met the end without a further call to say so. -1: not known.
    int64_t size_at_open_ = -1;
    FileTime written_at_open_ = 0;  // 0: not known
    int64_t offset_ = 0;
    bool short_is_end_ = false;  // kReadQuick
};

// A folder kept open while many files directly inside it are opened, as a scan of a whole folder
// does. On POSIX an opening through it looks up the file's own name in it instead of walking the
// whole path again, and fails over to the whole path (which also finds a case twin) when that
// does not find the file. Windows has no such look-up: there Open gives false, and files open by
// their whole paths. A folder moved away while held is still the one its files are opened in.
class FolderHandle {
  public:
    FolderHandle() = default;
    ~FolderHandle() { Close(); }
    FolderHandle(const FolderHandle&) = delete;
    FolderHandle& operator=(const FolderHandle&) = delete;

    bool Open(const char* path);
    void Close();
    bool IsOpen() const { return handle_ != kInvalid; }

  private:
    friend class File;
    // Where `path` names an entry directly inside this folder, that entry's name (in `path`).
    const char* NameInside(const char* path) const;

    static constexpr intptr_t kInvalid = -1;
    intptr_t handle_ = kInvalid;
    std::string path_;  // as given to Open
};

// Creates the file only when it does not exist yet (write access, no sharing) and closes it at
// once. The atomic create-if-new is what the blocking files rest on.
bool CreateNewFile(const char* path);
bool RemoveFile(const char* path);
// Copies a file, replacing the target unless fail_if_exists is set.
bool CopyFileTo(const char* from, const char* to, bool fail_if_exists);
// CopyFileTo(from, to, false), for a caller that holds every byte of `from` in `content` and
// knows the file unchanged since it read them (it holds the file against every writer). Where a
// copy is the bytes alone and a replaced target keeps its own permissions (POSIX), an existing
// target takes them from there, without reading the file again; a target made new, and every copy
// on Windows (whose copy also carries the file's times and attributes), is copied from the file.
bool CopyHeldFile(const char* from, std::string_view content, const char* to);
// Renames a file over an existing target in one atomic step (the target is never missing).
bool ReplaceFileWith(const char* from, const char* to);
// Creates one directory level; fails when it exists already.
bool MakeDirectory(const char* path);
bool RemoveFolder(const char* path);
bool SetAttributes(const char* path, uint32_t attributes);
// Sets creation (where the system keeps one), last-access and last-write time of a file.
bool SetFileTimes(const char* path, FileTime time);
// The current time as a FileTime.
FileTime CurrentFileTime();

// Whether a file or folder of exactly this name exists: one look-up, no search. (Natively the name
// is looked up in its own letter case, as files are opened; a directory search ignores case.)
bool EntryExists(const char* path);
// The size of a file looked up by its name, without opening it; false when there is no file of
// that name (or it is a folder).
bool FileSizeByName(const char* path, int64_t* size);

// One entry of a directory search.
struct FindData {
    std::string name;  // the entry's own name, without its folder
    uint32_t attributes = 0;
    FileTime last_write = 0;
    FileTime last_access = 0;
    uint64_t size = 0;
};

// A directory search over a path whose last component may hold the wildcards '*' and '?'. The
// search handle is closed when the object goes.
class DirectorySearch {
  public:
    DirectorySearch() = default;
    ~DirectorySearch();
    DirectorySearch(const DirectorySearch&) = delete;
    DirectorySearch& operator=(const DirectorySearch&) = delete;

    // What the search tells of each entry: all that FindData holds, or only its name and whether
    // it is a folder (the rest left 0), which is all that a caller who goes by the names needs.
    // POSIX then need not look up every entry a second time to fill the rest in.
    enum class Detail { kFull, kName };
    // The first match; false when nothing matches (the last system error tells why: 2 when the
    // folder holds no match, 3 when the folder is missing).
    bool First(const char* pattern, FindData* entry, Detail detail = Detail::kFull);
    // The next match; false at the end (last system error 18) or on failure.
    bool Next(FindData* entry);
    void Close();

  private:
    void* state_ = nullptr;
};

// MS-DOS date (high 16 bits) and time (low 16 bits) of a UTC file time; 0 when the time cannot be
// expressed (before 1980).
uint32_t FileTimeToDosStamp(FileTime time);

// The calendar date of an instant (seconds since 1970-01-01 00:00 UTC) in the machine's zone, as
// the C runtime's localtime gives it: year (e.g. 2005), month 1-12, day 1-31. False when the
// runtime has no date for it; the Windows runtime has none before 1970, so neither has this.
bool LocalDate(int64_t utc_seconds, int* year, int* month, int* day);

void SleepMilliseconds(uint32_t milliseconds);
// Milliseconds on a clock that no change of the system's time moves, from an arbitrary start and
// wrapping around after 49 days: only the difference of two readings means anything. Its ticks
// may be coarse (10 to 16 ms on Windows).
uint32_t MonotonicMilliseconds();

// A watch on the names in one folder, for a party that waits for a file of it to go: its waits end
// early when a file of the folder is made, removed or renamed, so that the waiter need not poll
// often to see it at once. Where the folder cannot be watched (the system has no watch left to
// give, a share sends no notices) the waits simply last their time. The watch ends with the object.
class FolderWatch {
  public:
    FolderWatch() = default;
    ~FolderWatch();
    FolderWatch(const FolderWatch&) = delete;
    FolderWatch& operator=(const FolderWatch&) = delete;

    // Watches the folder that holds the file `path`. False when it cannot be watched.
    bool Start(const char* path);
    // Sleeps for `milliseconds`, or less when a name in the folder came or went since Start or the
    // previous Wait. True when a change ended the sleep early.
    bool Wait(uint32_t milliseconds);

  private:
    static constexpr intptr_t kNone = -1;
    intptr_t handle_ = kNone;
};

// A writer that holds names of a folder against every other writer (a period's blocking file
// holds its period file, temporary copy and backup) marks the span with this scope: within it, the
// name under which a file it makes or replaces goes (the name given, or a case twin already
// there) is taken from what the system reported up to the scope's first look-up, not asked again
// each time. Whether an entry exists is always asked afresh. Where names are looked up by the
// system itself (Windows), the scope does nothing. Scopes nest; each is the calling thread's.
class HeldNamesScope {
  public:
    HeldNamesScope();
    ~HeldNamesScope();
    HeldNamesScope(const HeldNamesScope&) = delete;
    HeldNamesScope& operator=(const HeldNamesScope&) = delete;
};

// A thread-local slot holding one 32-bit value per thread, 0 for a thread that never set it.
class ThreadSlot {
  public:
    bool Allocate();
    void Free();
    int32_t Get() const;
    void Set(int32_t value);

  private:
    uintptr_t key_ = 0;
    bool allocated_ = false;
};

// The zone information that date conversion needs, in GetTimeZoneInformation's terms: biases in
// minutes, UTC = local + bias. A snapshot: a run of conversions (the index scan converts several
// dates per item) takes it once instead of asking the system for every date.
struct TimeZoneInfo {
    enum State { kInvalid, kUnknown, kStandard, kDaylight };
    State state = kInvalid;
    int32_t bias = 0;
    int32_t standard_bias = 0;
    int32_t daylight_bias = 0;
    // The changeover rules as GetTimeZoneInformation gives them (its StandardDate and
    // DaylightDate, eight 16-bit fields each), so that IsDaylightTimeAt answers from the snapshot.
    // Unused natively, where the C library keeps the zone's rules itself.
    uint16_t standard_date[8] = {};
    uint16_t daylight_date[8] = {};
};
TimeZoneInfo GetTimeZoneInfo();
// Whether daylight-saving time is in force at an instant (seconds since 1970-01-01 00:00 UTC) by
// the rules of the machine's zone as GetTimeZoneInfo last took them: the C library's zone data
// natively, the rules of the snapshot on Windows.
bool IsDaylightTimeAt(const TimeZoneInfo& zone, int64_t utc_seconds);

// A mutex handle as the Win32 API knows it: recursive, owned by a thread, and reported abandoned
// to the next waiter when its owner ends without releasing it.
using MutexHandle = void*;
enum class WaitResult { kFailed, kAcquired, kTimedOut, kAbandoned };
constexpr uint32_t kWaitInfinite = 0xFFFFFFFFu;
MutexHandle CreateMutexHandle();
bool CloseMutexHandle(MutexHandle handle);
WaitResult WaitForMutex(MutexHandle handle, uint32_t milliseconds);
bool ReleaseMutexHandle(MutexHandle handle);

// Full path of the running executable, empty when unknown.
std::string ExecutablePath();

uint32_t CurrentProcessId();

// The value of a variable of the process's environment, NUL-terminated in `value`; false when the
// variable is not set, is empty or does not fit `size`.
bool EnvironmentValue(const char* name, char* value, size_t size);
}  // namespace cv
