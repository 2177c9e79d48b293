#include "common/xMutexLock.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

namespace cv {
namespace {

std::string Decimal(MutexHandle handle) {
    return std::to_string(reinterpret_cast<uintptr_t>(handle));
}

std::string LockFailure(MutexHandle handle, uint32_t wait_ms, int32_t* line) {
    try {
        xMutexLock lock(handle, wait_ms);
    } catch (const xMutexLock::Exception& e) {
        EXPECT_EQ("xMutexLock", e.file());
        *line = e.line();
        return e.message();
    }
    return "";
}

TEST(xMutexLock, NullHandleDoesNothing) {
    xMutexLock lock(nullptr, 0);
    xMutexLock again(nullptr, kWaitInfinite);
}

TEST(xMutexLock, HoldsAndReleasesRecursively) {
    MutexHandle handle = CreateMutexHandle();
    ASSERT_NE(nullptr, handle);
    {
        xMutexLock outer(handle, kWaitInfinite);
        xMutexLock inner(handle, 0);  // the owner may take it again
    }
    // Released: another thread gets it at once.
    bool acquired = false;
    std::thread([&] {
        acquired = WaitForMutex(handle, 0) == WaitResult::kAcquired;
        if (acquired) ReleaseMutexHandle(handle);
    }).join();
    EXPECT_TRUE(acquired);
    CloseMutexHandle(handle);
}

TEST(xMutexLock, TimesOutWhileAnotherThreadHoldsIt) {
    MutexHandle handle = CreateMutexHandle();
    ASSERT_NE(nullptr, handle);
    ASSERT_EQ(WaitResult::kAcquired, WaitForMutex(handle, 0));
    std::string message;
    int32_t line = 0;
    std::thread([&] { message = LockFailure(handle, 0, &line); }).join();
    EXPECT_EQ("Failed to lock mutex " + Decimal(handle) + ": request timed out", message);
    EXPECT_EQ(71, line);
    ReleaseMutexHandle(handle);
    CloseMutexHandle(handle);
}

TEST(xMutexLock, ReportsAnInvalidHandleWithTheSystemError) {
    MutexHandle handle = CreateMutexHandle();
    ASSERT_NE(nullptr, handle);
    CloseMutexHandle(handle);
    int32_t line = 0;
    EXPECT_EQ("Failed to lock mutex " + Decimal(handle) + " with error 6",
              LockFailure(handle, 0, &line));
    EXPECT_EQ(86, line);
}

TEST(xMutexLock, ReportsAMutexAbandonedByItsOwner) {
    MutexHandle handle = CreateMutexHandle();
    ASSERT_NE(nullptr, handle);
    std::thread([&] { WaitForMutex(handle, kWaitInfinite); }).join();  // ends holding it
    int32_t line = 0;
    EXPECT_EQ("Mutex " + Decimal(handle) + " was abandoned by another thread",
              LockFailure(handle, kWaitInfinite, &line));
    EXPECT_EQ(78, line);
    // The failed lock gave the mutex back: it is free for others.
    bool acquired = false;
    std::thread([&] {
        acquired = WaitForMutex(handle, 0) == WaitResult::kAcquired;
        if (acquired) ReleaseMutexHandle(handle);
    }).join();
    EXPECT_TRUE(acquired);
    CloseMutexHandle(handle);
}

TEST(xMutexLock, UnlockFailureIsThrownFromTheDestructor) {
    MutexHandle handle = CreateMutexHandle();
    ASSERT_NE(nullptr, handle);
    std::string message;
    try {
        xMutexLock lock(handle, 0);
        ReleaseMutexHandle(handle);  // pulled from under the lock: its own release must fail
    } catch (const xMutexLock::Exception& e) {
        message = e.message();
        EXPECT_EQ(127, e.line());
    }
    EXPECT_EQ(0u, message.find("Failed to unlock mutex " + Decimal(handle) + " with error "));
    CloseMutexHandle(handle);
}

TEST(xMutexLockException, CopiesCarryEqualFields) {
    xMutexLock::Exception original("m", "f", 3);
    xMutexLock::Exception copy = original;
    EXPECT_EQ("m", copy.message());
    EXPECT_EQ("f", copy.file());
    EXPECT_EQ(3, copy.line());
}

}  // namespace
}  // namespace cv
