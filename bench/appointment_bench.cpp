// AppointmentAdd, AppointmentGet and AppointmentRemove on period files of 10, 100 and 1,000 lines,
// each beside a baseline that does only the file work the blocking files require, with plain
// system calls:
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

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "bench/bench_store.h"
#include "bench/paired_timing.h"
#include "common/file_helpers.h"
#include "common/host_files.h"
#include "common/platform.h"
#include "include/cvaicp.h"

namespace {

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

// The baseline's own period "B" beside the provider's period "P", with the same content.
struct Baseline {
    explicit Baseline(const std::string& calendar)
        : period(calendar + "/B.CAL"),
          temporary(calendar + "/B.TMP"),
          backup(calendar + "/B.BAK"),
          blocking(calendar + "/B.BLK") {}
    std::string period, temporary, backup, blocking;
    std::string content;
};

bool ReadAll(const char* path, std::string* out) {
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    out->clear();
    char buffer[16384];
    ssize_t got;
    while ((got = read(fd, buffer, sizeof buffer)) > 0) out->append(buffer, got);
    close(fd);
    return got == 0;
}

bool WriteAll(const char* path, const std::string& bytes) {
    int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    bool written = write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    return close(fd) == 0 && written;
}

bool CopyAll(const char* from, const char* to) {
    int in = open(from, O_RDONLY | O_CLOEXEC);
    if (in < 0) return false;
    int out = open(to, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (out < 0) {
        close(in);
        return false;
    }
    char buffer[65536];
    ssize_t got;
    bool copied = true;
    while ((got = read(in, buffer, sizeof buffer)) > 0) {
        copied = copied && write(out, buffer, got) == got;
    }
    close(in);
    return close(out) == 0 && copied && got == 0;
}

bool BaselineChange(Baseline* b) {
    int blocking = open(b->blocking.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (blocking < 0) return false;
    close(blocking);
    bool done = ReadAll(b->period.c_str(), &b->content) &&
                WriteAll(b->temporary.c_str(), b->content) &&
                CopyAll(b->period.c_str(), b->backup.c_str()) &&
                rename(b->temporary.c_str(), b->period.c_str()) == 0;
    return unlink(b->blocking.c_str()) == 0 && done;
}

bool BaselineRead(Baseline* b) {
    struct stat st;
    if (stat(b->blocking.c_str(), &st) == 0) return false;
    return ReadAll(b->period.c_str(), &b->content);
}

enum class Operation { kAdd, kGet, kRemove };

// The operation on P, timed, with its untimed partner (the removal that undoes an addition, the
// addition that a removal takes away); then the baseline on B, timed, with an untimed baseline
// change in the partner's place. The rhythm is the same on both sides, so each timed change meets
// a file system that has just done the same work: the disk's write-back of the change before is
// as far along for the one as for the other.
bool Iterate(Operation operation, Baseline* baseline, const char* wanted, Clock::duration* timed,
             Clock::duration* timed_baseline) {
    AppointmentRequest changed = Request("bench-added");
    AppointmentRequest read = Request(wanted);
    const bool partner_before = operation == Operation::kRemove;
    const bool partner_after = operation == Operation::kAdd;
    if (partner_before && AppointmentAdd(&changed) != 1) return false;
    Clock::time_point start = Clock::now();
    int32_t result = operation == Operation::kAdd   ? AppointmentAdd(&changed)
                     : operation == Operation::kGet ? AppointmentGet(&read)
                                                    : AppointmentRemove(&changed);
    *timed = Clock::now() - start;
    if (result != 1 || (partner_after && AppointmentRemove(&changed) != 1)) return false;

    if (partner_before && !BaselineChange(baseline)) return false;
    start = Clock::now();
    bool done = operation == Operation::kGet ? BaselineRead(baseline) : BaselineChange(baseline);
    *timed_baseline = Clock::now() - start;
    return done && (!partner_after || BaselineChange(baseline));
}

// Where the store lives: the system's temporary folder, on the disk as a host's store would be,
// or a memory-backed folder. On the disk every change waits for the disk's write-back, which takes
// milliseconds on a busy machine and hides what the library itself adds; in memory that remains.
enum class Storage { kTemporaryFolder, kMemory };
constexpr char kMemoryFolder[] = "/dev/shm";

void Measure(benchmark::State& state, Operation operation, Storage storage) {
    if (storage == Storage::kMemory && !cv::EntryExists(kMemoryFolder)) {
        state.SkipWithError("no memory-backed folder on this machine");
        return;
    }
    const int lines = static_cast<int>(state.range(0));
    cvbench::BenchStore store("appointment-bench",
                              storage == Storage::kMemory ? kMemoryFolder : "");
    const std::string content = PeriodContent(lines);
    cv::WriteWholeFile((store.calendar() + "/P.CAL").c_str(), content);
    cv::WriteWholeFile((store.calendar() + "/B.CAL").c_str(), content);
    Baseline baseline(store.calendar());

    char wanted[32];
    std::snprintf(wanted, sizeof wanted, "appointment-%06d", lines / 2);
    cvbench::PairedTiming timing;
    for (auto _ : state) {
        Clock::duration timed, timed_baseline;
        if (!Iterate(operation, &baseline, wanted, &timed, &timed_baseline)) {
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
