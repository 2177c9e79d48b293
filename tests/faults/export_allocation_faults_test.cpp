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

// The rest of a listing that FindFirst started, undisturbed: the number of items it handed out.
int32_t FinishList(int32_t first) {
    ListContext context = kListing;
    ListItem item{};
    int32_t count = first;
    while (first && AppointmentListItemFindNext(&context, &item)) ++count;
    AppointmentListItemFindClose(&context);
    return count;
}

struct ExportCase {
    const char* name;
    std::function<int32_t()> call;  // under the switch
    bool whole_or_none;             // the answer is all or nothing, never a part
    std::function<int32_t(int32_t)> rest = [](int32_t result) { return result; };  // undisturbed
};

TEST(ExportAllocationFaultsTest, EveryExportAnswersAndLeavesTheStoreAsItWas) {
    testing::TestStore store;
    const std::string calendar = store.CreateMailbox("example", "anna");
    const std::string period = calendar + "\\" + kPeriod + ".CAL";
    store.registry().SetWaits(0);
    ASSERT_TRUE(MakeDirectory(calendar.c_str()));
    // first at noon for ten minutes, second from 12:15 to 12:30.
    ASSERT_TRUE(testing::WriteFileBytes(
        period, "1237118400\t1237119000\tfirst\r\n1237119300\t1237120200\tsecond\r\n"));
    for (const std::string id : {"first", "second"}) {
        ASSERT_TRUE(
            testing::WriteFileBytes(calendar + "\\" + id, "Subject: " + id + "\r\n\r\nbody"));
    }
    const ExportCase cases[] = {
        {"AppointmentGet",
         [] {
             AppointmentRequest r = kSecond;
             return AppointmentGet(&r);
         },
         true},
        // FindNext cannot tell a failure from the end: a walk cut short hands out fewer lines.
        {"AppointmentFindFirst and FindNext", Walk, false},
        {"AppointmentItemGetFirstChunk",
         [] {
             AppointmentItemRequest r = kSecondItem;
             return AppointmentItemGetFirstChunk(&r);
         },
         true},
        {"GetFreeBusyData",
         [] {
             FreeBusyRequest r = kMonth;
             return GetFreeBusyData(&r) == 1 && std::strcmp(r.BusyDays, "15") == 0 ? 1 : 0;
         },
         true},
        // A listing (sorted by a stylesheet) that FindFirst starts holds every item: it is whole,
        // or there is none.
        {"AppointmentListItemFindFirst",
         [] {
             ListContext context = kListing;
             ListItem item{};
             return AppointmentListItemFindFirst(&context, &item);
         },
         true, FinishList},
        {"SetCurrentHost", [] { return SetCurrentHost(""); }, true},
    };
    const std::string period_before = testing::ReadFileOrEmpty(period);
    long points = 0;
    for (const ExportCase& c : cases) {
        SCOPED_TRACE(c.name);
        const int32_t undisturbed = c.rest(c.call());
        EXPECT_NE(0, undisturbed) << "the case does not reach the export's work";
        points += testing::SweepFaults(
            [] {}, c.call,
            [&](int32_t answer) {
                const int32_t result = c.rest(answer);
                if (c.whole_or_none) {
                    EXPECT_TRUE(result == 0 || result == undisturbed) << result << " items";
                } else {
                    EXPECT_LE(result, undisturbed);
                    EXPECT_GE(result, 0);
                }
                EXPECT_FALSE(testing::PathExists(calendar + "\\" + kPeriod + ".BLK"));
                EXPECT_EQ(undisturbed, c.rest(c.call())) << "the next call does not go through";
            },
            testing::FaultKind::kAllocation);
    }
    EXPECT_EQ(period_before, testing::ReadFileOrEmpty(period));
    EXPECT_GT(points, 0);
    std::printf("[ faults   ] %ld allocations failed along the reading exports\n", points);
}

}  // namespace
}  // namespace cv
