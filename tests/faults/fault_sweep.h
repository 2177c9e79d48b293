// Runs one call of the library again and again, with each of its file operations (or each of its
// allocations) failing in turn, and hands every outcome to a check.
#pragma once

#include <cstdint>
#include <functional>

namespace cv {
namespace testing {

enum class FaultKind {
    kOnce,        // only the chosen operation fails: a passing hiccup
    kFromThenOn,  // it and every later one fail: the disk has gone away
    kAllocation,  // the chosen allocation of the C++ heap throws, as in a host short of memory
};

// Sets up, runs the call undisturbed and counts its file operations (or allocations); then, for
// each of them, sets up afresh, runs the call with that one failing, and hands the call's result
// to check (with the switch disarmed again, so that the check reads undisturbed). The seam's
// sleeps are skipped meanwhile: the waits count the steps they asked for, so they end as they
// would, only sooner. Returns the number of fault points tried.
long SweepFaults(const std::function<void()>& setup, const std::function<int32_t()>& call,
                 const std::function<void(int32_t)>& check, FaultKind kind);

}  // namespace testing
}  // namespace cv
