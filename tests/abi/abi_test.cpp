// The library as a host loads it: exports looked up at run time by name (and, on Windows, by the
// ordinal the .def file links them at) and called through the declared convention. The host
// battery (tests/hosts) checks the stack and the registers around each call.
#include <gtest/gtest.h>

#include "host/host_platform.h"
#include "include/cvaicp_exports.h"

namespace cv {
namespace {

#if defined(CVAICP_LIBRARY)
constexpr const char* kLibrary = CVAICP_LIBRARY;
#else
constexpr const char* kLibrary = "CVAICP.DLL";  // beside the test executable
#endif

struct Export {
    const char* name;
    unsigned ordinal;
    int arguments;  // 32-bit words
};
constexpr Export kExports[] = {
#define CV_ABI_EXPORT(Name, Ordinal, Arguments, ...) {#Name, Ordinal, Arguments},
    CVAICP_EXPORTS(CV_ABI_EXPORT)
#undef CV_ABI_EXPORT
};

// Each export undecorated, called with null records, which it turns away at once; nothing else.
TEST(AbiTest, EveryExportIsFoundAndTurnsAwayNullRecords) {
    DynamicLibrary library;
    ASSERT_TRUE(library.Open(kLibrary)) << library.Error();
    for (const Export& e : kExports) {
        SCOPED_TRACE(e.name);
        void* fn = library.Symbol(e.name);
        ASSERT_NE(nullptr, fn);
#if defined(_WIN32)
        EXPECT_EQ(fn, library.Ordinal(e.ordinal));
#endif
        if (e.arguments == 1) reinterpret_cast<int32_t(CVAPI*)(void*)>(fn)(nullptr);
        if (e.arguments == 2) reinterpret_cast<int32_t(CVAPI*)(void*, void*)>(fn)(nullptr, nullptr);
    }
    for (const char* hidden :
         {"_AppointmentGetLastError@0", "_ZN2cv8MailRootEv", "OnProcessAttach"})
        EXPECT_EQ(nullptr, library.Symbol(hidden)) << hidden;
}

}  // namespace
}  // namespace cv
