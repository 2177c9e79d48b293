// The changes of a calendar with each of their file operations failing in turn (once: a passing
// hiccup; from then on: the disk has gone away), and with each allocation failing. Whatever fails,
// the period and the item hold exactly what they held before the call or what they hold after it;
// an appointment change that reports success is there whole, one that reports failure changed
// nothing (so that its caller may simply try again), and an item write, which answers 1 whatever
// happens, never leaves an emptied or half-written body. No blocking file is left for the next
// writer to wait out, and the next changes go through.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "common/host_files.h"
#include "common/platform.h"
#include "include/cvaicp.h"
#include "tests/faults/fault_sweep.h"
#include "tests/support/records.h"
#include "tests/support/test_store.h"

namespace cv {
namespace {

using testing::FaultKind;
using testing::MakeItemRequest;
using testing::MakeRequest;
using Lines = std::vector<std::string>;

constexpr char kPeriod[] = "Y09M03D15";
constexpr char kItem[] = "item-7f3a";
const char kThreeLines[] = "100\t200\tfirst\r\n300\t400\tsecond\r\n500\t600\tthird";
const Lines kThree = {"100 200 first", "300 400 second", "500 600 third"};
const std::string kOld = "Subject: planning\r\n\r\nThe old body, which must not get lost.\r\n";
const std::string kNew = "Subject: planning, moved\r\n\r\nThe new body.\r\n";
const std::string kMore = "A further chunk.\r\n";

// The period's appointments as the library reads them back, in file order, each as
// "start finish id"; and the item's body as it reads it back (empty when missing).
using Stored = std::pair<Lines, std::string>;

Lines StoredAppointments() {
    Lines lines;
    AppointmentRequest request = MakeRequest("", 0, 0, kPeriod);
    for (int32_t found = AppointmentFindFirst(&request); found;
         found = AppointmentFindNext(&request)) {
        lines.push_back(std::to_string(request.StartTime) + " " +
                        std::to_string(request.FinishTime) + " " + request.ItemId);
        request.ItemId[0] = '\0';  // the walk filters on the id left in the record
    }
    return lines;
}

Stored ReadBack() {
    AppointmentItemRequest request = MakeItemRequest(kItem);
    std::string body;
    for (int32_t more = AppointmentItemGetFirstChunk(&request); more;
         more = AppointmentItemGetNextChunk(&request)) {
        body.append(request.Data, static_cast<size_t>(request.DataLength));
    }
    return {StoredAppointments(), body};
}

int32_t Add(const char* id, int32_t start, int32_t finish) {
    AppointmentRequest request = MakeRequest(id, start, finish);
    return AppointmentAdd(&request);
}

int32_t WriteChunk(const std::string& data, bool first) {
    AppointmentItemRequest request = MakeItemRequest(kItem, data);
    return first ? AppointmentItemWriteFirstChunk(&request)
                 : AppointmentItemWriteNextChunk(&request);
}

int32_t Remove(const char* id) {
    AppointmentRequest request = MakeRequest(id, 0, 0);
    return AppointmentRemove(&request);
}

// The changes swept (the records' texts are short enough to allocate nothing themselves).
int32_t AddOne() {
    return Add("added", 700, 800);
}
int32_t EditSecond() {
    AppointmentRequest old_request = MakeRequest("SECOND", 0, 0);
    AppointmentRequest new_request = MakeRequest("changed", 350, 450);
    return AppointmentEdit(&old_request, &new_request);
}

struct ChangeCase {
    const char* name;
    bool folder;         // the Calendar folder is there beforehand
    const char* period;  // the period file's content beforehand (null: none)
    const char* item;    // the item's body beforehand (null: none)
    std::function<int32_t()> change;
    Stored before;
    Stored after;
    bool answers_done = false;  // an item write: it answers 1 whatever happens
};

class ChangeFaultsTest : public ::testing::Test {
  protected:
    ChangeFaultsTest() : calendar_(store_.CreateMailbox("example", "anna")) {
        store_.registry().SetWaits(0);
    }

    std::string PathOf(const std::string& name) const { return calendar_ + "\\" + name; }

