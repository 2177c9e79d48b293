// What the library and cvadmind hold on to:
//
// - a host thread that calls every export once and ends must leave nothing behind: 10,000 such
//   threads in turn, the process's resident memory and open descriptors after the last against
//   after the first 100 (by then the allocator's arenas, the thread stacks it caches and the
//   libraries' one-time state are in place, and what grows after is a leak);
// - cvadmind with 64 open, authenticated, idle connections: its resident memory above its idle
//   size, per connection (each connection is a thread with its stack, and what the session keeps).
//
// Memory is not timing: these figures hold on a busy machine too. They are counters of one run
// each; ratios.py holds them to their limits.
#include <benchmark/benchmark.h>

#include <dirent.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_store.h"
#include "bench/report_stream.h"
#include "bench/service_child.h"
#include "common/file_helpers.h"
#include "host/host_files.h"
#include "host/host_thread.h"
#include "include/cvaicp.h"
#include "remote/channel.h"

namespace {

using cvbench::kBenchNoon;

// Resident memory of a process in KiB, from /proc/<pid>/statm (its second field, in pages); -1
// when it cannot be read.
long ResidentKib(const std::string& pid) {
    std::ifstream statm("/proc/" + pid + "/statm");
    long size = 0, resident = -1;
    if (!(statm >> size >> resident)) return -1;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

long OpenDescriptors() {
    DIR* dir = opendir("/proc/self/fd");
    if (dir == nullptr) return -1;
    long count = 0;
    while (const dirent* entry = readdir(dir)) count += entry->d_name[0] != '.';
    closedir(dir);
    return count - 1;  // the listing's own
}

// The number of threads of a process, from /proc/<pid>/status; -1 when it cannot be read.
long ThreadCount(unsigned pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.compare(0, 8, "Threads:") == 0) return std::stol(line.substr(8));
    }
    return -1;
}

// ---- A host thread that calls every export ----------------------------------------------------

template <typename Record>
Record Mailbox() {
    Record record;
    std::memset(&record, 0, sizeof record);
    std::strcpy(record.Postoffice, "po");
    std::strcpy(record.Mailbox, "mb");
    return record;
}

// Every export once, on a thread set up as a host sets up its threads; the store is as it was
// afterwards. The number of exports that did not answer as they should.
int CallEveryExport() {
    cv::HostThread host;
    int wrong = 0;
    auto expect = [&wrong](bool answered) { wrong += answered ? 0 : 1; };
    expect(SetCurrentHost("") == 1);
    expect(AppointmentGetLastError() == 0);

    auto added = Mailbox<AppointmentRequest>();
    std::strcpy(added.PeriodName, "Y26M12D07");
    std::strcpy(added.ItemId, "thread-item");
    added.StartTime = kBenchNoon + 7200;
    added.FinishTime = added.StartTime + 60;
    expect(AppointmentAdd(&added) == 1);
    auto got = added;
    expect(AppointmentGet(&got) == 1);
    auto edited = added;
    edited.FinishTime += 60;
    expect(AppointmentEdit(&added, &edited) == 1);
    auto walk = Mailbox<AppointmentRequest>();
    std::strcpy(walk.PeriodName, "Y26M12D07");
    expect(AppointmentFindFirst(&walk) == 1);
    walk.ItemId[0] = '\0';
    expect(AppointmentFindNext(&walk) == 1);
    expect(AppointmentRemove(&edited) == 1);

    std::unique_ptr<AppointmentItemRequest> item(
        new AppointmentItemRequest(Mailbox<AppointmentItemRequest>()));
    std::strcpy(item->ItemFileName, "thread-item");
    std::strcpy(item->Data, "Subject: made by a thread\r\n\r\n");
    item->DataLength = static_cast<int32_t>(std::strlen(item->Data));
    AppointmentItemWriteFirstChunk(item.get());
    std::strcpy(item->Data, "body");
    item->DataLength = 4;
    AppointmentItemWriteNextChunk(item.get());
    AppointmentItemGetSize(item.get());
    expect(item->DataLength == 33);
    expect(AppointmentItemGetFirstChunk(item.get()) == 1);
    expect(AppointmentItemGetCurrentOffset(item.get()) == 32);
    expect(AppointmentItemGetNextChunk(item.get()) == 0);
    AppointmentItemDelete(item.get());

    std::unique_ptr<FreeBusyRequest> busy(new FreeBusyRequest(Mailbox<FreeBusyRequest>()));
    std::strcpy(busy->NamePrefix, "Y26M12");
    expect(GetFreeBusyData(busy.get()) == 1 && std::strcmp(busy->BusyDays, "07") == 0);

    auto context = Mailbox<ListContext>();
    context.RangeStart = kBenchNoon;
    context.RangeEnd = kBenchNoon + 86400 / 2 - 1;
    std::unique_ptr<ListItem> listed(new ListItem);
    expect(AppointmentListItemFindFirst(&context, listed.get()) == 1);
    expect(AppointmentListItemFindNext(&context, listed.get()) == 1);
    expect(AppointmentListItemFindClose(&context) == 1);
    return wrong;
}

