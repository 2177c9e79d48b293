// Win32 side of the seam's threads: sleeping, a per-thread slot, and mutex handles.
#include "platform/platform.h"

#include <windows.h>

#include "platform/fault_injection.h"

namespace cv {

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
}  // namespace cv
