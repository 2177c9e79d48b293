// Walking a period file with AppointmentFindFirst / AppointmentFindNext: the cost per line must not
// grow with the file (the walk resumes where it stopped instead of reading from the first line).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "bench/bench_store.h"
#include "common/file_helpers.h"
#include "host/host_files.h"
#include "include/cvaicp.h"

namespace {

// A period file of `lines` appointments.
void WritePeriodFile(const cvbench::BenchStore& store, int lines) {
    std::string content;
    for (int i = 0; i < lines; ++i) {
        char line[96];
        std::snprintf(line, sizeof line, "%s%d\t%d\tappointment-%06d", i ? "\r\n" : "", 1000000 + i,
                      1000060 + i, i);
        content += line;
    }
    cv::WriteWholeFile(store.InCalendar("P.CAL").c_str(), content);
}

void BM_WalkPeriodFile(benchmark::State& state) {
    const int lines = static_cast<int>(state.range(0));
    cvbench::BenchStore store("walk-bench");
    WritePeriodFile(store, lines);
    AppointmentRequest request;
    std::memset(&request, 0, sizeof request);
    std::strcpy(request.Postoffice, "po");
    std::strcpy(request.Mailbox, "mb");
    std::strcpy(request.PeriodName, "P");
    int64_t walked = 0;
    for (auto _ : state) {
        request.ItemId[0] = '\0';
        for (int32_t found = store.exports().find_first(&request); found;
             found = store.exports().find_next(&request)) {
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