void BM_HostThreadsLeaveNothing(benchmark::State& state) {
    constexpr int kThreads = 10000, kSettled = 100;
    cvbench::BenchStore store("memory-bench");
    cvbench::WriteDay(store, 10, 600, 300);
    long resident[2] = {}, descriptors[2] = {};
    int wrong = 0;
    for (auto _ : state) {
        for (int n = 1; n <= kThreads; ++n) {
            std::thread([&wrong] { wrong += CallEveryExport(); }).join();
            if (n == kSettled || n == kThreads) {
                resident[n == kThreads] = ResidentKib("self");
                descriptors[n == kThreads] = OpenDescriptors();
            }
        }
    }
    if (wrong != 0 || resident[0] < 0 || descriptors[0] < 0) {
        state.SkipWithError("an export answered wrongly, or /proc could not be read");
        return;
    }
    state.counters["resident_growth_kib"] = static_cast<double>(resident[1] - resident[0]);
    state.counters["descriptor_growth"] = static_cast<double>(descriptors[1] - descriptors[0]);
    state.SetItemsProcessed(kThreads);
}
// One run of 10,000 threads: a figure of memory, not a time to average.
BENCHMARK(BM_HostThreadsLeaveNothing)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);

// ---- cvadmind's idle connections --------------------------------------------------------------

// A client as the library connects: AUTH, then LOAD of the provider. -1 when refused.
int OpenAuthenticated(uint16_t port) {
    int fd = cvbench::ConnectLoopback(port);
    const std::string requests[] = {
        std::string("<DATA><METHOD>AUTH</METHOD><PROTOCOL>") + cvbench::kServiceProtocol +
            "</PROTOCOL><CREDENTIALS>" + cvbench::kServiceCredentials +
            "</CREDENTIALS><REALM></REALM><Library>CVAIAU.DLL</Library></DATA>",
        "<DATA><METHOD>LOAD</METHOD><LIBRARY>CVAICP.DLL</LIBRARY></DATA>",
    };
    for (const std::string& request : requests) {
        std::string reply;
        if (fd < 0 || !cvbench::SendBytes(fd, request) || !cvbench::ReceiveReply(fd, &reply) ||
            reply.find(cv::kSuccessText) == std::string::npos) {
            if (fd >= 0) close(fd);
            return -1;
        }
    }
    return fd;
}

void Quit(int fd) {
    cvbench::SendBytes(fd, "<DATA><METHOD>QUIT</METHOD></DATA>");
    close(fd);
}

// Waits until the service runs `threads` threads (its connections' threads have ended); false
// when it does not within ten seconds.
bool AwaitThreads(unsigned pid, long threads) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (ThreadCount(pid) != threads) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

void BM_ServiceIdleConnections(benchmark::State& state) {
    constexpr int kConnections = 64;
    cvbench::BenchStore store("memory-bench");
    cvbench::ServiceChild service;
    // Room for the measured connections beside the one that sets the service up.
    if (!service.Start(store, "max-connections = 80\nidle-timeout = 600\n")) {
        state.SkipWithError("cvadmind did not start");
        return;
    }
    const std::string pid = std::to_string(service.pid());
    const long idle_threads = ThreadCount(service.pid());
    // One connection first, which loads the provider for the whole process: the idle service is
    // one that has served.
    int first = OpenAuthenticated(service.port());
    if (first < 0) {
        state.SkipWithError("cvadmind refused the first connection");
        return;
    }
    Quit(first);
    long idle = 0, open = 0, after = 0;
    bool settled = AwaitThreads(service.pid(), idle_threads);
    for (auto _ : state) {
        idle = ResidentKib(pid);
        std::vector<int> clients;
        for (int i = 0; i < kConnections; ++i) clients.push_back(OpenAuthenticated(service.port()));
        open = ResidentKib(pid);
        for (int fd : clients) {
            if (fd < 0) settled = false;
            if (fd >= 0) Quit(fd);
        }
        settled = settled && AwaitThreads(service.pid(), idle_threads);
        after = ResidentKib(pid);
    }
    if (!settled || idle < 0 || open < 0) {
        state.SkipWithError("a connection was refused, or the service's threads did not end");
        return;
    }
    state.counters["idle_kib"] = static_cast<double>(idle);
    state.counters["kib_per_connection"] = static_cast<double>(open - idle) / kConnections;
    state.counters["left_after_close_kib"] = static_cast<double>(after - idle);
}
// One round from the service's idle size: later rounds would start from what the first left in
// the allocator's caches.
BENCHMARK(BM_ServiceIdleConnections)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

// The provider and the service's packing code print on standard output; the report goes to the
// original standard output (see report_stream.h).
int main(int argc, char** argv) {
    return cvbench::RunWithReportAside(argc, argv, "memory_bench");
}
