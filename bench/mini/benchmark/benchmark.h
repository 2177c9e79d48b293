// A stand-in for Google Benchmark where the library is not available: the mingw build, which runs
// the appointment, walk and contention benchmarks against CVAICP.DLL under Wine. The Windows
// benchmarks find this file as <benchmark/benchmark.h>, so that they are the same sources as the
// native ones. It has only what those programs use, and runs and reports as the library does:
//
// - each benchmark runs with 1, 10, ... iterations, as many as the last run suggests, until its
//   time (the manual time where it keeps one, else the thread's processor time) reaches half a
//   second; with Iterations(n) it runs once, n times;
// - a rate counter is divided by that time, an inverted one turned over;
// - --benchmark_out=FILE --benchmark_out_format=json writes the runs in the library's JSON shape
//   (names such as "BM_Walk/100/manual_time", the counters beside "real_time" and "time_unit"),
//   which bench/ratios.py reads; --benchmark_filter=REGEX picks benchmarks by name.
#pragma once

#ifdef _WIN32
#include <windows.h>
#else
#include <time.h>
#endif

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <regex>
#include <string>
#include <vector>

namespace benchmark {

enum TimeUnit { kNanosecond, kMicrosecond, kMillisecond, kSecond };

class Counter {
  public:
    enum Flags { kDefaults = 0, kIsRate = 1, kInvert = 1 << 31 };
    Counter(double v = 0, Flags f = kDefaults) : value(v), flags(f) {}
    double value;
    Flags flags;
};
inline Counter::Flags operator|(Counter::Flags a, Counter::Flags b) {
    return static_cast<Counter::Flags>(static_cast<unsigned>(a) | static_cast<unsigned>(b));
}

template <typename T>
inline void DoNotOptimize(T const& value) {
    asm volatile("" : : "r,m"(value) : "memory");
}

namespace internal {

// The calling thread's processor time in seconds, which the library measures by default.
inline double ThreadCpuSeconds() {
#ifdef _WIN32
    FILETIME created, ended, kernel, user;
    if (!GetThreadTimes(GetCurrentThread(), &created, &ended, &kernel, &user)) return 0;
    auto ticks = [](const FILETIME& t) {
        return (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
    };
    return static_cast<double>(ticks(kernel) + ticks(user)) * 1e-7;
#else
    timespec now;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
#endif
}

class Runner;

}  // namespace internal

class State {
  public:
    using Clock = std::chrono::steady_clock;

    State(int64_t iterations, std::vector<int64_t> args)
        : total_(iterations), left_(iterations), args_(std::move(args)) {}

    struct Iterator {
        struct [[maybe_unused]] Value {};
        State* state;
        Value operator*() const { return Value(); }
        Iterator& operator++() {
            --state->left_;
            return *this;
        }
        bool operator!=(const Iterator&) const {
            if (state->left_ > 0) return true;
            state->Stop();
            return false;
        }
    };
    Iterator begin() {
        started_ = Clock::now();
        cpu_started_ = internal::ThreadCpuSeconds();
        running_ = true;
        return Iterator{this};
    }
    Iterator end() { return Iterator{this}; }

    int64_t range(size_t i) const { return i < args_.size() ? args_[i] : 0; }
    int64_t iterations() const { return total_ - left_; }
    void SetIterationTime(double seconds) { manual_ += seconds; }
    void SetItemsProcessed(int64_t items) { items_ = items; }
    void SetLabel(const std::string& label) { label_ = label; }
    void SkipWithError(const std::string& message) {
        error_ = message;
        failed_ = true;
        left_ = 0;
    }

    std::map<std::string, Counter> counters;

  private:
    friend class internal::Runner;
    void Stop() {
        if (!running_) return;
        running_ = false;
        real_ = std::chrono::duration<double>(Clock::now() - started_).count();
        cpu_ = internal::ThreadCpuSeconds() - cpu_started_;
    }

