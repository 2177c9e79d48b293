// A switch that makes one chosen allocation of the C++ heap fail, as it would in a host whose
// address space is spent: the fault tests' executable replaces the global operator new (which the
// nothrow forms call too) with one that counts and, when armed, throws std::bad_alloc at the nth.
#pragma once

namespace cv {
namespace testing {
namespace allocation {

// Starts counting afresh; the nth allocation from now (counted from 1) fails, and only that one.
// 0: none fails, allocations are only counted.
void FailNth(long n);
// Stops counting; no allocation fails.
void Disarm();
// Allocations counted since the last FailNth.
long SoFar();
// Allocations made to fail since then.
long Injected();

}  // namespace allocation
}  // namespace testing
}  // namespace cv
