// An operation and its baseline, run in turn within every iteration and timed apart, so that a
// machine that gets busier during the run slows both alike. The ratio compares the medians of
// the two: on a machine shared with other work, a preempted iteration is an outlier that a mean
// would carry into the ratio and a median does not. Every sample of both sides is kept, so the
// tail can be reported too: the 99th percentile of each side, taken apart.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

namespace cvbench {

class PairedTiming {
  public:
    using Clock = std::chrono::steady_clock;

    static double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

    // One iteration's times; the operation's is also the iteration's manual time.
    void Add(benchmark::State& state, Clock::duration operation, Clock::duration baseline) {
        operation_.push_back(Seconds(operation));
        baseline_.push_back(Seconds(baseline));
        state.SetIterationTime(Seconds(operation));
    }

    // The counters: the baseline's median time under `baseline_name`, the operation's median
    // time as "median", and "ratio", median operation over median baseline.
    void Report(benchmark::State& state, const std::string& baseline_name = "baseline") {
        if (operation_.empty()) return;
        double operation = Median(&operation_);
        double baseline = Median(&baseline_);
        state.counters["median"] = operation;
        state.counters[baseline_name] = baseline;
        if (baseline > 0) state.counters["ratio"] = operation / baseline;
    }

    // The counters of the tail: each side's 99th percentile in microseconds, "p99_us" and
    // "baseline_p99_us", and "p99_ratio", the first over the second. Needs some thousands of
    // iterations to mean anything: with fewer, the percentile is one of the few slowest samples.
    void ReportTail(benchmark::State& state) {
        if (operation_.empty()) return;
        double operation = Percentile(&operation_, 99);
        double baseline = Percentile(&baseline_, 99);
        state.counters["p99_us"] = operation * 1e6;
        state.counters["baseline_p99_us"] = baseline * 1e6;
        if (baseline > 0) state.counters["p99_ratio"] = operation / baseline;
    }

  private:
    static double Median(std::vector<double>* values) {
        auto middle = values->begin() + static_cast<std::ptrdiff_t>(values->size() / 2);
        std::nth_element(values->begin(), middle, values->end());
        return *middle;
    }

    // The nearest-rank percentile: the smallest sample that at least `percent` % of them do not
    // exceed. Reorders the samples, which are not used in their order afterwards.
    static double Percentile(std::vector<double>* values, size_t percent) {
        size_t rank = (values->size() * percent + 99) / 100;
        auto at = values->begin() + static_cast<std::ptrdiff_t>(rank > 0 ? rank - 1 : 0);
        std::nth_element(values->begin(), at, values->end());
        return *at;
    }

    std::vector<double> operation_;
    std::vector<double> baseline_;
};

}  // namespace cvbench
