#include "bench/bench_store.h"

#include <cstring>

#include "common/file_helpers.h"
#include "common/host_files.h"
#include "common/platform.h"
#include "common/registry.h"
#include "common/registry_writer.h"

namespace cvbench {

BenchStore::BenchStore(const std::string& name, const std::string& parent) {
    const std::string separator = cv::PathsUseBackslashes() ? "\\" : "/";
    root_ = (parent.empty() ? cv::TemporaryFolder() : parent) + separator + "cvaicp-" + name + "-" +
            std::to_string(cv::CurrentProcessId());
    registry_ = root_ + ".reg";
    std::string folder = root_;
    for (const char* part : {"po", "MAILROOT", "mb", "Calendar"}) {
        cv::MakeDirectory(folder.c_str());
        folder += separator + part;
    }
    cv::MakeDirectory(folder.c_str());
    calendar_ = folder;
    // Natively the registry is this file; the Windows build ignores the variable.
    cv::SetProcessEnvironment("CVAICP_REGISTRY", registry_.c_str());
    cv::SetRegistryString(cv::Hive::kLocalMachine, cv::kStoreKey, "Mail Root", root_);
    Attach();
}

BenchStore::~BenchStore() {
    Detach();
    // In the Windows build the value would outlive the store in the prefix's registry.
    cv::DeleteRegistryValue(cv::Hive::kLocalMachine, cv::kStoreKey, "Mail Root");
    cv::DeleteFolderTree(root_.c_str(), nullptr);
    cv::RemoveFile(registry_.c_str());
    cv::RemoveFile((registry_ + ".lock").c_str());  // left by the registry's writers
}

std::string BenchStore::InCalendar(const std::string& name) const {
    return calendar_ + (cv::PathsUseBackslashes() ? "\\" : "/") + name;
}

std::string BuildFile(const char* path) {
    if (std::strpbrk(path, "/\\") != nullptr) return path;
    std::string self = cv::ExecutablePath();
    return self.substr(0, self.find_last_of("\\/") + 1) + path;
}

}  // namespace cvbench
