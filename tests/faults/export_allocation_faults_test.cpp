// Every export that reads, lists or chooses, with each of its allocations failing in turn, as in a
// host short of memory: no exception reaches the caller, the export answers its failure result or
// what it answers undisturbed, it leaves the store as it was, and the next call goes through.
// (The changes are swept the same way in change_faults_test.cpp.)
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>

#include "include/cvaicp.h"
#include "tests/faults/fault_sweep.h"
#include "tests/support/records.h"
#include "tests/support/test_store.h"

namespace cv {
namespace {

using testing::MakeFreeBusyRequest;
using testing::MakeItemRequest;
using testing::MakeListContext;
using testing::MakeRequest;

constexpr char kPeriod[] = "Y09M03D15";
constexpr int32_t kNoon = 1237118400;  // 2009-03-15 12:00 UTC: the 15th in every nearby zone

const char kDescendingIds[] =
    "<xsl:stylesheet version=\"1.0\" xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\">"
    "<xsl:template match=\"/BASEELEMENT\"><BASEELEMENT>"
    "<xsl:for-each select=\"ELEMENT\"><xsl:sort select=\"@ID\" order=\"descending\"/>"
    "<xsl:copy-of select=\".\"/></xsl:for-each></BASEELEMENT></xsl:template></xsl:stylesheet>";

// The records are built before any switch is armed: building them allocates.
const AppointmentRequest kSecond = MakeRequest("second", 0, 0, kPeriod);
const AppointmentRequest kAny = MakeRequest("", 0, 0, kPeriod);
const AppointmentItemRequest kSecondItem = MakeItemRequest("second");
const FreeBusyRequest kMonth = MakeFreeBusyRequest("Y09M03");
const ListContext kListing = MakeListContext(kNoon - 6 * 3600, kNoon + 6 * 3600, kDescendingIds);

int32_t Get() {
    AppointmentRequest request = kSecond;
    return AppointmentGet(&request);
}

// A whole walk: the number of appointments it handed out.
int32_t Walk() {
    AppointmentRequest request = kAny;
    int32_t count = 0;
    for (int32_t found = AppointmentFindFirst(&request); found;
         found = AppointmentFindNext(&request)) {
        ++count;
        request.ItemId[0] = '\0';
    }
    return count;
}

int32_t ReadItem() {
    AppointmentItemRequest request = kSecondItem;
    return AppointmentItemGetFirstChunk(&request);
}

int32_t FreeBusy() {
    FreeBusyRequest request = kMonth;
    int32_t result = GetFreeBusyData(&request);
    return result == 1 && std::strcmp(request.BusyDays, "15") == 0 ? 1 : 0;
}

// A listing sorted by a stylesheet: FindFirst alone, under the switch.
int32_t StartList() {
    ListContext context = kListing;
    ListItem item{};
    return AppointmentListItemFindFirst(&context, &item);
}

// The rest of the listing, undisturbed: the number of items it handed out in all.
int32_t FinishList(int32_t first) {
    ListContext context = kListing;
    ListItem item{};
    int32_t count = first;
    while (first && AppointmentListItemFindNext(&context, &item)) ++count;
    AppointmentListItemFindClose(&context);
    return count;
}

int32_t Same(int32_t result) {
    return result;
}

struct ExportCase {
    const char* name;
    std::function<int32_t()> call;         // under the switch
    std::function<int32_t(int32_t)> rest;  // what follows, undisturbed: the answer in all
    bool whole_or_none;                    // the answer is all or nothing, never a part
};

class ExportAllocationFaultsTest : public ::testing::Test {
  protected:
    ExportAllocationFaultsTest() : calendar_(store_.CreateMailbox("example", "anna")) {
        store_.registry().SetWaits(0);
        char lines[160];
        std::snprintf(lines, sizeof lines, "%d\t%d\tfirst\r\n%d\t%d\tsecond\r\n", kNoon,
                      kNoon + 600, kNoon + 900, kNoon + 1800);
        EXPECT_TRUE(MakeDirectory(calendar_.c_str()));
        EXPECT_TRUE(testing::WriteFileBytes(calendar_ + "\\" + kPeriod + ".CAL", lines));
        for (const char* id : {"first", "second"}) {
            EXPECT_TRUE(testing::WriteFileBytes(calendar_ + "\\" + id,
                                                std::string("Subject: ") + id + "\r\n\r\nbody"));
        }
    }

    testing::TestStore store_;
    std::string calendar_;
};

TEST_F(ExportAllocationFaultsTest, EveryExportAnswersAndLeavesTheStoreAsItWas) {
    const ExportCase cases[] = {
        {"AppointmentGet", Get, Same, true},
        // FindNext cannot tell a failure from the end: a walk cut short hands out fewer lines.
        {"AppointmentFindFirst and FindNext", Walk, Same, false},
        {"AppointmentItemGetFirstChunk", ReadItem, Same, true},
        {"GetFreeBusyData", FreeBusy, Same, true},
        // A listing that FindFirst starts holds every item: it is whole, or there is none.
        {"AppointmentListItemFindFirst", StartList, FinishList, true},
        {"SetCurrentHost", [] { return SetCurrentHost(""); }, Same, true},
    };
    const std::string period_before = testing::ReadFileOrEmpty(calendar_ + "\\" + kPeriod + ".CAL");
    long points = 0;
    for (const ExportCase& c : cases) {
        SCOPED_TRACE(c.name);
        const int32_t undisturbed = c.rest(c.call());
        EXPECT_NE(0, undisturbed) << "the case does not reach the export's work";
        points += testing::SweepFaults(
            [] {}, c.call,
            [&](const testing::FaultPoint&, int32_t answer) {
                const int32_t result = c.rest(answer);
                if (c.whole_or_none) {
                    EXPECT_TRUE(result == 0 || result == undisturbed) << result << " items";
                } else {
                    EXPECT_LE(result, undisturbed);
                    EXPECT_GE(result, 0);
                }
                EXPECT_FALSE(testing::PathExists(calendar_ + "\\" + kPeriod + ".BLK"));
                EXPECT_EQ(undisturbed, c.rest(c.call())) << "the next call does not go through";
            },
            testing::FaultKind::kAllocation);
    }
    EXPECT_EQ(period_before, testing::ReadFileOrEmpty(calendar_ + "\\" + kPeriod + ".CAL"));
    EXPECT_GT(points, 0);
    std::printf("[ faults   ] %ld allocations failed along the reading exports\n", points);
}

}  // namespace
}  // namespace cv
