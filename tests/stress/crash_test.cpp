// Writers killed at random moments of their calls, as a crash or an operator's kill would end
// them. After each kill the period file must hold every appointment whose call had returned 1,
// plus at most the change of the call under way, and the next writer must get the period back by
// breaking the blocking file that the dead one left.
//
// The moments are random but seeded (CVAICP_CRASH_SEED overrides the seed): a failure names the
// seed, the lane and the kill, and the logs of the run stay in the store's folder until the test
// ends.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "common/platform.h"
#include "common/host_platform.h"
#include "include/cvaicp.h"
#include "tests/stress/store_model.h"
#include "tests/support/test_store.h"

namespace cv {
namespace testing {
namespace {

// Lanes run side by side, a mailbox each, so that the seconds spent breaking stale blocking files
// overlap. Under Wine a process takes far longer to start, so fewer kills are made there.
#if defined(_WIN32)
constexpr int kLanes = 2;
constexpr int kKillsPerLane = 20;
#else
constexpr int kLanes = 8;
constexpr int kKillsPerLane = 40;
#endif
constexpr const char* kPeriod = "Y09M03";

uint32_t Seed() {
    const char* text = std::getenv("CVAICP_CRASH_SEED");
    return text != nullptr ? static_cast<uint32_t>(std::strtoul(text, nullptr, 10)) : 20261206u;
}

AppointmentRequest Request(const std::string& mailbox, const std::string& id, int32_t start) {
    AppointmentRequest request;
    std::memset(&request, 0, sizeof request);
    std::snprintf(request.Postoffice, sizeof request.Postoffice, "example");
    std::snprintf(request.Mailbox, sizeof request.Mailbox, "%s", mailbox.c_str());
    std::snprintf(request.PeriodName, sizeof request.PeriodName, "%s", kPeriod);
    std::snprintf(request.ItemId, sizeof request.ItemId, "%s", id.c_str());
    request.StartTime = start;
    request.FinishTime = start + 60;
    return request;
}

LoggedCall Logged(const char* operation, const AppointmentRequest& request) {
    LoggedCall call;
    call.operation = operation;
    call.period = kPeriod;
    call.id = request.ItemId;
    call.start = request.StartTime;
    call.finish = request.FinishTime;
    call.returned = true;
    call.result = 1;
    return call;
}

struct LaneResult {
    std::vector<std::string> failures;
    int kills = 0;
    int killed_in[3] = {};  // kills that found an add, an edit, a removal under way
    int stale_blocks = 0;   // kills that left the blocking file behind
};

// One mailbox, killed writer after killed writer.
class Lane {
  public:
    Lane(TestStore& store, int number, uint32_t seed)
        : mailbox_("lane" + std::to_string(number)),
          calendar_(store.CreateMailbox("example", mailbox_)),
          folder_(store.root()),
          random_(seed + static_cast<uint32_t>(number)) {}

    LaneResult Run() {
        // An appointment that no writer touches keeps the period file in existence throughout.
        if (!Call("add", Request(mailbox_, "anchor", 1236000000))) return result_;
        for (int kill = 0; kill < kKillsPerLane && result_.failures.empty(); ++kill) {
            KillOneWriter(kill);
        }
        return result_;
    }

  private:
    void Fail(int kill, const std::string& what) {
        result_.failures.push_back(mailbox_ + ", kill " + std::to_string(kill) + ": " + what);
    }

    // A call made here, in the test's own process, with the waits at 0: it must succeed.
    bool Call(const char* operation, AppointmentRequest request) {
        int32_t result = std::strcmp(operation, "add") == 0 ? AppointmentAdd(&request)
                                                            : AppointmentRemove(&request);
        if (result != 1) return false;
        model_.Apply(Logged(operation, request));
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
        ++result_.kills;

        std::vector<LoggedCall> calls;
        if (!ReadCallLog(log, &calls)) return Fail(kill, "malformed log " + log);
        const LoggedCall* in_flight = nullptr;
        for (const LoggedCall& call : calls) {
            if (!call.returned) {
                in_flight = &call;
            } else if (call.result == 1) {
                model_.Apply(call);
            }
        }
        if (in_flight != nullptr) {
            ++result_.killed_in[in_flight->operation == "add"    ? 0
                                : in_flight->operation == "edit" ? 1
                                                                 : 2];
        }
        if (PathExists(calendar_ + "\\" + kPeriod + ".BLK")) ++result_.stale_blocks;

        std::vector<std::string> lines;
        if (!ReadPeriodLines(calendar_, kPeriod, &lines)) return Fail(kill, "no period file");
        if (lines != model_.Lines(kPeriod)) {
            StoreModel after = model_;
            if (in_flight != nullptr) after.Apply(*in_flight);
            if (in_flight == nullptr || lines != after.Lines(kPeriod)) {
                return Fail(kill, "the period file holds " + std::to_string(lines.size()) +
                                      " lines, not the " +
                                      std::to_string(model_.Lines(kPeriod).size()) +
                                      " that the log implies (see " + log + ")");
            }
            model_ = after;
        }
        // The next writer breaks whatever blocking file the dead one left, and succeeds.
        std::string marker = "after-" + std::to_string(kill);
        if (!Call("add", Request(mailbox_, marker, 1237000000 + kill)) ||
            !Call("remove", Request(mailbox_, marker, 0))) {
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
    LaneResult result_;
};

TEST(CrashTest, KilledWritersLeaveEveryReturnedChangeAndAFreePeriod) {
    TestStore store;
    store.registry().SetWaits(0);
    uint32_t seed = Seed();
    std::vector<LaneResult> results(kLanes);
    {
        std::vector<Lane> lanes;
        for (int i = 0; i < kLanes; ++i) lanes.emplace_back(store, i, seed);
        std::vector<std::thread> threads;
        for (int i = 0; i < kLanes; ++i) {
            threads.emplace_back([&, i] { results[i] = lanes[i].Run(); });
        }
        for (std::thread& t : threads) t.join();
    }
    int kills = 0, in_call[3] = {}, stale = 0;
    for (const LaneResult& r : results) {
        for (const std::string& f : r.failures) ADD_FAILURE() << "seed " << seed << ", " << f;
        kills += r.kills;
        for (int k = 0; k < 3; ++k) in_call[k] += r.killed_in[k];
        stale += r.stale_blocks;
    }
    EXPECT_EQ(kLanes * kKillsPerLane, kills);
    std::printf(
        "seed %u: %d kills, during %d adds, %d edits, %d removals; %d left a blocking file\n", seed,
        kills, in_call[0], in_call[1], in_call[2], stale);
}

}  // namespace
}  // namespace testing
}  // namespace cv
