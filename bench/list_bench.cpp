// The list enumeration over a day of 100 and 1,000 appointments, with no stylesheet and with one
// that sorts latest-first: FindFirst (which scans the day), and then every FindNext, whose cost per
// item must not grow with the position (each steps to the next element instead of counting from
// the first: the last 100 of a day of 1,000 are timed beside the first 100); and the whole listing
// of a day of 1,000, FindFirst and every FindNext together.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "bench/bench_store.h"
#include "bench/paired_timing.h"
#include "common/file_helpers.h"
#include "host/host_files.h"
#include "host/host_thread.h"
#include "include/cvaicp.h"

namespace {

using cvbench::kBenchNoon;

const char kLatestFirst[] =
    "<xsl:stylesheet version=\"1.0\" xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\">"
    "<xsl:template match=\"/BASEELEMENT\"><BASEELEMENT>"
    "<xsl:for-each select=\"ELEMENT\"><xsl:sort select=\"START\" data-type=\"number\" "
    "order=\"descending\"/><xsl:copy-of select=\".\"/></xsl:for-each>"
    "</BASEELEMENT></xsl:template></xsl:stylesheet>";

ListContext DayContext(const char* stylesheet) {
    ListContext context;
    std::memset(&context, 0, sizeof context);
    std::strcpy(context.Postoffice, "po");
    std::strcpy(context.Mailbox, "mb");
    std::strcpy(context.Stylesheet, stylesheet);
    context.RangeStart = kBenchNoon;
    context.RangeEnd = kBenchNoon + 86400 / 2 - 1;
    return context;
}

// FindFirst: the scan of the day's period files and item files, the stylesheet, the first item.
void FindFirst(benchmark::State& state, const char* stylesheet) {
    cv::HostThread host;
    cvbench::BenchStore store("list-bench");
    cvbench::WriteDay(store, static_cast<int>(state.range(0)), 30, 20);
    ListContext context = DayContext(stylesheet);
    ListItem item;
    for (auto _ : state) {
        benchmark::DoNotOptimize(AppointmentListItemFindFirst(&context, &item));
        AppointmentListItemFindClose(&context);
    }
}

// Every FindNext after it: this is what must cost the same per item at any position.
void FindNext(benchmark::State& state, const char* stylesheet) {
    cv::HostThread host;
    cvbench::BenchStore store("list-bench");
    cvbench::WriteDay(store, static_cast<int>(state.range(0)), 30, 20);
    ListContext context = DayContext(stylesheet);
    ListItem item;
    int64_t items = 0;
    for (auto _ : state) {
        state.PauseTiming();
        AppointmentListItemFindFirst(&context, &item);
        state.ResumeTiming();
        while (AppointmentListItemFindNext(&context, &item)) ++items;
        state.PauseTiming();
        AppointmentListItemFindClose(&context);
        state.ResumeTiming();
    }
    state.SetItemsProcessed(items);
    state.counters["time_per_item"] = benchmark::Counter(
        static_cast<double>(items), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// A whole listing as a host makes it: FindFirst, then FindNext until the day is done. Reported
// in total and per item, in wall-clock time (the scan waits for the disk as well).
void WholeDay(benchmark::State& state, const char* stylesheet) {
    cv::HostThread host;
    cvbench::BenchStore store("list-bench");
    cvbench::WriteDay(store, static_cast<int>(state.range(0)), 30, 20);
    ListContext context = DayContext(stylesheet);
    ListItem item;
    int64_t items = 0;
    for (auto _ : state) {
        for (int32_t more = AppointmentListItemFindFirst(&context, &item); more;
             more = AppointmentListItemFindNext(&context, &item)) {
            ++items;
        }
        AppointmentListItemFindClose(&context);
    }
    if (items != state.range(0) * static_cast<int64_t>(state.iterations())) {
        state.SkipWithError("the listing did not hand out every appointment");
    }
    state.SetItemsProcessed(items);
    state.counters["time_per_item"] = benchmark::Counter(
        static_cast<double>(items), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// FindNext at the end of a day against FindNext at its start: the last 100 items of a day of
// 1,000 beside the first 100, timed apart in every listing (see paired_timing.h).
void ByPosition(benchmark::State& state, const char* stylesheet) {
    constexpr int kDay = 1000, kStretch = 100;
    cv::HostThread host;
    cvbench::BenchStore store("list-bench");
    cvbench::WriteDay(store, kDay, 30, 20);
    ListContext context = DayContext(stylesheet);
    ListItem item;
    cvbench::PairedTiming timing;
    for (auto _ : state) {
        int handed_out = AppointmentListItemFindFirst(&context, &item);
        cvbench::PairedTiming::Clock::duration stretch[2] = {};
        for (int at = 1; at < kDay; ++at) {
            auto start = cvbench::PairedTiming::Clock::now();
            handed_out += AppointmentListItemFindNext(&context, &item);
            auto taken = cvbench::PairedTiming::Clock::now() - start;
            if (at <= kStretch) stretch[0] += taken;
            if (at >= kDay - kStretch) stretch[1] += taken;
        }
        AppointmentListItemFindClose(&context);
        if (handed_out != kDay) {
            state.SkipWithError("the listing did not hand out every appointment");
            break;
        }
        timing.Add(state, stretch[1], stretch[0]);
    }
    timing.Report(state, "first_100");
}

void BM_ListFindFirst(benchmark::State& state) {
    FindFirst(state, "");
}
void BM_ListFindFirstSorted(benchmark::State& state) {
    FindFirst(state, kLatestFirst);
}
void BM_ListFindNext(benchmark::State& state) {
    FindNext(state, "");
}
void BM_ListFindNextSorted(benchmark::State& state) {
    FindNext(state, kLatestFirst);
}
void BM_ListWholeDay(benchmark::State& state) {
    WholeDay(state, "");
}
void BM_ListWholeDaySorted(benchmark::State& state) {
    WholeDay(state, kLatestFirst);
}
void BM_ListFindNextByPosition(benchmark::State& state) {
    ByPosition(state, "");
}
void BM_ListFindNextByPositionSorted(benchmark::State& state) {
    ByPosition(state, kLatestFirst);
}
BENCHMARK(BM_ListFindFirst)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ListFindFirstSorted)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ListFindNext)->Arg(100)->Arg(1000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ListFindNextSorted)->Arg(100)->Arg(1000)->Unit(benchmark::kMicrosecond);
// Each listing scans the day first (tens of milliseconds): a fixed number of them.
BENCHMARK(BM_ListFindNextByPosition)
    ->UseManualTime()
    ->Iterations(15)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ListFindNextByPositionSorted)
    ->UseManualTime()
    ->Iterations(15)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ListWholeDay)->Arg(1000)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ListWholeDaySorted)->Arg(1000)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
