// Walking a period file with the per-thread line cursor.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "include/cvaicp.h"
#include "platform/platform.h"
#include "store/store_state.h"
#include "tests/provider/appointment_fixture.h"

namespace cv {
namespace {

using testing::MakeRequest;
using Ids = std::vector<std::string>;

class EnumerationTest : public testing::AppointmentTest {
  protected:
    // Every id the walk hands out, emptying the filter before each call.
    Ids WalkAll(const char* period) {
        Ids ids;
        AppointmentRequest request = MakeRequest("", 0, 0, period);
        for (int32_t found = AppointmentFindFirst(&request); found;
             found = AppointmentFindNext(&request)) {
            ids.push_back(request.ItemId);
            request.ItemId[0] = '\0';
        }
        return ids;
    }
};

// Empty lines are counted but not handed out.
TEST_F(EnumerationTest, HandsOutEveryLineInOrderThenNothing) {
    Put("Y09M03D15.CAL", "-7\t9\ta\r\n\r\n3\t4\tb\r\n5\t6\tc");
    AppointmentRequest request = MakeRequest("", 0, 0);
    ASSERT_EQ(1, AppointmentFindFirst(&request));
    EXPECT_STREQ("a", request.ItemId);
    EXPECT_EQ(-7, request.StartTime);
    EXPECT_EQ(9, request.FinishTime);
    // Each thread walks with a cursor of its own: the others' walks leave this one where it was.
    const Ids all = {"a", "b", "c"};
    std::vector<Ids> seen(4);
    std::vector<std::thread> threads;
    for (auto& walk : seen) threads.emplace_back([&] { walk = WalkAll("Y09M03D15"); });
    for (auto& t : threads) t.join();
    for (const auto& walk : seen) EXPECT_EQ(all, walk);
    request.ItemId[0] = '\0';
    ASSERT_EQ(1, AppointmentFindNext(&request));
    EXPECT_STREQ("b", request.ItemId);
    EXPECT_EQ(all, WalkAll("Y09M03D15"));
    EXPECT_EQ(4, GetEnumerationSlot());
    EXPECT_EQ(0, AppointmentFindNext(&request));  // the cursor stays at the end
    // A missing file leaves the cursor at zero.
    request = MakeRequest("", 0, 0, "Y01");
    EXPECT_EQ(0, AppointmentFindFirst(&request));
    EXPECT_EQ(0, GetEnumerationSlot());
}

TEST_F(EnumerationTest, AnIdLeftInTheRecordFiltersTheWalk) {
    Put("Y09M03D15.CAL", "1\t2\ta\r\n3\t4\tb\r\n5\t6\tA\r\n7\t8\tc");
    AppointmentRequest request = MakeRequest("a", 0, 0);
    ASSERT_EQ(1, AppointmentFindFirst(&request));
    EXPECT_EQ(1, request.StartTime);
    ASSERT_EQ(1, AppointmentFindNext(&request));  // "a" still in the record matches "A"
    EXPECT_EQ(5, request.StartTime);
    EXPECT_STREQ("A", request.ItemId);
    EXPECT_EQ(0, AppointmentFindNext(&request));
}

// The cursor is a line number of the thread, tied to no file: another period, or a file replaced
// between calls, is read from its start up to that line.
TEST_F(EnumerationTest, TheCursorIsALineNumberTiedToNoFile) {
    Put("Y09M03D15.CAL", "1\t1\ta1\r\n2\t2\ta2\r\n3\t3\ta3");
    Put("B.CAL", "1\t1\tb1\r\n2\t2\tb2\r\n3\t3\tb3\r\n4\t4\tb4");
    AppointmentRequest request = MakeRequest("", 0, 0);
    ASSERT_EQ(1, AppointmentFindFirst(&request));
    AppointmentRequest b = MakeRequest("", 0, 0, "B");
    ASSERT_EQ(1, AppointmentFindNext(&b));
    EXPECT_STREQ("b2", b.ItemId);
    // A writer puts a new file in place with a line before the others: the cursor (line 2) now
    // points at a1, so the next line is a2.
    Put("new", "0\t0\ta0\r\n1\t1\ta1\r\n2\t2\ta2\r\n3\t3\ta3");
    ASSERT_TRUE(ReplaceFileWith(PathOf("new").c_str(), PathOf("Y09M03D15.CAL").c_str()));
    request.ItemId[0] = '\0';
    ASSERT_EQ(1, AppointmentFindNext(&request));
    EXPECT_STREQ("a2", request.ItemId);
    request.ItemId[0] = '\0';
    ASSERT_EQ(1, AppointmentFindNext(&request));
    EXPECT_STREQ("a3", request.ItemId);
    EXPECT_EQ(0, AppointmentFindNext(&request));
}

TEST_F(EnumerationTest, LongLinesResumeAtTheSamePieces) {
    // The long line arrives as pieces of 1023 and 477+ characters.
    Put("Y09M03D15.CAL", "1\t1\ta\r\n2\t2\t" + std::string(1500, 'x') + "\r\n3\t3\tz");
    const Ids ids = WalkAll("Y09M03D15");
    ASSERT_EQ(4u, ids.size());
    EXPECT_EQ("a", ids[0]);
    EXPECT_EQ(std::string(63, 'x'), ids[1]);
    EXPECT_EQ("z", ids[3]);
}

}  // namespace
}  // namespace cv