    const int64_t total_;
    int64_t left_;
    std::vector<int64_t> args_;
    bool running_ = false;
    Clock::time_point started_;
    double cpu_started_ = 0;
    // What the run measured, in seconds, and what it reported.
    double real_ = 0, cpu_ = 0, manual_ = 0;
    int64_t items_ = -1;
    std::string label_, error_;
    bool failed_ = false;
};

namespace internal {

class Benchmark {
  public:
    Benchmark(const char* name, void (*function)(State&)) : name_(name), function_(function) {}
    Benchmark* Arg(int64_t value) {
        args_.push_back({value});
        return this;
    }
    Benchmark* UseManualTime() {
        manual_time_ = true;
        return this;
    }
    Benchmark* Iterations(int64_t n) {
        iterations_ = n;
        return this;
    }
    Benchmark* Unit(TimeUnit unit) {
        unit_ = unit;
        return this;
    }
    Benchmark* Apply(void (*apply)(Benchmark*)) {
        apply(this);
        return this;
    }

    std::string name_;
    void (*function_)(State&);
    std::vector<std::vector<int64_t>> args_;
    bool manual_time_ = false;
    int64_t iterations_ = 0;
    TimeUnit unit_ = kNanosecond;
};

inline std::vector<std::unique_ptr<Benchmark>>& Registered() {
    static std::vector<std::unique_ptr<Benchmark>> all;
    return all;
}

inline Benchmark* Register(const char* name, void (*function)(State&)) {
    Registered().push_back(std::make_unique<Benchmark>(name, function));
    return Registered().back().get();
}

// One reported run: a benchmark with one of its arguments, at the iteration count it settled on.
struct Run {
    std::string name;
    int64_t iterations = 0;
    double real_time = 0, cpu_time = 0;  // per iteration, in the unit
    const char* unit = "ns";
    std::map<std::string, double> counters;
    std::string label, error;
};

class Runner {
  public:
    // The name the library gives a run, such as "BM_Add/10/manual_time"; filters match it.
    static std::string Name(const Benchmark& b, const std::vector<int64_t>& args) {
        std::string name = b.name_;
        for (int64_t a : args) name += "/" + std::to_string(a);
        if (b.iterations_ > 0) name += "/iterations:" + std::to_string(b.iterations_);
        if (b.manual_time_) name += "/manual_time";
        return name;
    }

    static Run Measure(const Benchmark& b, const std::vector<int64_t>& args) {
        constexpr double kMinTime = 0.5;
        constexpr int64_t kMaxIterations = 1000000000;
        Run run;
        run.name = Name(b, args);
        int64_t iterations = b.iterations_ > 0 ? b.iterations_ : 1;
        for (;;) {
            State state(iterations, args);
            b.function_(state);
            state.Stop();
            double seconds = b.manual_time_ ? state.manual_ : state.cpu_;
            bool enough = b.iterations_ > 0 || state.failed_ || seconds >= kMinTime ||
                          iterations >= kMaxIterations ||
                          (!b.manual_time_ && state.real_ >= 5 * kMinTime);
            if (enough) return Report(b, state, iterations, seconds, run);
            double multiplier =
                seconds / kMinTime > 0.1 ? kMinTime * 1.4 / std::max(seconds, 1e-9) : 10.0;
            double next = std::max(multiplier * static_cast<double>(iterations),
                                   static_cast<double>(iterations) + 1);
            iterations = std::min(static_cast<int64_t>(std::llround(next)), kMaxIterations);
        }
    }

