#include "tests/faults/fault_sweep.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "tests/faults/allocation_switch.h"

namespace cv {
namespace testing {

std::string FaultPoint::Describe() const {
    char text[160];
    if (kind == FaultKind::kAllocation) {
        std::snprintf(text, sizeof text, "allocation %ld of %ld fails", number, total);
    } else {
        std::snprintf(text, sizeof text, "operation %ld of %ld (%s) fails%s", number, total,
                      fault::OperationName(operation),
                      kind == FaultKind::kFromThenOn ? ", and every one after it" : "");
    }
    return text;
}

namespace {

// The switch of a kind of fault: armed to fail the nth (0: only count), then disarmed.
void Arm(FaultKind kind, long n) {
    switch (kind) {
        case FaultKind::kOnce:
            fault::FailNthOperation(n);
            break;
        case FaultKind::kFromThenOn:
            fault::FailFromOperation(n);
            break;
        case FaultKind::kAllocation:
            fault::FailNthOperation(0);
            allocation::FailNth(n);
            break;
    }
}

void Disarm(FaultKind kind) {
    fault::Disarm();
    if (kind == FaultKind::kAllocation) allocation::Disarm();
}

long Counted(FaultKind kind) {
    return kind == FaultKind::kAllocation ? allocation::SoFar() : fault::OperationsSoFar();
}

long Injected(FaultKind kind) {
    return kind == FaultKind::kAllocation ? allocation::Injected() : fault::FaultsInjected();
}

}  // namespace

long SweepFaults(const std::function<void()>& setup, const std::function<int32_t()>& call,
                 const std::function<void(const FaultPoint&, int32_t)>& check, FaultKind kind) {
    fault::SkipSleeps(true);
    setup();
    Arm(kind, 0);
    call();
    Disarm(kind);
    const long total = Counted(kind);
    // No operation counted: the executable was linked against the product core, not the variant
    // with the switch, and every point below would pass without testing anything. (A call may
    // well allocate nothing.)
    if (kind != FaultKind::kAllocation) {
        EXPECT_GT(total, 0) << "the call made no counted file operation";
    }

    long tried = 0;
    long fired = 0;
    for (long n = 1; n <= total; ++n) {
        setup();
        Arm(kind, n);
        int32_t result = call();
        Disarm(kind);
        FaultPoint point;
        point.number = n;
        point.total = total;
        point.kind = kind;
        point.operation = fault::FirstFailedOperation();
        ++tried;
        SCOPED_TRACE(point.Describe());
        // The undisturbed run reached operation n, and the disturbed one runs the same way up to
        // it: the fault must have fired. Allocations depend also on what the caches hold (folder
        // listings), so a run may end before its nth; some must fire all the same.
        if (kind != FaultKind::kAllocation) {
            EXPECT_GE(Injected(kind), 1);
        }
        fired += Injected(kind) > 0 ? 1 : 0;
        check(point, result);
    }
    EXPECT_EQ(total > 0, fired > 0) << "no fault fired";
    fault::SkipSleeps(false);
    return tried;
}

}  // namespace testing
}  // namespace cv
