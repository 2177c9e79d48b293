#include "bench/bench_store.h"

#include <cstdio>
#include <cstring>

#include "common/file_helpers.h"
#include "host/host_files.h"
#include "host/registry_writer.h"
#include "platform/platform.h"
#include "platform/registry.h"

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

void WriteDay(const BenchStore& store, int count, int32_t spacing, int32_t length) {
    std::string lines;
    for (int i = 0; i < count; ++i) {
        char line[96], id[32];
        std::snprintf(id, sizeof id, "item-%05d", i);
        std::snprintf(line, sizeof line, "%s%d\t%d\t%s", i ? "\r\n" : "", kBenchNoon + i * spacing,
                      kBenchNoon + i * spacing + length, id);
        lines += line;
        cv::WriteWholeFile(
            store.InCalendar(id).c_str(),
            "Subject: meeting " + std::to_string(i) + "\r\nX-Location: Room 1\r\n\r\nbody\r\n");
    }
    cv::WriteWholeFile(store.InCalendar("Y26M12D07.CAL").c_str(), lines);
}

std::string BuildFile(const char* path) {
    if (std::strpbrk(path, "/\\") != nullptr) return path;
    std::string self = cv::ExecutablePath();
    return self.substr(0, self.find_last_of("\\/") + 1) + path;
}

}  // namespace cvbench
