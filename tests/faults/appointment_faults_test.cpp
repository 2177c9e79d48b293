// Appointment changes with each of their file operations failing in turn: whatever fails, the
// period holds exactly the appointments it held before the call or those it holds after it (the
// latter whenever the call says it succeeded), no blocking file is left for the next writer to
// wait out, and the next change goes through.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <functional>
#include <vector>

#include "common/file_helpers.h"
#include "common/host_files.h"
#include "common/platform.h"
#include "include/cvaicp.h"
#include "tests/faults/fault_sweep.h"
#include "tests/support/test_store.h"

namespace cv {
namespace {

using Lines = std::vector<std::string>;

constexpr char kPeriod[] = "Y09M03D15";

AppointmentRequest Request(const char* id, int32_t start, int32_t finish,
                           const char* period = kPeriod) {
    AppointmentRequest request;
    std::memset(&request, 0, sizeof request);
    std::strcpy(request.Postoffice, "example");
    std::strcpy(request.Mailbox, "anna");
    std::strncpy(request.PeriodName, period, sizeof request.PeriodName - 1);
    std::strncpy(request.ItemId, id, sizeof request.ItemId - 1);
    request.StartTime = start;
    request.FinishTime = finish;
    return request;
}

class AppointmentFaultsTest : public ::testing::Test {
  protected:
    AppointmentFaultsTest() : calendar_(store_.CreateMailbox("example", "anna")) {
        store_.registry().SetWaits(0);
    }

    std::string PathOf(const std::string& name) const { return calendar_ + "\\" + name; }

    // The Calendar folder afresh: with the period file's content, or without a period file (or,
    // with make_folder false, without the folder itself).
    void Fresh(const char* content, bool make_folder = true) {
        DeleteFolderTree(calendar_.c_str(), nullptr);
        if (!make_folder) return;
        ASSERT_TRUE(MakeDirectory(calendar_.c_str()));
        if (content != nullptr) {
            ASSERT_TRUE(testing::WriteFileBytes(PathOf(std::string(kPeriod) + ".CAL"), content));
        }
    }

    // Sweeps a change of kPeriod from the state that setup makes (holding before) to after.
    // A result of 1 must mean after; 0 must mean before: a call that reports failure changed
    // nothing, so that its caller may simply try again.
    long Sweep(const std::function<void()>& setup, const std::function<int32_t()>& change,
               const Lines& before, const Lines& after, testing::FaultKind kind) {
        setup();
        EXPECT_EQ(before, testing::StoredAppointments(kPeriod)) << "the setup is not as described";
        return testing::SweepFaults(
            setup, change,
            [&](const testing::FaultPoint&, int32_t result) {
                // A hiccup is retried and gets over: no blocking file may stay behind, or every
                // writer of the period would wait "Write Wait Timeout" seconds for nothing.
                if (kind != testing::FaultKind::kFromThenOn) {
                    EXPECT_FALSE(testing::PathExists(PathOf(std::string(kPeriod) + ".BLK")));
                }
                Lines stored = testing::StoredAppointments(kPeriod);
                if (result == 1) {
                    EXPECT_EQ(after, stored) << "reported done, but the change is not there whole";
                } else {
                    EXPECT_EQ(before, stored) << "reported failed, but the period changed";
                }
                // The period is not wedged: the next writer gets in and its line is kept.
                AppointmentRequest next = Request("next", 900, 950);
                EXPECT_EQ(1, AppointmentAdd(&next));
                stored.push_back("900 950 next");
                EXPECT_EQ(stored, testing::StoredAppointments(kPeriod));
            },
            kind);
    }

    // Sweeps the change from each setup, first failing one operation at a time, then every
    // operation from one on (a disk that has gone), then each allocation, and reports the fault
    // points tried.
    void SweepBoth(const char* scenario, const std::vector<std::function<void()>>& setups,
                   const std::function<int32_t()>& change, const Lines& before,
                   const Lines& after) {
        const testing::FaultKind kinds[] = {testing::FaultKind::kOnce,
                                            testing::FaultKind::kFromThenOn,
                                            testing::FaultKind::kAllocation};
        long points[3] = {0, 0, 0};
        for (int k = 0; k < 3; ++k) {
            for (const auto& setup : setups)
                points[k] += Sweep(setup, change, before, after, kinds[k]);
        }
        std::printf("[ faults   ] %s: %ld fault points once, %ld from then on, %ld allocations\n",
                    scenario, points[0], points[1], points[2]);
    }

    testing::TestStore store_;
    std::string calendar_;
};

constexpr char kThreeLines[] = "100\t200\tfirst\r\n300\t400\tsecond\r\n500\t600\tthird";
const Lines kThree = {"100 200 first", "300 400 second", "500 600 third"};

TEST_F(AppointmentFaultsTest, AddToAPeriodThatHasAFile) {
    Lines after = kThree;
    after.push_back("700 800 added");
    auto setup = [&] { Fresh(kThreeLines); };
    auto add = [] {
        AppointmentRequest request = Request("added", 700, 800);
        return AppointmentAdd(&request);
    };
    SweepBoth("add to an existing period", {setup}, add, kThree, after);
}

TEST_F(AppointmentFaultsTest, AddStartingANewPeriod) {
    const Lines after = {"700 800 added"};
    auto add = [] {
        AppointmentRequest request = Request("added", 700, 800);
        return AppointmentAdd(&request);
    };
    // With the Calendar folder there, and with the folder still to be made.
    auto setup = [&] { Fresh(nullptr); };
    auto setup_folder = [&] { Fresh(nullptr, false); };
    SweepBoth("add starting a new period", {setup, setup_folder}, add, {}, after);
}

TEST_F(AppointmentFaultsTest, Edit) {
    const Lines after = {"100 200 first", "350 450 changed", "500 600 third"};
    auto setup = [&] { Fresh(kThreeLines); };
    auto edit = [] {
        AppointmentRequest old_request = Request("SECOND", 0, 0);
        AppointmentRequest new_request = Request("changed", 350, 450);
        return AppointmentEdit(&old_request, &new_request);
    };
    SweepBoth("edit", {setup}, edit, kThree, after);
}

TEST_F(AppointmentFaultsTest, Remove) {
    const Lines after = {"100 200 first", "500 600 third"};
    auto setup = [&] { Fresh(kThreeLines); };
    auto remove = [] {
        AppointmentRequest request = Request("second", 0, 0);
        return AppointmentRemove(&request);
    };
    SweepBoth("remove", {setup}, remove, kThree, after);
}

// The last appointment of a period takes the period file with it.
TEST_F(AppointmentFaultsTest, RemoveTheLastAppointment) {
    const Lines before = {"100 200 only"};
    auto setup = [&] { Fresh("100\t200\tonly"); };
    auto remove = [] {
        AppointmentRequest request = Request("only", 0, 0);
        return AppointmentRemove(&request);
    };
    SweepBoth("remove the last appointment", {setup}, remove, before, {});
}

}  // namespace
}  // namespace cv
