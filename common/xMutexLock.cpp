#include "common/xMutexLock.h"

#include <exception>
#include <sstream>

namespace cv {
namespace {

// Where each failure says it was raised: a source name and a line number that logs and the
// callers that report these exceptions have always shown. They are fixed values, not this file's
// own lines, so that editing the file does not change what a failure reports.
constexpr const char* kSourceFile = "xMutexLock";
constexpr int32_t kTimedOutLine = 71;
constexpr int32_t kAbandonedLine = 78;
constexpr int32_t kWaitFailedLine = 86;
constexpr int32_t kReleaseFailedLine = 127;

// The wait result in the lock's own codes.
enum WaitCode { kWaitFailed = 0, kWaitAcquired = 1, kWaitTimedOut = 2, kWaitAbandoned = 3 };

WaitCode Wait(MutexHandle handle, uint32_t wait_ms) {
    switch (WaitForMutex(handle, wait_ms)) {
        case WaitResult::kAcquired:
            return kWaitAcquired;
        case WaitResult::kTimedOut:
            return kWaitTimedOut;
        case WaitResult::kAbandoned:
            return kWaitAbandoned;
        case WaitResult::kFailed:
            break;
    }
    return kWaitFailed;
}

uintptr_t HandleValue(MutexHandle handle) {
    return reinterpret_cast<uintptr_t>(handle);
}

}  // namespace

xMutexLock::xMutexLock(MutexHandle handle, uint32_t wait_ms) : handle_(handle), wait_ms_(wait_ms) {
    if (handle_ == nullptr) return;
    WaitCode code = Wait(handle_, wait_ms_);
    if (code == kWaitAcquired) return;
    std::ostringstream message;
    int32_t line = 0;
    if (code == kWaitTimedOut) {
        message << "Failed to lock mutex " << HandleValue(handle_) << ": request timed out";
        line = kTimedOutLine;
    } else if (code == kWaitAbandoned) {
        // The system has handed the mutex over; this object will never be completed, so give it
        // back now rather than leave it owned by a thread that believes it failed.
        ReleaseMutexHandle(handle_);
        message << "Mutex " << HandleValue(handle_) << " was abandoned by another thread";
        line = kAbandonedLine;
    } else {
        message << "Failed to lock mutex " << HandleValue(handle_) << " with error "
                << LastSystemError();
        line = kWaitFailedLine;
    }
    throw Exception(message.str(), kSourceFile, line);
}

xMutexLock::~xMutexLock() noexcept(false) {
    if (handle_ == nullptr) return;
    if (ReleaseMutexHandle(handle_)) return;
    uint32_t error = LastSystemError();
    if (std::uncaught_exceptions() > 0) return;
    std::ostringstream message;
    message << "Failed to unlock mutex " << HandleValue(handle_) << " with error " << error;
    throw Exception(message.str(), kSourceFile, kReleaseFailedLine);
}

}  // namespace cv