    void Fresh(const ChangeCase& c) {
        DeleteFolderTree(calendar_.c_str(), nullptr);
        if (!c.folder) return;
        ASSERT_TRUE(MakeDirectory(calendar_.c_str()));
        if (c.period) ASSERT_TRUE(testing::WriteFileBytes(PathOf(kPeriod) + ".CAL", c.period));
        if (c.item) ASSERT_TRUE(testing::WriteFileBytes(PathOf(kItem), c.item));
    }

    long Sweep(const ChangeCase& c, FaultKind kind) {
        Fresh(c);
        EXPECT_TRUE(c.before == ReadBack()) << "the setup is not as described";
        return testing::SweepFaults(
            [&] { Fresh(c); }, c.change,
            [&](int32_t result) {
                // A hiccup is retried and gets over: no blocking file may stay behind, or every
                // writer of the period would wait "Write Wait Timeout" seconds for nothing.
                if (kind != FaultKind::kFromThenOn) {
                    EXPECT_FALSE(testing::PathExists(PathOf(kPeriod) + ".BLK"));
                }
                Stored stored = ReadBack();
                if (c.answers_done) {
                    EXPECT_EQ(1, result);
                    EXPECT_TRUE(stored == c.before || stored == c.after)
                        << "the item is neither the old nor the new one: \"" << stored.second
                        << "\"";
                } else if (result == 1) {
                    EXPECT_TRUE(stored == c.after) << "reported done, but the change is not whole";
                } else {
                    EXPECT_TRUE(stored == c.before) << "reported failed, but the calendar changed";
                }
                // Nothing is wedged: the next writers get in and what they write is kept.
                EXPECT_EQ(1, Add("next", 900, 950));
                stored.first.push_back("900 950 next");
                EXPECT_EQ(stored.first, StoredAppointments());
                EXPECT_EQ(1, WriteChunk("written again", true));
                EXPECT_EQ("written again", ReadBack().second);
            },
            kind);
    }

    testing::TestStore store_;
    std::string calendar_;
};

TEST_F(ChangeFaultsTest, EveryChangeIsWholeOrNone) {
    Lines lines = kThree;
    lines.push_back("700 800 added");
    const Stored none, three = {kThree, ""}, added = {lines, ""}, only = {{"100 200 only"}, ""};
    const Stored added_alone = {{"700 800 added"}, ""};
    const Stored edited = {{"100 200 first", "350 450 changed", "500 600 third"}, ""};
    const Stored removed = {{"100 200 first", "500 600 third"}, ""};
    const Stored old_item = {{}, kOld}, new_item = {{}, kNew}, longer_item = {{}, kOld + kMore};
    auto write_new = [] { return WriteChunk(kNew, true); };
    const ChangeCase cases[] = {
        {"add to an existing period", true, kThreeLines, nullptr, AddOne, three, added},
        // A new period, with the Calendar folder there and with the folder still to be made.
        {"add starting a new period", true, nullptr, nullptr, AddOne, none, added_alone},
        {"add starting the folder", false, nullptr, nullptr, AddOne, none, added_alone},
        {"edit", true, kThreeLines, nullptr, EditSecond, three, edited},
        {"remove", true, kThreeLines, nullptr, [] { return Remove("second"); }, three, removed},
        // The last appointment of a period takes the period file with it.
        {"remove the last appointment", true, "100\t200\tonly", nullptr,
         [] { return Remove("only"); }, only, none},
        {"item first chunk over a body", true, nullptr, kOld.c_str(), write_new, old_item, new_item,
         true},
        {"item first chunk of a new item", true, nullptr, nullptr, write_new, none, new_item, true},
        {"item next chunk", true, nullptr, kOld.c_str(), [] { return WriteChunk(kMore, false); },
         old_item, longer_item, true},
    };
    for (const ChangeCase& c : cases) {
        SCOPED_TRACE(c.name);
        // An item write allocates nothing.
        long points[3] = {Sweep(c, FaultKind::kOnce), Sweep(c, FaultKind::kFromThenOn),
                          c.answers_done ? 0 : Sweep(c, FaultKind::kAllocation)};
        std::printf("[ faults   ] %s: %ld fault points once, %ld from then on, %ld allocations\n",
                    c.name, points[0], points[1], points[2]);
    }
}

}  // namespace
}  // namespace cv
