// The counter behind the fault switch (compiled into the fault-test variant of the core only).
#include "platform/fault_injection.h"

#include <atomic>

#if !defined(CVAICP_FAULT_INJECTION)
#error "fault_injection.cpp belongs to the fault-test build only"
#endif

namespace cv {
namespace fault {
namespace {

// Process-wide: a call may do its file work on any thread, and tests arm the switch from theirs.
std::atomic<long> g_count{0};
std::atomic<long> g_fail_at{0};
std::atomic<bool> g_sticky{false};
std::atomic<long> g_injected{0};
std::atomic<int> g_first{static_cast<int>(Operation::kOpenRead)};
std::atomic<bool> g_skip_sleeps{false};

void Arm(long n, bool sticky) {
    g_fail_at = n;
    g_sticky = sticky;
    g_count = 0;
    g_injected = 0;
}

}  // namespace

bool ShouldFail(Operation operation) {
    long number = ++g_count;
    long fail_at = g_fail_at.load();
    if (fail_at <= 0) return false;
    if (number != fail_at && !(g_sticky.load() && number > fail_at)) return false;
    if (++g_injected == 1) g_first = static_cast<int>(operation);
    return true;
}

bool SleepsSkipped() {
    return g_skip_sleeps.load();
}

void FailNthOperation(long n) {
    Arm(n, false);
}

void FailFromOperation(long n) {
    Arm(n, true);
}

void Disarm() {
    g_fail_at = 0;
    g_sticky = false;
}

long OperationsSoFar() {
    return g_count.load();
}

long FaultsInjected() {
    return g_injected.load();
}

Operation FirstFailedOperation() {
    return static_cast<Operation>(g_first.load());
}

const char* OperationName(Operation operation) {
    switch (operation) {
        case Operation::kOpenRead:
            return "open to read";
        case Operation::kOpenWrite:
            return "open to write";
        case Operation::kRead:
            return "read";
        case Operation::kWrite:
            return "write";
        case Operation::kClose:
            return "close";
        case Operation::kCreateNew:
            return "create-new";
        case Operation::kRemove:
            return "remove";
        case Operation::kCopy:
            return "copy";
        case Operation::kMove:
            return "move";
        case Operation::kReplace:
            return "replace";
        case Operation::kMakeDirectory:
            return "make-directory";
        case Operation::kAttributes:
            return "attributes";
        case Operation::kLookup:
            return "lookup";
        case Operation::kSearch:
            return "search";
    }
    return "?";
}

void SkipSleeps(bool skip) {
    g_skip_sleeps = skip;
}

}  // namespace fault
}  // namespace cv
