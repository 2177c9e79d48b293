// Writers of one period in several processes at once: four hosts adding 100 appointments each,
// beside one host adding all 400. The blocking file lets one writer in at a time, so the work
// cannot spread; what the comparison shows is what the contention itself costs (the polling
// waits, the processes' turns). Each host is the test suite's writer driver, which loads the
// library as the mail server does; the waits of the blocking files are at their defaults.
//
// Both runs happen in every iteration, one after the other and timed apart (see paired_timing.h),
// each from an empty period. The hosts are started, and once all of them have loaded the library
// they are let go at once; the time runs from then to the end of the last one. So neither side
// counts the processes' start, which the four make side by side and the one alone, and the four
// do not run alone in turn for a while as they start one after another. The reported time is the
// four hosts' mean; the counters give the medians and their ratio.
//
// How the four took their turns: an addition appends its line to the period file, so the file
// lists the additions in the order they were made, and each line's id names its host. The number
// of changes of host along the 400 lines (median over the iterations, each run in the label) says
// whether the file was handed about (some hundreds) or one host kept it for long runs of its
// additions while the others waited (a handful). What that costs a host shows in the times of its
// calls, which the driver writes: max_wait_over_median is a host's longest addition over its
// median one, waiting included, for the host that fares worst (median over the iterations, each
// run in the label).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "bench/bench_store.h"
#include "bench/paired_timing.h"
#include "common/file_helpers.h"
#include "host/host_files.h"
#include "host/host_platform.h"
#include "platform/platform.h"

namespace {

using Clock = cvbench::PairedTiming::Clock;

constexpr int kAppointments = 400;

double Median(std::vector<double> values) {
    std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
    return values[values.size() / 2];
}

// A host's longest call over its median one, from the driver's file of times; 0 when the file
// cannot be read or holds none.
double LongestOverMedian(const std::string& path) {
    std::string text;
    std::vector<double> calls;
    if (!cv::ReadWholeFile(path.c_str(), &text)) return 0;
    char* end;
    for (const char* at = text.c_str();; at = end) {
        double took = std::strtod(at, &end);
        if (end == at) break;
        calls.push_back(took);
    }
    if (calls.empty() || Median(calls) <= 0) return 0;
    return *std::max_element(calls.begin(), calls.end()) / Median(calls);
}

// Starts `hosts` drivers that add kAppointments / hosts appointments each to the period P, lets
// them go at once when all are ready, and waits for all of them. *took: from letting them go to
// the end of the last one; *worst (when asked for): the largest LongestOverMedian among them.
// False when a host could not start or had an addition refused.
bool RunHosts(const std::string& root, int hosts, Clock::duration* took, double* worst) {
    const std::string gate = root + "/go";
    auto times = [&](int i) { return root + "/times-" + std::to_string(i); };
    cv::RemoveFile(gate.c_str());
    static const std::string driver = cvbench::BuildFile(CV_WRITER_DRIVER);
    static const std::string library = cvbench::BuildFile(CV_PROVIDER_LIBRARY);
    std::vector<std::unique_ptr<cv::ChildProcess>> children;
    bool started = true;
    for (int i = 0; i < hosts && started; ++i) {
        cv::RemoveFile(times(i).c_str());
        children.push_back(std::make_unique<cv::ChildProcess>());
        started = children.back()->Start({driver, "--after", gate, "--times", times(i), library,
                                          "po", "mb", "-", "add", "host" + std::to_string(i),
                                          std::to_string(kAppointments / hosts), "0", "P"});
    }
    // A host makes its file of times once it has loaded the library, then waits at the gate.
    for (int i = 0, waited = 0; started && i < hosts && waited < 60000;) {
        if (cv::EntryExists(times(i).c_str())) {
            ++i;
        } else {
            cv::SleepMilliseconds(1);
            ++waited;
        }
    }
    Clock::time_point start = Clock::now();
    bool refused = !started || !cv::WriteWholeFile(gate.c_str(), "");
    for (auto& child : children) {
        int status = child->running() ? child->Wait() : -1;
        if (status != 0) {
            std::fprintf(stderr, "contention_bench: a host ended with %d\n", status);
            refused = true;
        }
    }
    *took = Clock::now() - start;
    if (worst != nullptr) {
        *worst = 0;
        for (int i = 0; i < hosts; ++i) *worst = std::max(*worst, LongestOverMedian(times(i)));
    }
    return !refused;
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
    std::vector<double> changes, worst;
    for (auto _ : state) {
        Clock::duration one, four;
        double four_worst;
        StartEmpty(period);
        bool done = RunHosts(store.root(), 1, &one, nullptr);
        done = done && CountLines(period + ".CAL") == kAppointments;
        StartEmpty(period);
        done = RunHosts(store.root(), 4, &four, &four_worst) && done;
        done = done && CountLines(period + ".CAL") == kAppointments;
        if (!done) {
            state.SkipWithError("a host failed or appointments are missing");
            break;
        }
        timing.Add(state, four, one);
        changes.push_back(WriterChanges(period + ".CAL"));
        worst.push_back(four_worst);
    }
    timing.Report(state, "one_host");
    if (changes.empty()) return;
    std::string label = "writer changes per run:";
    for (double n : changes) label += " " + std::to_string(static_cast<int>(n));
    label += "; longest / median add per run:";
    for (double ratio : worst) {
        char text[32];
        std::snprintf(text, sizeof text, " %.1f", ratio);
        label += text;
    }
    state.SetLabel(label);
    state.counters["writer_changes"] = Median(changes);
    state.counters["max_wait_over_median"] = Median(worst);
}
BENCHMARK(BM_ContendedWriters)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
