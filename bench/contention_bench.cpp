// Writers of one period in several processes at once: four hosts adding 100 appointments each,
// beside one host adding all 400. The blocking file lets one writer in at a time, so the work
// cannot spread; what the comparison shows is what the contention itself costs (the polling
// waits, the processes' turns). Each host is the test suite's writer driver, which loads the
// library as the mail server does; the waits of the blocking files are at their defaults.
//
// Both runs happen in every iteration, one after the other and timed apart (see paired_timing.h),
// each from an empty period. The reported time is the four hosts' mean; the counters give the
// medians and their ratio.
//
// How the four took their turns: an addition appends its line to the period file, so the file
// lists the additions in the order they were made, and each line's id names its host. The number
// of changes of host along the 400 lines (median over the iterations, each run in the label) says
// whether the file was handed about (some hundreds) or one host kept it for long runs of its
// additions while the others waited (a handful). The driver logs no times, so the waits of single
// calls are not measured here.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "bench/bench_store.h"
#include "bench/paired_timing.h"
#include "common/file_helpers.h"
#include "common/platform.h"
#include "common/host_platform.h"

namespace {

using Clock = cvbench::PairedTiming::Clock;

constexpr int kAppointments = 400;

// Starts `hosts` drivers that add kAppointments / hosts appointments each to the period P, and
// waits for all of them. False when one could not start or had an addition refused.
bool RunHosts(int hosts) {
    static const std::string driver = cvbench::BuildFile(CV_WRITER_DRIVER);
    static const std::string library = cvbench::BuildFile(CV_PROVIDER_LIBRARY);
    std::vector<std::unique_ptr<cv::ChildProcess>> children;
    bool started = true;
    for (int i = 0; i < hosts && started; ++i) {
        children.push_back(std::make_unique<cv::ChildProcess>());
        started = children.back()->Start({driver, library, "po", "mb", "-", "add",
                                          "host" + std::to_string(i),
                                          std::to_string(kAppointments / hosts), "0", "P"});
    }
    bool refused = false;
    for (auto& child : children) {
        int status = child->running() ? child->Wait() : -1;
        if (status != 0) {
            std::fprintf(stderr, "contention_bench: a host ended with %d\n", status);
            refused = true;
        }
    }
    return started && !refused;
}

// The period file's lines; the driver's ids are all different, so one per addition.
int CountLines(const std::string& path) {
    std::string content;
    if (!cv::ReadWholeFile(path.c_str(), &content)) return -1;
    int lines = content.empty() ? 0 : 1;
    for (char c : content) lines += c == '\n';
    return lines;
}

// The number of times the host changes from one line of the period file to the next; the driver's
// ids are "HOST-NUMBER". -1 when the file cannot be read.
int WriterChanges(const std::string& path) {
    std::string content;
    if (!cv::ReadWholeFile(path.c_str(), &content)) return -1;
    int changes = 0;
    std::string previous;
    for (size_t start = 0; start < content.size();) {
        size_t end = std::min(content.find('\n', start), content.size());
        std::string line = content.substr(start, end - start);
        size_t id = line.rfind('\t') + 1;  // 0 when there is no tab: the whole line
        std::string host = line.substr(id, line.rfind('-') - id);
        if (!previous.empty() && host != previous) ++changes;
        previous = host;
        start = end + 1;
    }
    return changes;
}

void StartEmpty(const std::string& period) {
    for (const char* extension : {".CAL", ".BAK"}) cv::RemoveFile((period + extension).c_str());
}

void BM_ContendedWriters(benchmark::State& state) {
    cvbench::BenchStore store("contention-bench");
    const std::string period = store.InCalendar("P");
    cvbench::PairedTiming timing;
    std::vector<int> changes;
    for (auto _ : state) {
        StartEmpty(period);
        Clock::time_point start = Clock::now();
        bool done = RunHosts(1);
        Clock::time_point middle = Clock::now();
        done = done && CountLines(period + ".CAL") == kAppointments;
        StartEmpty(period);
        Clock::time_point restart = Clock::now();
        done = RunHosts(4) && done;
        Clock::time_point end = Clock::now();
        done = done && CountLines(period + ".CAL") == kAppointments;
        if (!done) {
            state.SkipWithError("a host failed or appointments are missing");
            break;
        }
        timing.Add(state, end - restart, middle - start);
        changes.push_back(WriterChanges(period + ".CAL"));
    }
    timing.Report(state, "one_host");
    if (changes.empty()) return;
    std::string label = "writer changes per run:";
    for (int n : changes) label += " " + std::to_string(n);
    state.SetLabel(label);
    std::nth_element(changes.begin(), changes.begin() + changes.size() / 2, changes.end());
    state.counters["writer_changes"] = changes[changes.size() / 2];
}
BENCHMARK(BM_ContendedWriters)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
