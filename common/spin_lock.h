// A lock that needs no setting up and cannot fail, for the library's few process-wide guards.
//
// The library runs inside a foreign host, so the standard mutex will not do: on Windows it comes
// from a threading runtime that is created lazily, can fail (with an exception) on first use and
// leaks at every unload. The guards here protect work that callers are meant to run one at a time
// anyway (one listing, one remote exchange per process), so a waiter that is rarely there can
// afford to wait in short sleeps; in return the lock is one word, constant-initialised, with
// nothing to create or destroy.
#pragma once

#include <atomic>

#include "platform/platform.h"

namespace cv {

class SpinLock {
  public:
    constexpr SpinLock() = default;
    SpinLock(const SpinLock&) = delete;
    SpinLock& operator=(const SpinLock&) = delete;

    void Lock() {
        for (unsigned tries = 0; taken_.exchange(true, std::memory_order_acquire); ++tries) {
            // Give the holder the processor first; a holder that stays (a remote call that waits
            // for its reply) is then polled once a millisecond.
            SleepMilliseconds(tries < 16 ? 0 : 1);
        }
    }
    void Unlock() { taken_.store(false, std::memory_order_release); }

  private:
    std::atomic<bool> taken_{false};
};

// Holds a SpinLock for a scope.
class SpinLockHold {
  public:
    explicit SpinLockHold(SpinLock& lock) : lock_(lock) { lock_.Lock(); }
    ~SpinLockHold() { lock_.Unlock(); }
    SpinLockHold(const SpinLockHold&) = delete;
    SpinLockHold& operator=(const SpinLockHold&) = delete;

  private:
    SpinLock& lock_;
};

}  // namespace cv
