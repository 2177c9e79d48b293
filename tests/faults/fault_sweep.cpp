// The switches (the seam's for file operations, this file's for allocations), the sweep that drives
// them, and a test of the file switch itself: it fails exactly the chosen operations, as the
// system would fail them.
#include "tests/faults/fault_sweep.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>

#include "platform/fault_injection.h"
#include "platform/platform.h"
#include "tests/support/test_store.h"

namespace {

// The allocation switch: the executable replaces the global operator new (which the nothrow forms
// call too) with one that counts and, when armed, throws std::bad_alloc at the nth allocation.
std::atomic<bool> g_armed{false};
std::atomic<long> g_count{0};
std::atomic<long> g_fail_at{0};
std::atomic<long> g_injected{0};

bool AllocationShouldFail() {
    if (!g_armed || ++g_count != g_fail_at) return false;
    ++g_injected;
    return true;
}

}  // namespace

void* operator new(std::size_t size) {
    if (AllocationShouldFail()) throw std::bad_alloc();
    void* block = std::malloc(size == 0 ? 1 : size);
    if (block == nullptr) throw std::bad_alloc();
    return block;
}
// Kept out of line: inlined next to a new-expression in this file, the free() would look to the
// compiler like a mismatched release.
__attribute__((noinline)) void operator delete(void* block) noexcept {
    std::free(block);
}
__attribute__((noinline)) void operator delete(void* block, std::size_t) noexcept {
    std::free(block);
}

namespace cv {
namespace testing {

long SweepFaults(const std::function<void()>& setup, const std::function<int32_t()>& call,
                 const std::function<void(int32_t)>& check, FaultKind kind) {
    const bool allocations = kind == FaultKind::kAllocation;
    // Sets up, arms the switch to fail the nth (0: only count), runs the call and disarms.
    auto run = [&](long n) {
        setup();
        if (kind == FaultKind::kFromThenOn) {
            fault::FailFromOperation(n);
        } else {
            fault::FailNthOperation(allocations ? 0 : n);
        }
        g_count = g_injected = 0;
        g_fail_at = n;
        g_armed = allocations;
        int32_t result = call();
        fault::Disarm();
        g_armed = false;
        return result;
    };
    auto injected = [&] { return allocations ? g_injected.load() : fault::FaultsInjected(); };
    fault::SkipSleeps(true);
    run(0);
    const long total = allocations ? g_count.load() : fault::OperationsSoFar();
    // No operation counted: the executable was linked against the product core, not the variant
    // with the switch, and every point below would pass without testing anything. (A call may
    // well allocate nothing.)
    if (!allocations) {
        EXPECT_GT(total, 0) << "the call made no counted file operation";
    }
    long fired = 0;
    for (long n = 1; n <= total; ++n) {
        const int32_t result = run(n);
        SCOPED_TRACE((allocations ? "allocation " : "operation ") + std::to_string(n) + " of " +
                     std::to_string(total) + " fails" +
                     (allocations ? ""
                                  : std::string(" (") +
                                        fault::OperationName(fault::FirstFailedOperation()) + ")") +
                     (kind == FaultKind::kFromThenOn ? ", and every one after it" : ""));
        // The undisturbed run reached operation n, and the disturbed one runs the same way up to
        // it: the fault must have fired. Allocations depend also on what the caches hold (folder
        // listings), so a run may end before its nth; some must fire all the same.
        if (!allocations) {
            EXPECT_GE(injected(), 1);
        }
        fired += injected() > 0 ? 1 : 0;
        check(result);
    }
    EXPECT_EQ(total > 0, fired > 0) << "no fault fired";
    fault::SkipSleeps(false);
    return total;
}

namespace {

TEST(FaultSwitchTest, FailsTheChosenOperationsOnlyAndTheFileStaysUntouched) {
    TempFolder folder;
    const std::string path = folder.Join("file");
    fault::FailNthOperation(2);
    EXPECT_TRUE(CreateNewFile(path.c_str()));
    EXPECT_FALSE(RemoveFile(path.c_str()));
    EXPECT_EQ(uint32_t{kErrorWriteFault}, LastSystemError());
    EXPECT_TRUE(EntryExists(path.c_str()));  // the failed removal did nothing
    File file;
    EXPECT_TRUE(file.Open(path.c_str(), File::Mode::kWriteTruncate));
    EXPECT_EQ(4, fault::OperationsSoFar());
    EXPECT_EQ(1, fault::FaultsInjected());
    EXPECT_EQ(fault::Operation::kRemove, fault::FirstFailedOperation());
    // A written file whose close fails may not have reached the disk: the close says so, and the
    // handle is gone all the same.
    ASSERT_TRUE(file.Write("abc", 3));
    fault::FailNthOperation(1);
    EXPECT_FALSE(file.Close());
    EXPECT_FALSE(file.IsOpen());
    // From then on every operation fails, until disarmed.
    fault::FailFromOperation(1);
    EXPECT_FALSE(file.Open(path.c_str(), File::Mode::kWriteTruncate));
    EXPECT_EQ(uint32_t{kErrorWriteFault}, LastSystemError());
    EXPECT_FALSE(CreateNewFile(folder.Join("new").c_str()));
    DirectorySearch search;
    FindData entry;
    EXPECT_FALSE(search.First(folder.Join("*").c_str(), &entry));
    EXPECT_EQ(3, fault::FaultsInjected());
    fault::Disarm();
    EXPECT_TRUE(CreateNewFile(folder.Join("new").c_str()));
    EXPECT_TRUE(search.First(folder.Join("*").c_str(), &entry));
}

}  // namespace
}  // namespace testing
}  // namespace cv
