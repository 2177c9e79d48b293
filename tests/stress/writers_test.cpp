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

#include "common/host_platform.h"
#include "common/platform.h"
#include "common/registry.h"
#include "include/cvaicp.h"
#include "tests/support/records.h"
#include "tests/support/test_store.h"

namespace cv {
namespace testing {
namespace {

// One call of a writer driver's log.
struct LoggedCall {
    std::string operation;  // "add", "edit" or "remove"
    std::string period;
    std::string id;
    long start = 0;
    long finish = 0;
};

// The lines that the period files must hold: period -> id -> "start\tfinish\tid".
struct StoreModel {
    // Applies a call as the library does when the call succeeded.
    void Apply(const LoggedCall& call) {
        std::map<std::string, std::string>& lines = periods[call.period];
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
    // The sorted lines of a period; empty when the period must have no file.
    std::vector<std::string> Lines(const std::string& period) const {
        std::vector<std::string> result;
        auto found = periods.find(period);
        if (found != periods.end()) {
            for (const auto& entry : found->second) result.push_back(entry.second);
        }
        std::sort(result.begin(), result.end());
        return result;
    }
    std::map<std::string, std::map<std::string, std::string>> periods;
};

// Replays a driver's log on the model: every call that returned 1, counting the calls and those
// that returned anything else. A last line without its result is the call under way when the
// process died: it is left to *in_flight (its operation stays empty when there is none). False
// when the log is malformed.
bool Replay(const std::string& log, StoreModel* model, int* calls, int* refused,
            LoggedCall* in_flight) {
    std::istringstream text(ReadFileOrEmpty(log));
    *in_flight = LoggedCall();
    for (std::string line; std::getline(text, line);) {
        if (!in_flight->operation.empty()) return false;
        std::istringstream fields(line);
        LoggedCall call;
        int result = 0;
        if (!(fields >> call.operation >> call.period >> call.id >> call.start >> call.finish)) {
            return false;
        }
        ++*calls;
        if (!(fields >> result)) {
            *in_flight = call;
        } else if (result == 1) {
            model->Apply(call);
        } else {
            ++*refused;
        }
    }
    return true;
}

// The sorted lines of "<calendar>\<period>.CAL", split at CR LF. False when there is no file.
bool ReadPeriodLines(const std::string& calendar, const std::string& period,
                     std::vector<std::string>* lines) {
    lines->clear();
    std::string bytes;
    if (!ReadFileBytes(calendar + "\\" + period + ".CAL", &bytes)) return false;
    for (size_t at = 0; at <= bytes.size();) {
        size_t end = std::min(bytes.find("\r\n", at), bytes.size());
        if (end > at) lines->push_back(bytes.substr(at, end - at));
        at = end + 2;
    }
    std::sort(lines->begin(), lines->end());
    return true;
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
            command = {CVAICP_SOURCE_DIR "/cmake/wine-run",
                       std::getenv("CVAICP_WINDOWS_ARCH"),
                       std::string(windows_bin) + "/writer_driver.exe",
                       "--registry",
                       path(store_.root() + "/windows.reg"),
                       "CVAICP.DLL"};
        }
        command.insert(command.end() - 1, {"--after", path(store_.root() + "/go")});
        std::vector<std::string> script = {"example",
                                           "anna",
                                           path(LogOf(process)),
                                           "cycle",
                                           "w" + std::to_string(process),
                                           std::to_string(kAppointmentsEach),
                                           "0",
                                           "Y09M03",
                                           "Y09M03D0" + std::to_string(process / 2 + 1)};
        command.insert(command.end(), script.begin(), script.end());
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
        for (size_t i = 0; i < children.size(); ++i) {
            EXPECT_EQ(0, children[i]->Wait()) << "process " << i << " had a call refused";
        }
        StoreModel model;
        int calls = 0, refused = 0;
        for (int p = 0; p < kProcesses; ++p) {
            LoggedCall in_flight;
            ASSERT_TRUE(Replay(LogOf(p), &model, &calls, &refused, &in_flight)) << LogOf(p);
            EXPECT_EQ("", in_flight.operation) << in_flight.id;
        }
        EXPECT_EQ(0, refused);
        EXPECT_EQ(kProcesses * (kAppointmentsEach * 2 + (kAppointmentsEach + 2) / 3), calls);
        EXPECT_EQ(1u + kProcesses / 2, model.periods.size());
        for (const auto& entry : model.periods) {
            const std::string& period = entry.first;
            std::vector<std::string> lines;
            EXPECT_EQ(!model.Lines(period).empty(), ReadPeriodLines(calendar_, period, &lines));
            EXPECT_TRUE(lines == model.Lines(period))
                << period << ": " << lines.size() << " lines, expected "
                << model.Lines(period).size();
            EXPECT_FALSE(PathExists(calendar_ + "\\" + period + ".BLK")) << period;
            EXPECT_FALSE(PathExists(calendar_ + "\\" + period + ".TMP")) << period;
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
    std::string root;
    for (char c : WindowsPath(store_.root())) root += c == '\\' ? "\\\\" : std::string(1, c);
    const char* const values[][2] = {{"Mail Root", nullptr},
                                     {"Write Wait Timeout", "dword:00000050"},
                                     {"Read Wait Timeout", "dword:0000003c"},
                                     {"UnBlock Timeout", "dword:00000050"},
                                     {"Apply Timeout", "dword:00000014"}};
    for (bool forget : {false, true}) {
        std::string text =
            "Windows Registry Editor Version 5.00\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Corvane\\Corvane]\r\n";
        for (const auto& value : values) {
            std::string data = forget ? "-" : value[1] ? value[1] : "\"" + root + "\"";
            text += "\"" + std::string(value[0]) + "\"=" + data + "\r\n";
            if (value[1] == nullptr) {
                text += "\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Corvane\\Corvane\\Providers]\r\n";
            }
        }
        ASSERT_TRUE(
            WriteFileBytes(store_.root() + (forget ? "/forget.reg" : "/windows.reg"), text));
    }
    struct Forget {
        std::vector<std::string> command;
        ~Forget() {
            ChildProcess regedit;
            if (regedit.Start(command)) regedit.Wait();
        }
    } forget_afterwards{{CVAICP_SOURCE_DIR "/cmake/wine-run", arch, "regedit", "/S",
                         WindowsPath(store_.root() + "/forget.reg")}};
    std::vector<std::vector<std::string>> commands;
    for (int p = 0; p < kProcesses; ++p) commands.push_back(Command(p, p % 2 ? bin : nullptr));
    RunAndCompare(commands);
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
constexpr int kLanes = 2;
constexpr int kKillsPerLane = 20;
#else
constexpr int kLanes = 8;
constexpr int kKillsPerLane = 40;
#endif
constexpr const char* kPeriod = "Y09M03";

// One mailbox, killed writer after killed writer.
class Lane {
  public:
    Lane(TestStore& store, int number, uint32_t seed)
        : mailbox_("lane" + std::to_string(number)),
          calendar_(store.CreateMailbox("example", mailbox_)),
          folder_(store.root()),
          random_(seed + static_cast<uint32_t>(number)) {}

    void Run() {
        // An appointment that no writer touches keeps the period file in existence throughout.
        if (!Call("add", "anchor", 1236000000)) return Fail(-1, "cannot add the anchor");
        for (int kill = 0; kill < kKillsPerLane && failures.empty(); ++kill) KillOneWriter(kill);
    }

    std::vector<std::string> failures;
    int kills = 0;
    std::map<std::string, int> killed_in;  // kills by the call under way ("" for none)
    int stale_blocks = 0;                  // kills that left the blocking file behind

  private:
    void Fail(int kill, const std::string& what) {
        failures.push_back(mailbox_ + ", kill " + std::to_string(kill) + ": " + what);
    }

    // A call made here, in the test's own process, with the waits at 0: it must succeed.
    bool Call(const std::string& operation, const std::string& id, int32_t start) {
        AppointmentRequest request = MakeRequest(id, start, start + 60, kPeriod, mailbox_);
        if ((operation == "add" ? AppointmentAdd(&request) : AppointmentRemove(&request)) != 1) {
            return false;
        }
        model_.Apply(LoggedCall{operation, kPeriod, id, start, start + 60});
        return true;
    }

    void KillOneWriter(int kill) {
        std::string log = folder_ + "/" + mailbox_ + "-" + std::to_string(kill) + ".log";
        ChildProcess writer;
        if (!writer.Start({SiblingExecutable("writer_driver"), ProviderLibraryPath(), "example",
                           mailbox_, log, "churn", "k" + std::to_string(kill), "1000000",
                           std::to_string(random_()), kPeriod})) {
            return Fail(kill, "cannot start the writer");
        }
        // Once the writer has begun its first call, let it run for a random while.
        for (int waited = 0; ReadFileOrEmpty(log).empty() && waited < 60000; ++waited) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        std::this_thread::sleep_for(std::chrono::microseconds(random_() % 4000));
        writer.Kill();
        writer.Wait();
        ++kills;

        LoggedCall in_flight;
        int calls = 0, refused = 0;
        if (!Replay(log, &model_, &calls, &refused, &in_flight)) {
            return Fail(kill, "malformed log " + log);
        }
        ++killed_in[in_flight.operation];
        if (PathExists(calendar_ + "\\" + kPeriod + ".BLK")) ++stale_blocks;
        std::vector<std::string> lines;
        if (!ReadPeriodLines(calendar_, kPeriod, &lines)) return Fail(kill, "no period file");
        if (lines != model_.Lines(kPeriod)) {
            StoreModel after = model_;
            after.Apply(in_flight);
            if (in_flight.operation.empty() || lines != after.Lines(kPeriod)) {
                return Fail(kill, "the period file holds " + std::to_string(lines.size()) +
                                      " lines, not the " +
                                      std::to_string(model_.Lines(kPeriod).size()) +
                                      " that the log implies (see " + log + ")");
            }
            model_ = after;
        }
        // The next writer breaks whatever blocking file the dead one left, and succeeds.
        std::string marker = "after-" + std::to_string(kill);
        if (!Call("add", marker, 1237000000 + kill) || !Call("remove", marker, 0)) {
            return Fail(kill, "the next writer was refused");
        }
        if (!ReadPeriodLines(calendar_, kPeriod, &lines) || lines != model_.Lines(kPeriod)) {
            Fail(kill, "the next writer's change went wrong");
        }
    }

    std::string mailbox_;
    std::string calendar_;
    std::string folder_;
    std::mt19937 random_;
    StoreModel model_;
};

TEST(CrashTest, KilledWritersLeaveEveryReturnedChangeAndAFreePeriod) {
    TestStore store;
    store.registry().SetWaits(0);
    const char* seed_text = std::getenv("CVAICP_CRASH_SEED");
    uint32_t seed =
        seed_text ? static_cast<uint32_t>(std::strtoul(seed_text, nullptr, 10)) : 20261206u;
    std::vector<Lane> lanes;
    for (int i = 0; i < kLanes; ++i) lanes.emplace_back(store, i, seed);
    std::vector<std::thread> threads;
    for (Lane& lane : lanes) threads.emplace_back([&lane] { lane.Run(); });
    for (std::thread& t : threads) t.join();
    int kills = 0, stale = 0;
    std::map<std::string, int> in_call;
    for (const Lane& lane : lanes) {
        for (const std::string& f : lane.failures) ADD_FAILURE() << "seed " << seed << ", " << f;
        kills += lane.kills;
        for (const auto& entry : lane.killed_in) in_call[entry.first] += entry.second;
        stale += lane.stale_blocks;
    }
    EXPECT_EQ(kLanes * kKillsPerLane, kills);
    std::printf(
        "seed %u: %d kills, during %d adds, %d edits, %d removals; %d left a blocking file\n", seed,
        kills, in_call["add"], in_call["edit"], in_call["remove"], stale);
}

}  // namespace
}  // namespace testing
}  // namespace cv
