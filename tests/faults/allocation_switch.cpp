#include "tests/faults/allocation_switch.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace cv {
namespace testing {
namespace allocation {
namespace {

std::atomic<bool> g_armed{false};
std::atomic<long> g_count{0};
std::atomic<long> g_fail_at{0};
std::atomic<long> g_injected{0};

}  // namespace

void FailNth(long n) {
    g_count = 0;
    g_injected = 0;
    g_fail_at = n;
    g_armed = true;
}

void Disarm() {
    g_armed = false;
}

long SoFar() {
    return g_count;
}

long Injected() {
    return g_injected;
}

// Whether this allocation is the one to fail.
bool ShouldFail() {
    if (!g_armed) return false;
    long number = ++g_count;
    if (number != g_fail_at) return false;
    ++g_injected;
    return true;
}

}  // namespace allocation
}  // namespace testing
}  // namespace cv

void* operator new(std::size_t size) {
    if (cv::testing::allocation::ShouldFail()) throw std::bad_alloc();
    void* block = std::malloc(size == 0 ? 1 : size);
    if (block == nullptr) throw std::bad_alloc();
    return block;
}

void operator delete(void* block) noexcept {
    std::free(block);
}

void operator delete(void* block, std::size_t) noexcept {
    std::free(block);
}
