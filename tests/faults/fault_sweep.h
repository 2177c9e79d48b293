// Runs one call of the library again and again, with each of its file operations failing in
// turn, and hands every outcome to a check; plus the readers the checks share.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "common/fault_injection.h"

namespace cv {
namespace testing {

enum class FaultKind {
    kOnce,        // only the chosen operation fails: a passing hiccup
    kFromThenOn,  // it and every later one fail: the disk has gone away
    kAllocation,  // the chosen allocation throws, as in a host short of memory
};

// Where a run was made to fail, for the checks' messages.
struct FaultPoint {
    long number = 0;  // the failing operation, counted from 1
    long total = 0;   // operations of the undisturbed run
    FaultKind kind = FaultKind::kOnce;
    fault::Operation operation = fault::Operation::kOpenRead;
    std::string Describe() const;
};

// Sets up, runs the call undisturbed and counts its file operations (or, for kAllocation, its
// allocations); then, for each of them, sets up afresh, runs the call with that one failing, and
// hands the point and the call's result to check (with the switch disarmed again, so that the
// check reads undisturbed). The seam's sleeps are skipped meanwhile: the waits count the steps
// they asked for, so they end as they would, only sooner. Returns the number of fault points
// tried.
long SweepFaults(const std::function<void()>& setup, const std::function<int32_t()>& call,
                 const std::function<void(const FaultPoint&, int32_t)>& check, FaultKind kind);

}  // namespace testing
}  // namespace cv
