#include "bench/bench_store.h"

#include "common/file_helpers.h"
#include "common/host_files.h"
#include "provider/module_hooks.h"
#include "common/platform.h"
#include "common/host_platform.h"
#include "common/registry.h"
#include "common/registry_writer.h"

namespace cvbench {

BenchStore::BenchStore(const std::string& name, const std::string& parent) {
    root_ = (parent.empty() ? cv::TemporaryFolder() : parent) + "/cvaicp-" + name + "-" +
            std::to_string(cv::CurrentProcessId());
    registry_ = root_ + ".reg";
    calendar_ = root_ + "/po/MAILROOT/mb/Calendar";
    for (const std::string& part :
         {root_, root_ + "/po", root_ + "/po/MAILROOT", root_ + "/po/MAILROOT/mb", calendar_}) {
        cv::MakeDirectory(part.c_str());
    }
    cv::SetProcessEnvironment("CVAICP_REGISTRY", registry_.c_str());
    cv::SetRegistryString(cv::Hive::kLocalMachine, cv::kStoreKey, "Mail Root", root_);
    cv::OnProcessAttach();
}

BenchStore::~BenchStore() {
    cv::OnProcessDetach();
    cv::DeleteFolderTree(root_.c_str(), nullptr);
    cv::RemoveFile(registry_.c_str());
    cv::RemoveFile((registry_ + ".lock").c_str());  // left by the registry's writers
}

}  // namespace cvbench
