// A mailbox with 20 years of history (history_store.h), made once for the whole program:
//
// - the full reindex scan of its calendar folder (every period file, every item file's headers,
//   the index saved as "_index.xml") beside a plain reader that opens each item file and reads
//   its header lines up to the empty line: what the scan cannot do without;
// - FindNext through the busy day of 5,000: the last 500 beside the first 500 of each listing;
// - free/busy of a month and of a year beside a plain directory listing of the same names: the
//   folder holds some 57,000 entries, and free/busy must cost about the one pass over them that
//   any search for the names takes.
//
// Each operation and its baseline run in turn within every iteration (see paired_timing.h).
#include <benchmark/benchmark.h>

#include <dirent.h>
#include <malloc.h>
#include <strings.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "bench/history_store.h"
#include "bench/paired_timing.h"
#include "common/file_helpers.h"
#include "common/text_helpers.h"
#include "host/host_platform.h"
#include "host/host_thread.h"
#include "include/cvaicp.h"
#include "index/store_index.h"
#include "index_api/folder_scan.h"

namespace {

using Clock = cvbench::PairedTiming::Clock;

cvbench::HistoryStore* g_history = nullptr;

// The baseline of the scan: each item file opened and its header lines read, as fgets reads them,
// up to the empty line. The number of files read.
int ReadHeaderBlocks() {
    const std::string folder = g_history->store().calendar() + "/";
    int read = 0;
    char line[2048];
    for (const std::string& id : g_history->item_ids()) {
        std::FILE* file = std::fopen((folder + id).c_str(), "rb");
        if (file == nullptr) continue;
        while (std::fgets(line, sizeof line, file) != nullptr && line[0] != '\r' &&
               line[0] != '\n') {
            benchmark::DoNotOptimize(line);
        }
        std::fclose(file);
        ++read;
    }
    return read;
}

int32_t IndexedItems(const cv::StoreIndex& index) {
    cv::XmlNode root, child;
    if (!index.FolderIndex.DocumentElement(&root)) return -1;
    int32_t count = 0;
    for (bool more = root.FirstChild(&child); more; more = child.NextSibling(&child)) ++count;
    return count;
}

// The full scan per item against the header reader per item: the same 50,000 items in both, so
// the ratio of the totals is the ratio per item.
void BM_HistoryReindex(benchmark::State& state) {
    cv::HostThread host;
    cv::StoreIndex index;
    cv::CopyBounded(index.PostofficeName, "po", sizeof index.PostofficeName);
    cv::CopyBounded(index.MailboxName, "mb", sizeof index.MailboxName);
    cv::CopyBounded(index.FolderName, "Calendar", sizeof index.FolderName);
    cvbench::PairedTiming timing;
    for (auto _ : state) {
        cv::StoreIndex_Release(&index);  // the scan builds into a fresh document
        Clock::time_point start = Clock::now();
        int scanned = cv::ScanCalendarIndex(&index, nullptr);
        Clock::time_point middle = Clock::now();
        int read = ReadHeaderBlocks();
        Clock::time_point end = Clock::now();
        if (scanned != 1 || IndexedItems(index) != cvbench::HistoryStore::kAppointments ||
            read != cvbench::HistoryStore::kAppointments) {
            state.SkipWithError("the scan or the reader missed items");
            break;
        }
        timing.Add(state, middle - start, end - middle);
    }
    cv::StoreIndex_Close(&index);
    timing.Report(state, "header_reads");
    state.SetItemsProcessed(state.iterations() * cvbench::HistoryStore::kAppointments);
}
// Each iteration reads 50,000 files twice (seconds): a fixed number of them, enough that one
// busy spell of a shared machine, which slows the scan and the reader unequally, does not decide
// the medians (with five, the ratio of one build ranged from 1.4 to 2.5; with nine, 1.7 to 1.9).
BENCHMARK(BM_HistoryReindex)->UseManualTime()->Iterations(9)->Unit(benchmark::kMillisecond);

// Runs a program with its standard output set aside; its exit code, or -1.
int RunQuietly(const std::string& command) {
    cv::ChildProcess child;
    // Both sides go through the same shell, so that neither pays for it alone.
    if (!child.Start({"/bin/sh", "-c", "exec " + command + " >/dev/null"})) return -1;
    return child.Wait();
}

// `cvcal reindex` as an operator runs it, a whole process, beside the plain header reader as a
// process of its own: the scan above and all that the command does around it (its start, the
// configuration, the look at the folder, the index saved).
void BM_HistoryReindexCommand(benchmark::State& state) {
    const std::string calendar = g_history->store().calendar();
    const std::string index = calendar + "/_index.xml";
    const std::string cvcal = std::string(CV_CVCAL) + " reindex --mailbox mb --postoffice po";
    const std::string reader = std::string(CV_HEADER_READER) + " " + calendar;
    cvbench::PairedTiming timing;
    for (auto _ : state) {
        cv::RemoveFile(index.c_str());  // so that the command rebuilds it, not loads it
        Clock::time_point start = Clock::now();
        int reindexed = RunQuietly(cvcal);
        Clock::time_point middle = Clock::now();
        int read = RunQuietly(reader);
        Clock::time_point end = Clock::now();
        if (reindexed != 0 || read != 0 || !cv::EntryExists(index.c_str())) {
            state.SkipWithError("cvcal reindex or the header reader failed");
            break;
        }
        timing.Add(state, middle - start, end - middle);
    }
    timing.Report(state, "header_reads");
    state.SetItemsProcessed(state.iterations() * cvbench::HistoryStore::kAppointments);
}
BENCHMARK(BM_HistoryReindexCommand)->UseManualTime()->Iterations(9)->Unit(benchmark::kMillisecond);

// FindNext at the end of the busy day against FindNext at its start, timed apart in every listing.
void BM_HistoryListFindNextByPosition(benchmark::State& state) {
    constexpr int kDay = cvbench::HistoryStore::kBusyDayAppointments, kStretch = 500;
    cv::HostThread host;
    ListContext context;
    std::memset(&context, 0, sizeof context);
    std::strcpy(context.Postoffice, "po");
    std::strcpy(context.Mailbox, "mb");
    context.RangeStart = cvbench::HistoryStore::kBusyNoon;
    context.RangeEnd = cvbench::HistoryStore::busy_day_end();
    std::unique_ptr<ListItem> item(new ListItem);
    cvbench::PairedTiming timing;
    for (auto _ : state) {
        int handed_out = AppointmentListItemFindFirst(&context, item.get());
        Clock::duration stretch[2] = {};
        for (int at = 1; at < kDay; ++at) {
            Clock::time_point start = Clock::now();
            handed_out += AppointmentListItemFindNext(&context, item.get());
            Clock::duration taken = Clock::now() - start;
            if (at <= kStretch) stretch[0] += taken;
            if (at >= kDay - kStretch) stretch[1] += taken;
        }
        AppointmentListItemFindClose(&context);
        if (handed_out != kDay) {
            state.SkipWithError("the listing did not hand out every appointment of the day");
            break;
        }
        timing.Add(state, stretch[1], stretch[0]);
    }
    timing.Report(state, "first_500");
}
// Each listing scans the day first (5,000 item files): a fixed number of them.
BENCHMARK(BM_HistoryListFindNextByPosition)
    ->UseManualTime()
    ->Iterations(15)
    ->Unit(benchmark::kMicrosecond);

// The baseline of free/busy: the folder read once, the names that begin with the prefix (any
// letter case) and end in ".CAL" kept. The number of day files among them.
int ListPeriodNames(const char* prefix, std::string* names) {
    names->clear();
    DIR* dir = opendir(g_history->store().calendar().c_str());
    if (dir == nullptr) return -1;
    const size_t prefix_length = std::strlen(prefix);
    int days = 0;
    while (const dirent* entry = readdir(dir)) {
        const size_t length = std::strlen(entry->d_name);
        if (length < prefix_length + 4 || strncasecmp(entry->d_name, prefix, prefix_length) != 0 ||
            strcasecmp(entry->d_name + length - 4, ".CAL") != 0) {
            continue;
        }
        names->append(entry->d_name).push_back(',');
        if (std::strchr(entry->d_name + prefix_length, 'D') != nullptr) ++days;
    }
    closedir(dir);
    return days;
}

int CommaSeparatedCount(const FreeBusyRequest& request) {
    if (request.BusyDaysLength == 0) return 0;
    int count = 1;
    for (int32_t i = 0; i < request.BusyDaysLength; ++i) count += request.BusyDays[i] == ',';
    return count;
}

// A month's prefix ("Y26M03") matches its month file and its day files; a year's ("Y26M") every
// month and day file of the year, but not the year file itself ("Y26.CAL"), which no day's
// appointment is in.
void FreeBusy(benchmark::State& state, const char* prefix) {
    cv::HostThread host;
    std::unique_ptr<FreeBusyRequest> request(new FreeBusyRequest);
    std::string names;
    cvbench::PairedTiming timing;
    for (auto _ : state) {
        std::memset(request.get(), 0, sizeof *request);
        std::strcpy(request->Postoffice, "po");
        std::strcpy(request->Mailbox, "mb");
        std::strcpy(request->NamePrefix, prefix);
        Clock::time_point start = Clock::now();
        int32_t answered = GetFreeBusyData(request.get());
        Clock::time_point middle = Clock::now();
        int days = ListPeriodNames(prefix, &names);
        Clock::time_point end = Clock::now();
        if (answered != 1 || days <= 0 || CommaSeparatedCount(*request) != days) {
            state.SkipWithError("free/busy and the directory listing disagree");
            break;
        }
        timing.Add(state, middle - start, end - middle);
    }
    timing.Report(state, "listing");
}

void BM_HistoryFreeBusyMonth(benchmark::State& state) {
    FreeBusy(state, "Y26M03");
}
void BM_HistoryFreeBusyYear(benchmark::State& state) {
    FreeBusy(state, "Y26M");
}
BENCHMARK(BM_HistoryFreeBusyMonth)->UseManualTime()->Iterations(60)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HistoryFreeBusyYear)->UseManualTime()->Iterations(60)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    // The C runtime's heap is kept whole between iterations. Whether glibc hands the memory of
    // the index just released back to the system, for the next scan to fault in again page by
    // page, turns on which small block happens to sit at the top of its heap when the next large
    // one is freed; that shifts with any change to what the program allocates, and swung the
    // scan's figure by a seventh between builds doing the same work.
    mallopt(M_TRIM_THRESHOLD, INT_MAX);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    cvbench::HistoryStore history("history-bench");
    if (!history.ok()) {
        std::fprintf(stderr, "history_bench: cannot write the history store\n");
        return 1;
    }
    g_history = &history;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    g_history = nullptr;
    return 0;
}
