// Walking a period file with AppointmentFindFirst / AppointmentFindNext: the cost per line must not
// grow with the file (the walk resumes where it stopped instead of reading from the first line).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "common/file_helpers.h"
#include "common/module_hooks.h"
#include "common/platform.h"
#include "common/registry.h"
#include "provider/cvaicp.h"

namespace {

// A store in a temporary folder holding one period file of `lines` appointments.
class WalkStore {
  public:
    explicit WalkStore(int lines) {
        root_ = cv::TemporaryFolder() + "/cvaicp-walk-bench-" +
                std::to_string(cv::CurrentProcessId()) + "-" + std::to_string(lines);
        registry_ = root_ + ".reg";
        std::string calendar = root_ + "/po/MAILROOT/mb/Calendar";
        for (std::string part :
             {root_, root_ + "/po", root_ + "/po/MAILROOT", root_ + "/po/MAILROOT/mb", calendar}) {
            cv::MakeDirectory(part.c_str());
        }
        std::string content;
        for (int i = 0; i < lines; ++i) {
            char line[96];
            std::snprintf(line, sizeof line, "%s%d\t%d\tappointment-%06d", i ? "\r\n" : "",
                          1000000 + i, 1000060 + i, i);
            content += line;
        }
        cv::WriteWholeFile((calendar + "/P.CAL").c_str(), content);
        cv::SetProcessEnvironment("CVAICP_REGISTRY", registry_.c_str());
        cv::SetRegistryString(cv::Hive::kLocalMachine, cv::kStoreKey, "Mail Root", root_);
        cv::OnProcessAttach();
    }
    ~WalkStore() {
        cv::OnProcessDetach();
        cv::DeleteFolderTree(root_.c_str(), nullptr);
        cv::RemoveFile(registry_.c_str());
    }

  private:
    std::string root_;
    std::string registry_;
};

void BM_WalkPeriodFile(benchmark::State& state) {
    const int lines = static_cast<int>(state.range(0));
    WalkStore store(lines);
    AppointmentRequest request;
    std::memset(&request, 0, sizeof request);
    std::strcpy(request.Postoffice, "po");
    std::strcpy(request.Mailbox, "mb");
    std::strcpy(request.PeriodName, "P");
    int64_t walked = 0;
    for (auto _ : state) {
        request.ItemId[0] = '\0';
        for (int32_t found = AppointmentFindFirst(&request); found;
             found = AppointmentFindNext(&request)) {
            request.ItemId[0] = '\0';
            ++walked;
        }
    }
    state.SetItemsProcessed(walked);
    state.counters["time_per_line"] = benchmark::Counter(
        static_cast<double>(walked), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_WalkPeriodFile)->Arg(100)->Arg(1000)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
