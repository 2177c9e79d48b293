// Test scaffolding: a private configuration, a fresh folder per test, and a module attached to it
// as a host would have it.
#pragma once

#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

#include "common/file_helpers.h"
#include "host/host_files.h"
#include "host/host_platform.h"
#include "host/private_file.h"
#include "host/registry_writer.h"
#include "platform/platform.h"
#include "platform/registry.h"
#include "provider/module_hooks.h"

namespace cv {
namespace testing {

// A folder of its own below the system's temporary folder, removed with everything in it.
class TempFolder {
  public:
    TempFolder();
    ~TempFolder() { DeleteFolderTree(path_.c_str(), nullptr); }
    const std::string& path() const { return path_; }
    std::string Join(const std::string& name) const { return path_ + "\\" + name; }

  private:
    std::string path_;
};

// The configuration a test runs under. Natively it is a private ".reg" file that CVAICP_REGISTRY
// points at; in the Windows build it is the (Wine prefix's) registry, where every value set here is
// deleted again at the end.
class TestRegistry {
  public:
    TestRegistry();
    ~TestRegistry();
    void SetString(Hive hive, const char* key, const char* name, const std::string& value) {
        written_.emplace_back(hive, key, name);
        SetRegistryString(hive, key, name, value);
    }
    void SetDword(Hive hive, const char* key, const char* name, uint32_t value) {
        written_.emplace_back(hive, key, name);
        SetRegistryDword(hive, key, name, value);
    }
    void SetBinary(Hive hive, const char* key, const char* name, const std::string& bytes) {
        written_.emplace_back(hive, key, name);
        SetRegistryBinary(hive, key, name, bytes.data(), bytes.size());
    }
    void Delete(Hive hive, const char* key, const char* name) {
        DeleteRegistryValue(hive, key, name);
    }
    void SetWaits(uint32_t seconds);  // the four waits of the blocking files

  private:
    TempFolder folder_;
    std::vector<std::tuple<Hive, std::string, std::string>> written_;
};

// A mail root in a fresh folder, configured as "Mail Root", with the module attached to it.
class TestStore {
  public:
    TestStore();
    ~TestStore() { OnProcessDetach(); }
    TestRegistry& registry() { return registry_; }
    const std::string& root() const { return folder_.path(); }
    // Makes <root>\<postoffice>\MAILROOT\<mailbox> (the Calendar folder below it is left to the
    // provider) and returns the Calendar folder's path.
    std::string CreateMailbox(const std::string& postoffice, const std::string& mailbox);
    std::string CalendarFolder(const std::string& postoffice, const std::string& mailbox) const {
        return root() + "\\" + postoffice + "\\MAILROOT\\" + mailbox + "\\Calendar";
    }

  private:
    TestRegistry registry_;
    TempFolder folder_;
};

// The provider library as the tests' hosts load it (libcvaicp.so, or CVAICP.DLL beside the
// executables), and another executable of the build beside the running one.
std::string ProviderLibraryPath();
std::string SiblingExecutable(const std::string& name);

// Whole-file helpers (binary).
inline bool ReadFileBytes(const std::string& path, std::string* bytes) {
    return ReadWholeFile(path.c_str(), bytes);
}
inline std::string ReadFileOrEmpty(const std::string& path) {
    std::string bytes;
    ReadWholeFile(path.c_str(), &bytes);
    return bytes;
}
inline bool WriteFileBytes(const std::string& path, const std::string& bytes) {
    return WriteWholeFile(path.c_str(), bytes);
}
// cvadmind reads a configuration only when other users can neither read nor change it.
inline bool WriteServiceConfig(const std::string& path, const std::string& text) {
    return WriteOwnerOnlyFile(path.c_str(), text);
}
inline bool PathExists(const std::string& path) {
    return FileExists(path.c_str()) != 0;
}

// Starts the cvadmind beside the tests with a configuration file, listening on a free loopback
// port that it writes to `port_file`. The port, or 0 when the service did not come up.
uint16_t StartAdminService(ChildProcess* service, const std::string& config,
                           const std::string& port_file);

}  // namespace testing
}  // namespace cv
