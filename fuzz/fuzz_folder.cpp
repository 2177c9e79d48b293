#include "fuzz/fuzz_folder.h"

#include <cstdlib>

#include "common/host_files.h"
#include "common/host_platform.h"
#include "common/platform.h"
#include "common/registry.h"
#include "common/registry_writer.h"
#include "provider/module_hooks.h"

namespace cv {
namespace fuzzing {

// Made on first use and never destroyed: it is removed at exit, after the static destructors.
const std::string& FuzzFolder() {
    static const std::string* const folder = [] {
        auto* path = new std::string(TemporaryFolder() + "\\cvaicp-fuzz-" +
                                     std::to_string(CurrentProcessId()));
        DeleteFolderTree(path->c_str(), nullptr);  // left by a process of the same id that crashed
        if (!MakeDirectory(path->c_str())) std::abort();  // no temporary folder to work in
        std::atexit([] { DeleteFolderTree(FuzzFolder().c_str(), nullptr); });
        return path;
    }();
    return *folder;
}

std::string AttachMailRoot(const char* postoffice, const char* mailbox) {
    std::string path = FuzzFolder();
    std::string registry = path + "\\registry.reg";
    for (char& c : registry) c = c == '\\' ? '/' : c;
    SetProcessEnvironment("CVAICP_REGISTRY", registry.c_str());
    SetRegistryString(Hive::kLocalMachine, kStoreKey, "Mail Root", path);
    for (const char* name :
         {"Write Wait Timeout", "Read Wait Timeout", "UnBlock Timeout", "Apply Timeout"}) {
        SetRegistryDword(Hive::kLocalMachine, kProvidersKey, name, 0);
    }
    for (const std::string& level : {std::string(postoffice), std::string("MAILROOT"),
                                     std::string(mailbox), std::string("Calendar")}) {
        path += "\\" + level;
        MakeDirectory(path.c_str());
    }
    if (!OnProcessAttach()) std::abort();
    return path;
}

}  // namespace fuzzing
}  // namespace cv