  private:
    static Run Report(const Benchmark& b, const State& state, int64_t iterations, double seconds,
                      Run run) {
        static const char* const kUnits[] = {"ns", "us", "ms", "s"};
        static const double kScales[] = {1e9, 1e6, 1e3, 1};
        run.error = state.error_;
        if (state.failed_) return run;
        run.iterations = iterations;
        run.unit = kUnits[b.unit_];
        double per = kScales[b.unit_] / static_cast<double>(iterations);
        run.real_time = (b.manual_time_ ? state.manual_ : state.real_) * per;
        run.cpu_time = state.cpu_ * per;
        run.label = state.label_;
        for (const auto& [name, counter] : state.counters) {
            double value = counter.value;
            if (counter.flags & Counter::kIsRate) value /= seconds;
            if (counter.flags & Counter::kInvert) value = 1 / value;
            run.counters[name] = value;
        }
        if (state.items_ >= 0) run.counters["items_per_second"] = state.items_ / seconds;
        return run;
    }
};

inline std::string JsonText(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

inline void WriteJson(std::FILE* out, const char* program, const std::vector<Run>& runs) {
    std::fprintf(out, "{\n  \"context\": {\"executable\": %s},\n  \"benchmarks\": [",
                 JsonText(program).c_str());
    const char* separator = "\n";
    for (const Run& run : runs) {
        std::fprintf(out, "%s    {\"name\": %s, \"run_name\": %s, \"run_type\": \"iteration\"",
                     separator, JsonText(run.name).c_str(), JsonText(run.name).c_str());
        separator = ",\n";
        if (!run.error.empty()) {
            std::fprintf(out, ", \"error_occurred\": true, \"error_message\": %s}",
                         JsonText(run.error).c_str());
            continue;
        }
        std::fprintf(out,
                     ", \"iterations\": %lld, \"real_time\": %.17g, \"cpu_time\": %.17g, "
                     "\"time_unit\": \"%s\"",
                     static_cast<long long>(run.iterations), run.real_time, run.cpu_time, run.unit);
        for (const auto& [name, value] : run.counters) {
            std::fprintf(out, ", %s: %.17g", JsonText(name).c_str(), value);
        }
        if (!run.label.empty()) std::fprintf(out, ", \"label\": %s", JsonText(run.label).c_str());
        std::fprintf(out, "}");
    }
    std::fprintf(out, "\n  ]\n}\n");
}

inline void PrintRun(const Run& run) {
    if (!run.error.empty()) {
        std::printf("%-44s ERROR OCCURRED: '%s'\n", run.name.c_str(), run.error.c_str());
    } else {
        std::printf("%-44s %12.4g %-2s %12.4g %-2s %10lld", run.name.c_str(), run.real_time,
                    run.unit, run.cpu_time, run.unit, static_cast<long long>(run.iterations));
        for (const auto& [name, value] : run.counters) {
            std::printf(" %s=%.4g", name.c_str(), value);
        }
        if (!run.label.empty()) std::printf(" %s", run.label.c_str());
        std::printf("\n");
    }
    std::fflush(stdout);
}

inline int Main(int argc, char** argv) {
    std::string out, format = "json", filter = ".";
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&](const char* flag, std::string* to) {
            size_t length = std::strlen(flag);
            if (arg.compare(0, length, flag) != 0) return false;
            *to = arg.substr(length);
            return true;
        };
        if (!value("--benchmark_out=", &out) && !value("--benchmark_out_format=", &format) &&
            !value("--benchmark_filter=", &filter)) {
            std::fprintf(stderr, "%s: unrecognized command-line flag: %s\n", argv[0], argv[i]);
            return 1;
        }
    }
    if (format != "json") {
        std::fprintf(stderr, "%s: only --benchmark_out_format=json is known\n", argv[0]);
        return 1;
    }
    std::regex wanted(filter);
    std::vector<Run> runs;
    std::printf("%-44s %15s %15s %10s\n", "Benchmark", "Time", "CPU", "Iterations");
    for (const auto& b : Registered()) {
        std::vector<std::vector<int64_t>> argument_lists = b->args_;
        if (argument_lists.empty()) argument_lists.emplace_back();
        for (const auto& args : argument_lists) {
            if (!std::regex_search(Runner::Name(*b, args), wanted)) continue;
            runs.push_back(Runner::Measure(*b, args));
            PrintRun(runs.back());
        }
    }
    if (out.empty()) return 0;
    std::FILE* file = std::fopen(out.c_str(), "w");
    if (file == nullptr) {
        std::fprintf(stderr, "%s: cannot write %s\n", argv[0], out.c_str());
        return 1;
    }
    WriteJson(file, argv[0], runs);
    return std::fclose(file) == 0 ? 0 : 1;
}

}  // namespace internal
}  // namespace benchmark

#define CV_MINI_BENCHMARK_NAME2(line) cv_mini_benchmark_##line
#define CV_MINI_BENCHMARK_NAME(line) CV_MINI_BENCHMARK_NAME2(line)
#define BENCHMARK(function)                                                                      \
    [[maybe_unused]] static ::benchmark::internal::Benchmark* CV_MINI_BENCHMARK_NAME(__LINE__) = \
        ::benchmark::internal::Register(#function, function)
#define BENCHMARK_MAIN()                                \
    int main(int argc, char** argv) {                   \
        return ::benchmark::internal::Main(argc, argv); \
    }
