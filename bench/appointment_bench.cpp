// AppointmentAdd, AppointmentGet and AppointmentRemove on period files of 10, 100 and 1,000 lines,
// each beside a baseline that does only the file work the blocking files require, with plain
// system calls (baseline.h: POSIX natively, Win32 in the Windows build):
//
//   a change: create "<period>.BLK" new, read "<period>.CAL", write "<period>.TMP", copy the
//             period file to "<period>.BAK", rename the copy over the period file, delete the
//             blocking file;
//   a read:   look for the blocking file, read the period file.
//
// The operation and its baseline run in turn within every iteration and are timed apart (see
// paired_timing.h); the reported time is the operation's mean, the counters give the medians and
// their ratio.
//
// The stored size stays constant: an addition is undone by a removal of the same id, and a
// removal is prepared by an addition, each outside the timed part (the baseline does an untimed
// change in the same place, see Iterate). The baseline rewrites the file as it found it, one line
// more or less than the operation writes, which is a few bytes in a file of hundreds or tens of
// thousands.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "bench/baseline.h"
#include "bench/bench_store.h"
#include "bench/paired_timing.h"
#include "common/file_helpers.h"
#include "host/host_files.h"
#include "include/cvaicp.h"
#include "platform/platform.h"

namespace {

using cvbench::BaselinePeriod;
using Clock = cvbench::PairedTiming::Clock;

// A period file of `lines` appointments, as the provider writes them.
std::string PeriodContent(int lines) {
    std::string content;
    for (int i = 0; i < lines; ++i) {
        char line[96];
        std::snprintf(line, sizeof line, "%s%d\t%d\tappointment-%06d", i ? "\r\n" : "",
                      1000000 + i * 60, 1000000 + i * 60 + 30, i);
        content += line;
    }
    return content;
}

AppointmentRequest Request(const char* id) {
    AppointmentRequest request;
    std::memset(&request, 0, sizeof request);
    std::strcpy(request.Postoffice, "po");
    std::strcpy(request.Mailbox, "mb");
    std::strcpy(request.PeriodName, "P");
    std::snprintf(request.ItemId, sizeof request.ItemId, "%s", id);
    request.StartTime = 999000;
    request.FinishTime = 999060;
    return request;
}

enum class Operation { kAdd, kGet, kRemove };

// The operation on P, timed, with its untimed partner (the removal that undoes an addition, the
// addition that a removal takes away); then the baseline on B, timed, with an untimed baseline
// change in the partner's place. The rhythm is the same on both sides, so each timed change meets
// a file system that has just done the same work: the disk's write-back of the change before is
// as far along for the one as for the other.
bool Iterate(const cvbench::ProviderExports& library, Operation operation, BaselinePeriod* baseline,
             const char* wanted, Clock::duration* timed, Clock::duration* timed_baseline) {
    AppointmentRequest changed = Request("bench-added");
    AppointmentRequest read = Request(wanted);
    const bool partner_before = operation == Operation::kRemove;
    const bool partner_after = operation == Operation::kAdd;
    if (partner_before && library.add(&changed) != 1) return false;
    Clock::time_point start = Clock::now();
    int32_t result = operation == Operation::kAdd   ? library.add(&changed)
                     : operation == Operation::kGet ? library.get(&read)
                                                    : library.remove(&changed);
    *timed = Clock::now() - start;
    if (result != 1 || (partner_after && library.remove(&changed) != 1)) return false;

    if (partner_before && !cvbench::BaselineChange(baseline)) return false;
    start = Clock::now();
    bool done = operation == Operation::kGet ? cvbench::BaselineRead(baseline)
                                             : cvbench::BaselineChange(baseline);
    *timed_baseline = Clock::now() - start;
    return done && (!partner_after || cvbench::BaselineChange(baseline));
}

// Where the store lives: the system's temporary folder, on the disk as a host's store would be,
// or a memory-backed folder. On the disk every change waits for the disk's write-back, which takes
// milliseconds on a busy machine and hides what the library itself adds; in memory that remains.
enum class Storage { kTemporaryFolder, kMemory };

void Measure(benchmark::State& state, Operation operation, Storage storage) {
    if (storage == Storage::kMemory && !cv::EntryExists(cvbench::MemoryFolder())) {
        state.SkipWithError("no memory-backed folder on this machine");
        return;
    }
    const int lines = static_cast<int>(state.range(0));
    cvbench::BenchStore store("appointment-bench",
                              storage == Storage::kMemory ? cvbench::MemoryFolder() : "");
    const std::string content = PeriodContent(lines);
    cv::WriteWholeFile(store.InCalendar("P.CAL").c_str(), content);
    BaselinePeriod baseline{store.InCalendar("B.CAL"), store.InCalendar("B.TMP"),
                            store.InCalendar("B.BAK"), store.InCalendar("B.BLK"), ""};
    cv::WriteWholeFile(baseline.period.c_str(), content);

    char wanted[32];
    std::snprintf(wanted, sizeof wanted, "appointment-%06d", lines / 2);
    cvbench::PairedTiming timing;
    for (auto _ : state) {
        Clock::duration timed, timed_baseline;
        if (!Iterate(store.exports(), operation, &baseline, wanted, &timed, &timed_baseline)) {
            state.SkipWithError("the operation, its partner or the baseline failed");
            break;
        }
        timing.Add(state, timed, timed_baseline);
    }
    timing.Report(state);
}

void BM_AppointmentAdd(benchmark::State& state) {
    Measure(state, Operation::kAdd, Storage::kTemporaryFolder);
}
void BM_AppointmentGet(benchmark::State& state) {
    Measure(state, Operation::kGet, Storage::kTemporaryFolder);
}
void BM_AppointmentRemove(benchmark::State& state) {
    Measure(state, Operation::kRemove, Storage::kTemporaryFolder);
}
void BM_AppointmentAddInMemory(benchmark::State& state) {
    Measure(state, Operation::kAdd, Storage::kMemory);
}
void BM_AppointmentGetInMemory(benchmark::State& state) {
    Measure(state, Operation::kGet, Storage::kMemory);
}
void BM_AppointmentRemoveInMemory(benchmark::State& state) {
    Measure(state, Operation::kRemove, Storage::kMemory);
}
void PeriodSizes(benchmark::internal::Benchmark* family) {
    family->Arg(10)->Arg(100)->Arg(1000)->UseManualTime()->Unit(benchmark::kMicrosecond);
}
BENCHMARK(BM_AppointmentAdd)->Apply(PeriodSizes);
BENCHMARK(BM_AppointmentGet)->Apply(PeriodSizes);
BENCHMARK(BM_AppointmentRemove)->Apply(PeriodSizes);
BENCHMARK(BM_AppointmentAddInMemory)->Apply(PeriodSizes);
BENCHMARK(BM_AppointmentGetInMemory)->Apply(PeriodSizes);
BENCHMARK(BM_AppointmentRemoveInMemory)->Apply(PeriodSizes);

}  // namespace

BENCHMARK_MAIN();
