#include "tests/support/test_store.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "common/file_helpers.h"
#include "common/host_files.h"
#include "provider/module_hooks.h"
#include "common/platform.h"
#include "common/registry_writer.h"
#include "common/host_platform.h"

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

TempFolder::~TempFolder() {
    DeleteFolderTree(path_.c_str(), nullptr);
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

void TestRegistry::SetString(Hive hive, const char* key, const char* name, const std::string& s) {
    written_.emplace_back(hive, key, name);
    SetRegistryString(hive, key, name, s);
}

void TestRegistry::SetDword(Hive hive, const char* key, const char* name, uint32_t value) {
    written_.emplace_back(hive, key, name);
    SetRegistryDword(hive, key, name, value);
}

void TestRegistry::SetBinary(Hive hive, const char* key, const char* name, const std::string& b) {
    written_.emplace_back(hive, key, name);
    SetRegistryBinary(hive, key, name, b.data(), b.size());
}

void TestRegistry::Delete(Hive hive, const char* key, const char* name) {
    DeleteRegistryValue(hive, key, name);
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

TestStore::~TestStore() {
    OnProcessDetach();
}

std::string TestStore::CalendarFolder(const std::string& postoffice,
                                      const std::string& mailbox) const {
    return root() + "\\" + postoffice + "\\MAILROOT\\" + mailbox + "\\Calendar";
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

bool ReadFileBytes(const std::string& path, std::string* bytes) {
    return ReadWholeFile(path.c_str(), bytes);
}

std::string ReadFileOrEmpty(const std::string& path) {
    std::string bytes;
    ReadWholeFile(path.c_str(), &bytes);
    return bytes;
}

bool WriteFileBytes(const std::string& path, const std::string& bytes) {
    return WriteWholeFile(path.c_str(), bytes);
}

bool PathExists(const std::string& path) {
    return FileExists(path.c_str()) != 0;
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
