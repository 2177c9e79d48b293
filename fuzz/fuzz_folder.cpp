#include "fuzz/fuzz_folder.h"

#include <cstdio>
#include <cstdlib>

#include "common/file_helpers.h"
#include "common/host_files.h"
#include "provider/module_hooks.h"
#include "common/platform.h"
#include "common/host_platform.h"
#include "common/registry.h"
#include "common/registry_writer.h"

namespace cv {
namespace fuzzing {
namespace {

std::string g_folder;

void RemoveFuzzFolder() {
    if (!g_folder.empty()) DeleteFolderTree(g_folder.c_str(), nullptr);
}

std::string Slashes(std::string path) {
    for (char& c : path) {
        if (c == '\\') c = '/';
    }
    return path;
}

}  // namespace

const std::string& FuzzFolder() {
    if (!g_folder.empty()) return g_folder;
    for (unsigned attempt = 0;; ++attempt) {
        char name[96];
        std::snprintf(name, sizeof name, "cvaicp-fuzz-%u-%u", CurrentProcessId(), attempt);
        std::string path = TemporaryFolder() + "\\" + name;
        if (MakeDirectory(path.c_str())) {
            g_folder = path;
            break;
        }
        if (attempt > 1000) std::abort();  // no temporary folder to work in
    }
    std::atexit(RemoveFuzzFolder);
    return g_folder;
}

std::string AttachMailRoot(const char* postoffice, const char* mailbox) {
    const std::string root = FuzzFolder();
    SetProcessEnvironment("CVAICP_REGISTRY", Slashes(root + "\\registry.reg").c_str());
    SetRegistryString(Hive::kLocalMachine, kStoreKey, "Mail Root", root);
    for (const char* name :
         {"Write Wait Timeout", "Read Wait Timeout", "UnBlock Timeout", "Apply Timeout"}) {
        SetRegistryDword(Hive::kLocalMachine, kProvidersKey, name, 0);
    }
    std::string path = root + "\\" + postoffice;
    MakeDirectory(path.c_str());
    path += "\\MAILROOT";
    MakeDirectory(path.c_str());
    path += std::string("\\") + mailbox;
    MakeDirectory(path.c_str());
    path += "\\Calendar";
    MakeDirectory(path.c_str());
    if (!OnProcessAttach()) std::abort();
    return path;
}

}  // namespace fuzzing
}  // namespace cv
