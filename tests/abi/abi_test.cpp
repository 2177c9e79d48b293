// The library as a host loads it: exports looked up at run time by name (and, on Windows, by
// ordinal) and called through the declared convention, with the stack left as it was.
#include <gtest/gtest.h>

#include <string>

#include "common/platform.h"
#include "provider/cvaicp.h"

namespace cv {
namespace {

#if defined(CVAICP_LIBRARY)
constexpr const char* kLibrary = CVAICP_LIBRARY;
#else
constexpr const char* kLibrary = "CVAICP.DLL";  // beside the test executable
#endif

using GetLastErrorFn = int32_t(CVAPI*)(void);

#if defined(_WIN32) && defined(__i386__)
// Calls a __stdcall function with `argument_words` 32-bit arguments (all zero) and
// reports how far the stack pointer moved: 0 when the callee removed exactly its arguments.
int32_t StackDelta(void* function, int argument_words) {
    int32_t delta;
    asm volatile(
        "movl %%esp, %%esi\n\t"
        "1: testl %%ecx, %%ecx\n\t"
        "jz 2f\n\t"
        "pushl $0\n\t"
        "decl %%ecx\n\t"
        "jmp 1b\n\t"
        "2: call *%%ebx\n\t"
        "movl %%esp, %%eax\n\t"
        "subl %%esi, %%eax\n\t"
        "movl %%esi, %%esp\n\t"
        : "=a"(delta), "+c"(argument_words)
        : "b"(function)
        : "edx", "esi", "memory", "cc");
    return delta;
}
#endif

class AbiTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(library_.Open(kLibrary)) << library_.Error(); }
    DynamicLibrary library_;
};

TEST_F(AbiTest, ExportsAppointmentGetLastErrorByName) {
    auto fn = reinterpret_cast<GetLastErrorFn>(library_.Symbol("AppointmentGetLastError"));
    ASSERT_NE(nullptr, fn);
    EXPECT_EQ(0, fn());
}

TEST_F(AbiTest, ExportsNothingButTheProviderFunctions) {
    // Undecorated names only, and no internals.
    EXPECT_EQ(nullptr, library_.Symbol("_AppointmentGetLastError@0"));
    EXPECT_EQ(nullptr, library_.Symbol("_ZN2cv8MailRootEv"));
    EXPECT_EQ(nullptr, library_.Symbol("OnProcessAttach"));
}

#if defined(_WIN32)
TEST_F(AbiTest, OrdinalsMatchTheExportTable) {
    EXPECT_EQ(library_.Symbol("AppointmentGetLastError"), library_.Ordinal(7));
}

#endif

#if defined(_WIN32) && defined(__i386__)
TEST_F(AbiTest, StdcallExportsLeaveTheStackBalanced) {
    EXPECT_EQ(0, StackDelta(library_.Symbol("AppointmentGetLastError"), 0));
}
#endif

}  // namespace
}  // namespace cv
