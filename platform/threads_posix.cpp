// POSIX side of the seam's threads: sleeping, a per-thread slot, and Win32-like mutex handles.
#include <errno.h>
#include <pthread.h>
#include <time.h>

#include <atomic>
#include <mutex>
#include <set>

#include "platform/fault_injection.h"
#include "platform/platform.h"
#include "platform/seam_posix.h"

namespace cv {
using posix::TranslateErrno;

void SleepMilliseconds(uint32_t milliseconds) {
    if (fault::SleepsSkipped()) return;
    struct timespec wait = {static_cast<time_t>(milliseconds / 1000),
                            static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&wait, &wait) != 0 && errno == EINTR) {
    }
}

bool ThreadSlot::Allocate() {
    pthread_key_t key;
    if (pthread_key_create(&key, nullptr) != 0) return false;
    key_ = static_cast<uintptr_t>(key);
    allocated_ = true;
    return true;
}

void ThreadSlot::Free() {
    if (!allocated_) return;
    pthread_key_delete(static_cast<pthread_key_t>(key_));
    allocated_ = false;
}

int32_t ThreadSlot::Get() const {
    if (!allocated_) return 0;
    return static_cast<int32_t>(
        reinterpret_cast<intptr_t>(pthread_getspecific(static_cast<pthread_key_t>(key_))));
}

void ThreadSlot::Set(int32_t value) {
    if (!allocated_) return;
    pthread_setspecific(static_cast<pthread_key_t>(key_),
                        reinterpret_cast<void*>(static_cast<intptr_t>(value)));
}

namespace {

// A Win32 mutex in POSIX terms: recursive, and robust, so that a holder that ends without releasing
// it hands the next waiter EOWNERDEAD, which is what Windows calls abandoned. Handles are checked
// against the set of live ones, so that a closed or invented handle fails with error 6 instead of
// touching freed memory.
//
// The owner is kept beside the mutex: releasing a mutex that the caller does not hold is refused
// (ERROR_NOT_OWNER, as Windows answers) without asking the system to unlock it, which POSIX leaves
// undefined for a mutex held by another thread or by nobody.
struct NativeMutex {
    pthread_mutex_t mutex;
    std::atomic<pthread_t> owner{0};
    uint32_t depth = 0;  // recursive acquisitions by the owner; touched only by the owner
};

// Records the calling thread as the owner of a mutex it has just acquired.
void TakeOwnership(NativeMutex* m, bool abandoned) {
    if (abandoned) m->depth = 0;  // the previous owner's count died with it
    if (m->depth++ == 0) m->owner.store(pthread_self());
}

std::mutex g_handles_guard;
std::set<MutexHandle>& LiveHandles() {
    static std::set<MutexHandle> handles;
    return handles;
}

NativeMutex* Lookup(MutexHandle handle) {
    std::lock_guard<std::mutex> hold(g_handles_guard);
    return LiveHandles().count(handle) ? static_cast<NativeMutex*>(handle) : nullptr;
}

}  // namespace

MutexHandle CreateMutexHandle() {
    auto* m = new NativeMutex;
    pthread_mutexattr_t attributes;
    pthread_mutexattr_init(&attributes);
    pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutexattr_setrobust(&attributes, PTHREAD_MUTEX_ROBUST);
    int result = pthread_mutex_init(&m->mutex, &attributes);
    pthread_mutexattr_destroy(&attributes);
    if (result != 0) {
        delete m;
        SetLastSystemError(kErrorNotEnoughMemory);
        return nullptr;
    }
    std::lock_guard<std::mutex> hold(g_handles_guard);
    LiveHandles().insert(m);
    return m;
}

bool CloseMutexHandle(MutexHandle handle) {
    NativeMutex* m;
    {
        std::lock_guard<std::mutex> hold(g_handles_guard);
        if (LiveHandles().erase(handle) == 0) {
            SetLastSystemError(kErrorInvalidHandle);
            return false;
        }
        m = static_cast<NativeMutex*>(handle);
    }
    pthread_mutex_destroy(&m->mutex);
    delete m;
    return true;
}

WaitResult WaitForMutex(MutexHandle handle, uint32_t milliseconds) {
    NativeMutex* m = Lookup(handle);
    if (m == nullptr) {
        SetLastSystemError(kErrorInvalidHandle);
        return WaitResult::kFailed;
    }
    int result;
    if (milliseconds == kWaitInfinite) {
        result = pthread_mutex_lock(&m->mutex);
    } else if (milliseconds == 0) {
        result = pthread_mutex_trylock(&m->mutex);
    } else {
        struct timespec deadline;
        clock_gettime(CLOCK_REALTIME, &deadline);
        deadline.tv_sec += milliseconds / 1000;
        deadline.tv_nsec += static_cast<long>(milliseconds % 1000) * 1000000L;
        if (deadline.tv_nsec >= 1000000000L) {
            deadline.tv_sec += 1;
            deadline.tv_nsec -= 1000000000L;
        }
        result = pthread_mutex_timedlock(&m->mutex, &deadline);
    }
    switch (result) {
        case 0:
            TakeOwnership(m, false);
            return WaitResult::kAcquired;
        case EBUSY:
        case ETIMEDOUT:
            return WaitResult::kTimedOut;
        case EOWNERDEAD:
            pthread_mutex_consistent(&m->mutex);
            TakeOwnership(m, true);
            return WaitResult::kAbandoned;
        default:
            SetLastSystemError(TranslateErrno(result, ""));
            return WaitResult::kFailed;
    }
}

bool ReleaseMutexHandle(MutexHandle handle) {
    NativeMutex* m = Lookup(handle);
    if (m == nullptr) {
        SetLastSystemError(kErrorInvalidHandle);
        return false;
    }
    if (!pthread_equal(m->owner.load(), pthread_self())) {  // then depth is the caller's own
        SetLastSystemError(kErrorNotOwner);
        return false;
    }
    if (--m->depth == 0) m->owner.store(0);
    int result = pthread_mutex_unlock(&m->mutex);
    if (result != 0) {
        SetLastSystemError(result == EPERM ? kErrorNotOwner : TranslateErrno(result, ""));
        return false;
    }
    return true;
}
}  // namespace cv
