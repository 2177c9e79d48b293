// A host of the library for the tests and benchmarks that run it in several processes: loads the
// provider as the mail server does and changes appointments of its own, logging each call.
//
//   writer_driver [--registry FILE.reg] [--after FILE] [--times FILE] LIBRARY POSTOFFICE MAILBOX
//                 LOG|- SCRIPT PREFIX COUNT SEED PERIOD...
//
// --after waits (a minute at most) until FILE exists, so that processes that start at different
// speeds write at one time. --times writes how long each call took, in microseconds, one a line in
// the order of the calls; the file is made once the library is loaded, before the wait of --after,
// so that its existence says that the process is ready to write. Appointment i is PREFIX-i, in
// PERIOD number i modulo their count.
// SCRIPT "add" adds COUNT appointments; "cycle" adds COUNT, edits each once (its times move by
// 1000 s) and removes every third one, interleaved: add i, edit i-1, remove i-2 when 3 divides it;
// "churn" makes COUNT calls chosen at random from SEED (add a new one, edit or remove an old one).
//
// Each call is logged as "add|edit|remove PERIOD ID START FINISH" before it is made, then " RESULT"
// and the line break, each in one write: a line without its result is the call that was under way
// when the process was killed. Exit codes: 0 when every call returned 1; 1 when some did not; 2 on
// bad arguments; 3 when the library, the log or the times cannot be opened.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "host/host_platform.h"
#include "host/registry_import.h"
#include "include/cvaicp.h"
#include "platform/platform.h"
#include "tests/support/records.h"

namespace {

using AddFn = int32_t(CVAPI*)(AppointmentRequest*);
using EditFn = int32_t(CVAPI*)(AppointmentRequest*, AppointmentRequest*);

AddFn g_add, g_remove;
EditFn g_edit;
cv::File* g_log;
cv::File* g_times;
bool g_all_succeeded = true;
std::vector<std::string> g_args;  // from LIBRARY on

AppointmentRequest Nth(int i, int32_t moved = 0) {
    int32_t start = 1236000000 + i * 60 + moved;
    size_t periods = g_args.size() - 8;
    return cv::testing::MakeRequest(g_args[5] + "-" + std::to_string(i), start, start + 30,
                                    g_args[8 + static_cast<size_t>(i) % periods], g_args[2],
                                    g_args[1]);
}

// Logs and makes the call that adds, edits to or removes `a` ('a', 'e', 'r').
bool Call(char operation, AppointmentRequest a, AppointmentRequest from = {}) {
    char text[256];
    int n = std::snprintf(text, sizeof text, "%s %s %s %ld %ld",
                          operation == 'a'   ? "add"
                          : operation == 'e' ? "edit"
                                             : "remove",
                          a.PeriodName, a.ItemId, static_cast<long>(a.StartTime),
                          static_cast<long>(a.FinishTime));
    if (g_log != nullptr && n > 0 && static_cast<size_t>(n) < sizeof text) {
        g_log->Write(text, static_cast<size_t>(n));
    }
    auto start = std::chrono::steady_clock::now();
    int32_t result = operation == 'a'   ? g_add(&a)
                     : operation == 'e' ? g_edit(&from, &a)
                                        : g_remove(&a);
    auto took = std::chrono::steady_clock::now() - start;
    if (g_times != nullptr) {
        n = std::snprintf(text, sizeof text, "%lld\n",
                          static_cast<long long>(
                              std::chrono::duration_cast<std::chrono::microseconds>(took).count()));
        g_times->Write(text, static_cast<size_t>(n));
    }
    n = std::snprintf(text, sizeof text, " %ld\n", static_cast<long>(result));
    if (g_log != nullptr) g_log->Write(text, static_cast<size_t>(n));
    g_all_succeeded = g_all_succeeded && result == 1;
    return result == 1;
}

void Churn(int count, uint32_t seed) {
    std::mt19937 random(seed);
    std::vector<std::pair<int, int32_t>> present;  // added: its number and how far it moved
    for (int call = 0, next = 0; call < count; ++call) {
        uint32_t choice = random() % 4;
        if (present.empty() || choice < 2) {
            if (Call('a', Nth(next))) present.emplace_back(next, 0);
            ++next;
            continue;
        }
        auto at = present.begin() + static_cast<std::ptrdiff_t>(random() % present.size());
        AppointmentRequest now = Nth(at->first, at->second);
        if (choice == 2) {
            if (Call('e', Nth(at->first, at->second + 1000), now)) at->second += 1000;
        } else if (Call('r', now)) {
            present.erase(at);
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string>& args = g_args;
    args.assign(argv + 1, argv + argc);
    std::string after, times_path;
    while (args.size() >= 2 &&
           (args[0] == "--registry" || args[0] == "--after" || args[0] == "--times")) {
        if (args[0] == "--after") {
            after = args[1];
        } else if (args[0] == "--times") {
            times_path = args[1];
        } else if (!cv::ImportRegistryFile(args[1])) {
            std::fprintf(stderr, "cannot read %s\n", args[1].c_str());
            return 3;
        }
        args.erase(args.begin(), args.begin() + 2);
    }
    if (args.size() < 9 || (args[4] != "add" && args[4] != "cycle" && args[4] != "churn")) {
        std::fprintf(stderr, "usage: see the top of writer_driver.cpp\n");
        return 2;
    }
    cv::DynamicLibrary library;
    if (!library.Open(args[0].c_str())) {
        std::fprintf(stderr, "cannot load %s: %s\n", args[0].c_str(), library.Error().c_str());
        return 3;
    }
    cv::File log;
    if (args[3] != "-" && !log.Open(args[3].c_str(), cv::File::Mode::kAppend)) {
        std::fprintf(stderr, "cannot open %s\n", args[3].c_str());
        return 3;
    }
    g_log = args[3] != "-" ? &log : nullptr;
    cv::File times;
    if (!times_path.empty() && !times.Open(times_path.c_str(), cv::File::Mode::kWriteTruncate)) {
        std::fprintf(stderr, "cannot open %s\n", times_path.c_str());
        return 3;
    }
    g_times = times.IsOpen() ? &times : nullptr;
    for (int waited = 0; !after.empty() && !cv::EntryExists(after.c_str()); ++waited) {
        if (waited == 60000) return 3;
        cv::SleepMilliseconds(1);
    }
    g_add = reinterpret_cast<AddFn>(library.Symbol("AppointmentAdd"));
    g_remove = reinterpret_cast<AddFn>(library.Symbol("AppointmentRemove"));
    g_edit = reinterpret_cast<EditFn>(library.Symbol("AppointmentEdit"));
    if (g_add == nullptr || g_remove == nullptr || g_edit == nullptr) return 3;
    int count = std::atoi(args[6].c_str());
    if (args[4] == "churn")
        Churn(count, static_cast<uint32_t>(std::strtoul(args[7].c_str(), nullptr, 10)));
    for (int i = 0; args[4] == "add" && i < count; ++i) Call('a', Nth(i));
    for (int i = 0; args[4] == "cycle" && i <= count + 1; ++i) {
        if (i < count) Call('a', Nth(i));
        if (i >= 1 && i <= count) Call('e', Nth(i - 1, 1000), Nth(i - 1));
        if (i >= 2 && (i - 2) % 3 == 0) Call('r', Nth(i - 2, 1000));
    }
    return g_all_succeeded ? 0 : 1;
}
