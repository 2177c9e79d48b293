#include "common/xMutexLock.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

namespace cv {
namespace {

// The message of the failure that taking the lock throws, or "".
std::string LockFailure(MutexHandle handle, uint32_t wait_ms) {
    try {
        xMutexLock lock(handle, wait_ms);
    } catch (const xMutexLock::Exception& e) {
        EXPECT_EQ("xMutexLock", e.file());
        return e.message();
    }
    return "";
}

bool FreeForOthers(MutexHandle handle) {
    bool acquired = false;
    std::thread([&] {
        acquired = WaitForMutex(handle, 0) == WaitResult::kAcquired;
        if (acquired) ReleaseMutexHandle(handle);
    }).join();
    return acquired;
}

TEST(xMutexLock, HoldsAndReleasesRecursivelyAndIgnoresANullHandle) {
    xMutexLock none(nullptr, kWaitInfinite);
    MutexHandle handle = CreateMutexHandle();
    ASSERT_NE(nullptr, handle);
    {
        xMutexLock outer(handle, kWaitInfinite);
        xMutexLock inner(handle, 0);  // the owner may take it again
        EXPECT_FALSE(FreeForOthers(handle));
    }
    EXPECT_TRUE(FreeForOthers(handle));
    std::string message;
    try {
        xMutexLock lock(handle, 0);
        ReleaseMutexHandle(handle);  // pulled from under the lock: its own release must fail
    } catch (const xMutexLock::Exception& e) {
        message = e.message();
    }
    EXPECT_EQ(0u, message.find("Failed to unlock mutex "));
    CloseMutexHandle(handle);
}

TEST(xMutexLock, ReportsATimeoutAnInvalidHandleAndAnAbandonedMutex) {
    MutexHandle handle = CreateMutexHandle();
    ASSERT_NE(nullptr, handle);
    const std::string decimal = std::to_string(reinterpret_cast<uintptr_t>(handle));
    ASSERT_EQ(WaitResult::kAcquired, WaitForMutex(handle, 0));
    std::string message;
    std::thread([&] { message = LockFailure(handle, 0); }).join();
    EXPECT_EQ("Failed to lock mutex " + decimal + ": request timed out", message);
    ReleaseMutexHandle(handle);
    std::thread([&] { WaitForMutex(handle, kWaitInfinite); }).join();  // ends holding it
    EXPECT_EQ("Mutex " + decimal + " was abandoned by another thread",
              LockFailure(handle, kWaitInfinite));
    EXPECT_TRUE(FreeForOthers(handle));  // the failed lock gave the mutex back
    CloseMutexHandle(handle);
    EXPECT_EQ("Failed to lock mutex " + decimal + " with error 6", LockFailure(handle, 0));
}

}  // namespace
}  // namespace cv
