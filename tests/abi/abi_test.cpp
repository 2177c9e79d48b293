// The library as a host loads it: exports looked up at run time by name (and, on Windows, by
// ordinal) and called through the declared convention, with the stack left as it was.
#include <gtest/gtest.h>

#include <cctype>
#include <sstream>
#include <string>

#include "common/platform.h"
#include "common/host_platform.h"
#include "include/cvaicp_exports.h"
#include "tests/support/test_store.h"

namespace cv {
namespace {

#if defined(CVAICP_LIBRARY)
constexpr const char* kLibrary = CVAICP_LIBRARY;
#else
constexpr const char* kLibrary = "CVAICP.DLL";  // beside the test executable
#endif

using GetLastErrorFn = int32_t(CVAPI*)(void);

// Every export: its name, its ordinal and how many 32-bit arguments it takes.
struct Export {
    const char* name;
    unsigned ordinal;
    int arguments;
};
constexpr Export kExports[] = {
#define CV_ABI_EXPORT(Name, Ordinal, Arguments, ...) {#Name, Ordinal, Arguments},
    CVAICP_EXPORTS(CV_ABI_EXPORT)
#undef CV_ABI_EXPORT
};

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

TEST_F(AbiTest, ExportsUndecoratedProviderFunctionsOnly) {
    auto fn = reinterpret_cast<GetLastErrorFn>(library_.Symbol("AppointmentGetLastError"));
    ASSERT_NE(nullptr, fn);
    EXPECT_EQ(0, fn());
    EXPECT_EQ(nullptr, library_.Symbol("_AppointmentGetLastError@0"));
    EXPECT_EQ(nullptr, library_.Symbol("_ZN2cv8MailRootEv"));
    EXPECT_EQ(nullptr, library_.Symbol("OnProcessAttach"));
}

// The .def file fixes the DLL's names and ordinals; the export table, from which the library and
// its hosts take theirs, must say the same.
TEST(ExportTableTest, AgreesWithTheDefFile) {
    std::string def_path = CVAICP_DEF_FILE;
#if defined(_WIN32)
    def_path = "Z:" + def_path;  // Wine's drive for the root of the build machine
    for (char& c : def_path) {
        if (c == '/') c = '\\';
    }
#endif
    std::string text;
    ASSERT_TRUE(testing::ReadFileBytes(def_path, &text)) << def_path;
    std::istringstream lines(text);
    std::string line;
    std::string listed;
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        std::string name, ordinal;
        if (line.empty() || line[0] == ';' || !std::isspace(static_cast<unsigned char>(line[0])) ||
            !(words >> name >> ordinal) || ordinal[0] != '@') {
            continue;
        }
        listed += name + " " + ordinal.substr(1) + "\n";
    }
    std::string table;
    for (const Export& e : kExports)
        table += std::string(e.name) + " " + std::to_string(e.ordinal) + "\n";
    EXPECT_EQ(listed, table);
}

// Each export by name (and on Windows by ordinal), called with null records, which it turns away
// at once; on i386 through a __stdcall call that must leave the stack as it was.
TEST_F(AbiTest, EveryExportIsFoundAndTurnsAwayNullRecords) {
    for (const Export& e : kExports) {
        SCOPED_TRACE(e.name);
        void* fn = library_.Symbol(e.name);
        ASSERT_NE(nullptr, fn);
#if defined(_WIN32)
        EXPECT_EQ(fn, library_.Ordinal(e.ordinal));
#endif
#if defined(_WIN32) && defined(__i386__)
        EXPECT_EQ(0, StackDelta(fn, e.arguments));
#else
        if (e.arguments == 1) reinterpret_cast<int32_t(CVAPI*)(void*)>(fn)(nullptr);
        if (e.arguments == 2) reinterpret_cast<int32_t(CVAPI*)(void*, void*)>(fn)(nullptr, nullptr);
#endif
    }
}

}  // namespace
}  // namespace cv
