// Writers in several processes, through nothing but the blocking files: processes that write one
// mailbox at once, and writers killed at random moments of their calls. Each writer is the
// writer_driver, which logs its calls; replayed on a model of the period files, the logs say what
// the store must hold, line for line.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "host/host_platform.h"
#include "include/cvaicp.h"
#include "platform/platform.h"
#include "platform/registry.h"
#include "tests/support/records.h"
#include "tests/support/test_store.h"

namespace cv {
namespace testing {
namespace {

// One call of a writer driver's log.
struct LoggedCall {
    std::string operation, period, id;  // operation: "add", "edit", "remove", or "" for none
    long start = 0, finish = 0;
};

// The lines that the period files must hold: period -> id -> "start\tfinish\tid".
using StoreModel = std::map<std::string, std::map<std::string, std::string>>;

// Applies a call as the library does when the call succeeded.
void Apply(const LoggedCall& call, StoreModel* model) {
    std::map<std::string, std::string>& lines = (*model)[call.period];
    std::string line =
        std::to_string(call.start) + "\t" + std::to_string(call.finish) + "\t" + call.id;
    if (call.operation == "add") {
        lines.emplace(call.id, line);
    } else if (call.operation == "edit" && lines.count(call.id) != 0) {
        lines[call.id] = line;
    } else if (call.operation == "remove") {
        lines.erase(call.id);
    }
}

// Replays a driver's log on the model: every call that returned 1, counted in *succeeded. A last
// line without its result is the call under way when the process died, left to *in_flight. False
// when the log is malformed.
bool Replay(const std::string& log, StoreModel* model, LoggedCall* in_flight,
            int* succeeded = nullptr) {
    std::istringstream text(ReadFileOrEmpty(log));
    *in_flight = LoggedCall();
    for (std::string line; std::getline(text, line);) {
        std::istringstream fields(line);
        LoggedCall call;
        int result = 0;
        if (!in_flight->operation.empty() ||
            !(fields >> call.operation >> call.period >> call.id >> call.start >> call.finish)) {
            return false;
        }
        if (!(fields >> result)) {
            *in_flight = call;
        } else if (result == 1) {
            Apply(call, model);
            if (succeeded != nullptr) ++*succeeded;
        }
    }
    return true;
}

// The lines of "<calendar>\<period>.CAL", split at CR LF, by id as the model holds them.
std::map<std::string, std::string> FileLines(const std::string& calendar,
                                             const std::string& period) {
    std::string bytes = ReadFileOrEmpty(calendar + "\\" + period + ".CAL");
    std::map<std::string, std::string> lines;
    for (size_t at = 0; at <= bytes.size();) {
        size_t end = std::min(bytes.find("\r\n", at), bytes.size());
        std::string line = bytes.substr(at, end - at), id = line.substr(line.rfind('\t') + 1);
        if (end > at && !lines.emplace(id, line).second) lines["twice: " + id] = line;
        at = end + 2;
    }
    return lines;
}

// Whether the period file holds the model's lines, or (then taken into the model) those with the
// change of the call under way made too. A message for a failure when it does not.
std::string Compare(const std::string& calendar, const std::string& period, StoreModel* model,
                    const LoggedCall& in_flight = LoggedCall()) {
    std::map<std::string, std::string> lines = FileLines(calendar, period);
    StoreModel after = *model;
    Apply(in_flight, &after);
    if (lines == (*model)[period]) return "";
    if (!in_flight.operation.empty() && lines == after[period]) {
        *model = after;
        return "";
    }
    return period + ": " + std::to_string(lines.size()) + " lines that differ from the " +
           std::to_string((*model)[period].size()) + " expected";
}

// Eight processes write one mailbox at once: each adds, edits and removes appointments of its own
// in a month that all of them share and in a day of that month that it shares with one other.
constexpr int kProcesses = 8;
constexpr int kAppointmentsEach = 250;

// A path as the Windows build under Wine names it.
std::string WindowsPath(const std::string& native) {
    std::string path = "Z:" + native;
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

class WritersTest : public ::testing::Test {
  protected:
    WritersTest() : calendar_(store_.CreateMailbox("example", "anna")) {
        // The waits at their defaults: a writer is never taken for a dead one.
        for (const char* wait :
             {"Write Wait Timeout", "Read Wait Timeout", "UnBlock Timeout", "Apply Timeout"}) {
            store_.registry().Delete(Hive::kLocalMachine, kProvidersKey, wait);
        }
    }
    std::string LogOf(int process) const {
        return store_.root() + "/writer-" + std::to_string(process) + ".log";
    }

    // One process's share of the work: natively, or with `windows_bin` set, a process of the
    // Windows build under Wine that takes its settings from windows.reg.
    std::vector<std::string> Command(int process, const char* windows_bin = nullptr) const {
        auto path = [&](const std::string& native) {
            return windows_bin ? WindowsPath(native) : native;
        };
        std::vector<std::string> command = {SiblingExecutable("writer_driver"),
                                            ProviderLibraryPath()};
        if (windows_bin != nullptr) {
            command.assign({CVAICP_SOURCE_DIR "/cmake/wine-run", std::getenv("CVAICP_WINDOWS_ARCH"),
                            std::string(windows_bin) + "/writer_driver.exe", "--registry",
                            path(store_.root() + "/windows.reg"), "CVAICP.DLL"});
        }
        command.insert(command.end() - 1, {"--after", path(store_.root() + "/go")});
        command.insert(command.end(),
                       {"example", "anna", path(LogOf(process)), "cycle",
                        "w" + std::to_string(process), std::to_string(kAppointmentsEach), "0",
                        "Y09M03", "Y09M03D0" + std::to_string(process / 2 + 1)});
        return command;
    }

    // Runs the processes, lets them go at once, and checks that every call of every log returned
    // 1 and that the period files hold exactly the lines those calls leave, with no blocking file
    // or temporary copy left behind.
    void RunAndCompare(const std::vector<std::vector<std::string>>& commands) {
        std::vector<std::unique_ptr<ChildProcess>> children;
        for (const auto& command : commands) {
            children.push_back(std::make_unique<ChildProcess>());
            ASSERT_TRUE(children.back()->Start(command)) << command[0];
        }
        ASSERT_TRUE(WriteFileBytes(store_.root() + "/go", ""));
        for (auto& child : children) EXPECT_EQ(0, child->Wait()) << "a call was refused";
        StoreModel model;
        int succeeded = 0;
        for (int p = 0; p < kProcesses; ++p) {
            LoggedCall in_flight;
            ASSERT_TRUE(Replay(LogOf(p), &model, &in_flight, &succeeded)) << LogOf(p);
        }
        EXPECT_EQ(kProcesses * (kAppointmentsEach * 2 + (kAppointmentsEach + 2) / 3), succeeded);
        EXPECT_EQ(1u + kProcesses / 2, model.size());
        for (const auto& entry : model) {
            EXPECT_EQ("", Compare(calendar_, entry.first, &model));
            for (const char* left : {".BLK", ".TMP"}) {
                EXPECT_FALSE(PathExists(calendar_ + "\\" + entry.first + left)) << left;
            }
        }
    }

    TestStore store_;
    std::string calendar_;
};

TEST_F(WritersTest, EightProcessesLoseAndGarbleNothing) {
    std::vector<std::vector<std::string>> commands;
    for (int p = 0; p < kProcesses; ++p) commands.push_back(Command(p));
    RunAndCompare(commands);
}

#if !defined(_WIN32)
// The same work shared between native processes and processes of the Windows build under Wine,
// which have only the files on disk in common with the others. The Windows build to use is named
// by CVAICP_WINDOWS_BIN (its bin folder) and CVAICP_WINDOWS_ARCH (win32 or win64).
TEST_F(WritersTest, NativeAndWindowsProcessesShareTheStore) {
    const char* bin = std::getenv("CVAICP_WINDOWS_BIN");
    const char* arch = std::getenv("CVAICP_WINDOWS_ARCH");
    if (bin == nullptr || arch == nullptr) GTEST_SKIP() << "no Windows build named";
    // The Windows processes read their settings from the registry of Wine's prefix: the writers
    // import them, and regedit takes them out again afterwards ("-" deletes a value), so that the
    // prefix is left as the Windows tests expect it.
    SetProcessEnvironment("WINEPREFIX", (std::string(bin) + "/../wineprefix").c_str());
    std::string root;  // backslashes doubled, as .reg strings write them
    for (char c : WindowsPath(store_.root()))
        root += c == '\\' ? std::string(2, c) : std::string(1, c);
    const std::string key = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Corvane\\Corvane";
    const std::string settings =
        "Windows Registry Editor Version 5.00\r\n\r\n" + key + "]\r\n\"Mail Root\"=\"" + root +
        "\"\r\n\r\n" + key + "\\Providers]\r\n\"Write Wait Timeout\"=dword:00000050\r\n" +
        "\"Read Wait Timeout\"=dword:0000003c\r\n\"UnBlock Timeout\"=dword:00000050\r\n" +
        "\"Apply Timeout\"=dword:00000014\r\n";
    ASSERT_TRUE(WriteFileBytes(store_.root() + "/windows.reg", settings));
    // The same values, each deleted ("=-" in place of its data).
    std::string forget;
    for (size_t at = 0, eq; (eq = settings.find('=', at)) != std::string::npos;
         at = settings.find('\r', eq)) {
        forget += settings.substr(at, eq - at) + "=-";
    }
    ASSERT_TRUE(WriteFileBytes(store_.root() + "/forget.reg", forget + "\r\n"));
    std::vector<std::vector<std::string>> commands;
    for (int p = 0; p < kProcesses; ++p) commands.push_back(Command(p, p % 2 ? bin : nullptr));
    RunAndCompare(commands);
    ChildProcess regedit;
    ASSERT_TRUE(regedit.Start({CVAICP_SOURCE_DIR "/cmake/wine-run", arch, "regedit", "/S",
                               WindowsPath(store_.root() + "/forget.reg")}));
    EXPECT_EQ(0, regedit.Wait());
}
#endif

// Writers killed at random moments of their calls, as a crash or an operator's kill would end
// them. After each kill the period file must hold every appointment whose call had returned 1,
// plus at most the change of the call under way, and the next writer must get the period back by
// breaking the blocking file that the dead one left.
//
// The moments are random but seeded (CVAICP_CRASH_SEED overrides the seed): a failure names the
// seed, the lane and the kill, and the logs of the run stay in the store's folder until the test
// ends. Lanes run side by side, a mailbox each, so that the seconds spent breaking stale blocking
// files overlap. Under Wine a process takes far longer to start, so fewer kills are made there.
#if defined(_WIN32)
constexpr int kLanes = 2, kKillsPerLane = 20;
#else
constexpr int kLanes = 8, kKillsPerLane = 40;
#endif
constexpr const char* kPeriod = "Y09M03";

// One mailbox, killed writer after killed writer.
struct Lane {
    std::vector<std::string> failures;
    int in_call = 0, stale_blocks = 0;  // kills during a call, and that left the blocking file

    void Run(TestStore* store, int number, uint32_t seed) {
        std::mt19937 random(seed);
        const std::string mailbox = "lane" + std::to_string(number);
        const std::string calendar = store->CreateMailbox("example", mailbox);
        StoreModel model;
        // A call made here, in the test's own process, with the waits at 0: it must succeed.
        auto call = [&](const std::string& operation, const std::string& id, int32_t start) {
            AppointmentRequest request = MakeRequest(id, start, start + 60, kPeriod, mailbox);
            if ((operation == "add" ? AppointmentAdd(&request) : AppointmentRemove(&request)) != 1)
                return false;
            Apply(LoggedCall{operation, kPeriod, id, start, start + 60}, &model);
            return true;
        };
        // An appointment that no writer touches keeps the period file in existence throughout.
        if (!call("add", "anchor", 1236000000)) failures.push_back(mailbox + ": no anchor");
        for (int kill = 0; kill < kKillsPerLane && failures.empty(); ++kill) {
            std::string log = store->root() + "/" + mailbox + "-" + std::to_string(kill) + ".log";
            auto fail = [&](const std::string& what) {
                failures.push_back(mailbox + ", kill " + std::to_string(kill) + ": " + what +
                                   " (see " + log + ")");
            };
            ChildProcess writer;
            if (!writer.Start({SiblingExecutable("writer_driver"), ProviderLibraryPath(), "example",
                               mailbox, log, "churn", "k" + std::to_string(kill), "1000000",
                               std::to_string(random()), kPeriod})) {
                return fail("cannot start the writer");
            }
            // Once the writer has begun its first call, let it run for a random while.
            for (int waited = 0; ReadFileOrEmpty(log).empty() && waited < 60000; ++waited) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            std::this_thread::sleep_for(std::chrono::microseconds(random() % 4000));
            writer.Kill();
            writer.Wait();
            LoggedCall in_flight;
            if (!Replay(log, &model, &in_flight)) return fail("malformed log");
            in_call += !in_flight.operation.empty();
            if (PathExists(calendar + "\\" + kPeriod + ".BLK")) ++stale_blocks;
            std::string wrong = Compare(calendar, kPeriod, &model, in_flight);
            // The next writer breaks whatever blocking file the dead one left, and succeeds.
            std::string marker = "after-" + std::to_string(kill);
            if (wrong.empty() &&
                (!call("add", marker, 1237000000 + kill) || !call("remove", marker, 0)))
                wrong = "the next writer was refused";
            if (wrong.empty()) wrong = Compare(calendar, kPeriod, &model);
            if (!wrong.empty()) fail(wrong);
        }
    }
};

TEST(CrashTest, KilledWritersLeaveEveryReturnedChangeAndAFreePeriod) {
    TestStore store;
    store.registry().SetWaits(0);
    const char* seed_text = std::getenv("CVAICP_CRASH_SEED");
    uint32_t seed =
        seed_text ? static_cast<uint32_t>(std::strtoul(seed_text, nullptr, 10)) : 20261206u;
    std::vector<Lane> lanes(kLanes);
    std::vector<std::thread> threads;
    for (int i = 0; i < kLanes; ++i) {
        threads.emplace_back([&, i] { lanes[i].Run(&store, i, seed + static_cast<uint32_t>(i)); });
    }
    for (std::thread& t : threads) t.join();
    int in_call = 0, stale = 0;
    for (const Lane& lane : lanes) {
        for (const std::string& f : lane.failures) ADD_FAILURE() << "seed " << seed << ", " << f;
        in_call += lane.in_call;
        stale += lane.stale_blocks;
    }
    std::printf("seed %u: %d kills during a call, %d left a blocking file\n", seed, in_call, stale);
}

}  // namespace
}  // namespace testing
}  // namespace cv
