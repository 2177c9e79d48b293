// A switch in the platform seam that makes one chosen file operation fail, so that tests can check
// what every call leaves on disk when the system refuses it a read, a write, a rename or a delete
// at any point.
//
// It exists only in builds compiled with CVAICP_FAULT_INJECTION, which is the variant of the core
// that the fault tests link (tests/faults). There the seam counts its file operations and fails
// the chosen one as the system would: false or no handle, with a plausible system error. The
// product library is compiled without the definition: its hook is the constant false below, and
// the seam compiles to what it would be without it.
#pragma once

#include <cstdint>

namespace cv {
namespace fault {

// The file operations of the seam that are counted and can be made to fail.
enum class Operation {
    kOpenRead,       // File::Open to read
    kOpenWrite,      // File::Open to write or append
    kRead,           // File::Read
    kWrite,          // File::Write
    kClose,          // File::Close of an open file (the handle is closed all the same)
    kCreateNew,      // CreateNewFile
    kRemove,         // RemoveFile
    kCopy,           // CopyFileTo
    kMove,           // MoveFileTo
    kReplace,        // ReplaceFileWith
    kMakeDirectory,  // MakeDirectory
    kAttributes,     // SetAttributes, SetFileTimes
    kLookup,         // EntryExists
    kSearch,         // DirectorySearch::First and Next
};

// The system error a failed operation leaves behind: a read fault for what only looks, a write
// fault for what changes the disk. Neither means "missing", so callers that retry do retry.
inline uint32_t InjectedError(Operation operation) {
    switch (operation) {
        case Operation::kOpenRead:
        case Operation::kRead:
        case Operation::kLookup:
        case Operation::kSearch:
            return 30;  // ERROR_READ_FAULT
        default:
            return 29;  // ERROR_WRITE_FAULT
    }
}

#if defined(CVAICP_FAULT_INJECTION)

// Called by the seam at the top of each counted operation: counts it and answers whether it is
// to fail.
bool ShouldFail(Operation operation);
// Whether the seam's sleeps (and the waits of a FolderWatch) return at once. The waits of the
// blocking files count at least the time they asked for, so they end after as many steps all the
// same.
bool SleepsSkipped();

// Starts counting afresh; the nth operation from now (counted from 1) fails, and only that one.
// 0 or less: none fails, the operations are only counted.
void FailNthOperation(long n);
// Starts counting afresh; the nth operation from now and every one after it fail, as on a disk
// that has gone away.
void FailFromOperation(long n);
// No operation fails any more; the count goes on.
void Disarm();
// Operations counted since the last FailNthOperation or FailFromOperation.
long OperationsSoFar();
// Operations made to fail since then.
long FaultsInjected();
// The first operation made to fail since then: the fault point's own.
Operation FirstFailedOperation();
const char* OperationName(Operation operation);
void SkipSleeps(bool skip);

#else

constexpr bool ShouldFail(Operation) {
    return false;
}
constexpr bool SleepsSkipped() {
    return false;
}

#endif

}  // namespace fault
}  // namespace cv
