// An operation and its baseline, run in turn within every iteration and timed apart, so that a
// machine that gets busier during the run slows both alike. The ratio compares the medians of
// the two: on a machine shared with other work, a preempted iteration is an outlier that a mean
// would carry into the ratio and a median does not.
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

  private:
    static double Median(std::vector<double>* values) {
        auto middle = values->begin() + static_cast<std::ptrdiff_t>(values->size() / 2);
        std::nth_element(values->begin(), middle, values->end());
        return *middle;
    }

    std::vector<double> operation_;
    std::vector<double> baseline_;
};

}  // namespace cvbench
