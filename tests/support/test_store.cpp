#include "tests/support/test_store.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "host/host_platform.h"
#include "platform/platform.h"
#include "provider/module_hooks.h"

namespace cv {
namespace testing {

TempFolder::TempFolder() {
    static std::atomic<unsigned> counter{0};
    for (;;) {
        char name[128];
        std::snprintf(name, sizeof name, "cvaicp-test-%u-%u-%llu", CurrentProcessId(), counter++,
                      static_cast<unsigned long long>(CurrentFileTime() % 100000));
        path_ = TemporaryFolder() + "\\" + name;
        if (MakeDirectory(path_.c_str())) return;
    }
}

TestRegistry::TestRegistry() {
    // Natively this is where the registry lives; the Windows build ignores the variable.
    std::string file = folder_.Join("registry.reg");
    std::replace(file.begin(), file.end(), '\\', '/');
    SetProcessEnvironment("CVAICP_REGISTRY", file.c_str());
}

TestRegistry::~TestRegistry() {
    for (const auto& e : written_) {
        DeleteRegistryValue(std::get<0>(e), std::get<1>(e).c_str(), std::get<2>(e).c_str());
    }
    SetProcessEnvironment("CVAICP_REGISTRY", nullptr);
}

void TestRegistry::SetWaits(uint32_t seconds) {
    for (const char* name :
         {"Write Wait Timeout", "Read Wait Timeout", "UnBlock Timeout", "Apply Timeout"}) {
        SetDword(Hive::kLocalMachine, kProvidersKey, name, seconds);
    }
}

TestStore::TestStore() {
    registry_.SetString(Hive::kLocalMachine, kStoreKey, "Mail Root", folder_.path());
    registry_.Delete(Hive::kLocalMachine, kStoreKey, "Data Directory");
    OnProcessAttach();
}

std::string TestStore::CreateMailbox(const std::string& postoffice, const std::string& mailbox) {
    std::string path = root();
    for (const std::string& folder : {postoffice, std::string("MAILROOT"), mailbox}) {
        MakeDirectory((path += "\\" + folder).c_str());
    }
    return CalendarFolder(postoffice, mailbox);
}

// A file in the folder of the running executable.
static std::string SiblingFile(const std::string& name) {
    std::string self = ExecutablePath();
    return self.substr(0, self.find_last_of("\\/") + 1) + name;
}

std::string ProviderLibraryPath() {
#if defined(CVAICP_LIBRARY)
    return CVAICP_LIBRARY;
#else
    return SiblingFile("CVAICP.DLL");
#endif
}

std::string SiblingExecutable(const std::string& name) {
    return SiblingFile(name + ExecutableSuffix());
}

uint16_t StartAdminService(ChildProcess* service, const std::string& config,
                           const std::string& port_file) {
    if (!service->Start({SiblingExecutable("cvadmind"), "--config", config, "--listen",
                         "127.0.0.1:0", "--port-file", port_file, "--quiet"})) {
        return 0;
    }
    // The file is complete once its line break is there. A service started under Wine on a busy
    // machine may take seconds to come up: it is given a minute, looked for every 10 ms.
    for (int i = 0; i < 6000; ++i) {
        std::string port = ReadFileOrEmpty(port_file);
        if (!port.empty() && port.back() == '\n') {
            return static_cast<uint16_t>(std::strtoul(port.c_str(), nullptr, 10));
        }
        SleepMilliseconds(10);
    }
    return 0;
}

}  // namespace testing
}  // namespace cv
