// Walking a period file with the per-thread line cursor.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "provider/cvaicp.h"
#include "provider/module.h"
#include "tests/provider/appointment_fixture.h"

namespace cv {
namespace {

using testing::MakeRequest;

class EnumerationTest : public testing::AppointmentTest {
  protected:
    // Every id the walk hands out, emptying the filter before each call.
    std::vector<std::string> WalkAll(const char* period) {
        std::vector<std::string> ids;
        AppointmentRequest request = MakeRequest("", 0, 0, period);
        for (int32_t found = AppointmentFindFirst(&request); found;
             found = AppointmentFindNext(&request)) {
            ids.push_back(request.ItemId);
            request.ItemId[0] = '\0';
        }
        return ids;
    }
};

TEST_F(EnumerationTest, HandsOutEveryLineInOrderThenNothing) {
    Put("Y09M03D15.CAL", "1\t2\ta\r\n3\t4\tb\r\n5\t6\tc");
    EXPECT_EQ((std::vector<std::string>{"a", "b", "c"}), WalkAll("Y09M03D15"));
    AppointmentRequest request = MakeRequest("", 0, 0);
    EXPECT_EQ(0, AppointmentFindNext(&request));  // the cursor stays at the end
    EXPECT_EQ(0, AppointmentFindNext(&request));
}

TEST_F(EnumerationTest, FillsTheRecordFromTheLine) {
    Put("Y09M03D15.CAL", "-7\t9\tOne");
    AppointmentRequest request = MakeRequest("", 0, 0);
    ASSERT_EQ(1, AppointmentFindFirst(&request));
    EXPECT_STREQ("One", request.ItemId);
    EXPECT_EQ(-7, request.StartTime);
    EXPECT_EQ(9, request.FinishTime);
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

TEST_F(EnumerationTest, EmptyLinesAreCountedButNotHandedOut) {
    Put("Y09M03D15.CAL", "1\t2\ta\r\n\r\n3\t4\tb");
    EXPECT_EQ((std::vector<std::string>{"a", "b"}), WalkAll("Y09M03D15"));
    EXPECT_EQ(3, GetEnumerationSlot());
}

TEST_F(EnumerationTest, MissingFileLeavesTheCursorAtZero) {
    MakeCalendar();
    SetEnumerationSlot(5);
    AppointmentRequest request = MakeRequest("", 0, 0, "Y01");
    EXPECT_EQ(0, AppointmentFindFirst(&request));
    EXPECT_EQ(0, GetEnumerationSlot());
}

TEST_F(EnumerationTest, TheCursorIsNotTiedToAFile) {
    Put("A.CAL", "1\t1\ta1\r\n2\t2\ta2\r\n3\t3\ta3");
    Put("B.CAL", "1\t1\tb1\r\n2\t2\tb2\r\n3\t3\tb3\r\n4\t4\tb4");
    AppointmentRequest a = MakeRequest("", 0, 0, "A");
    ASSERT_EQ(1, AppointmentFindFirst(&a));
    a.ItemId[0] = '\0';
    ASSERT_EQ(1, AppointmentFindNext(&a));
    EXPECT_STREQ("a2", a.ItemId);
    AppointmentRequest b = MakeRequest("", 0, 0, "B");
    ASSERT_EQ(1, AppointmentFindNext(&b));
    EXPECT_STREQ("b3", b.ItemId);
}

TEST_F(EnumerationTest, ThreadsWalkIndependently) {
    std::string content;
    std::vector<std::string> expected;
    for (int i = 0; i < 50; ++i) {
        std::string id = "id" + std::to_string(i);
        content += (i ? "\r\n" : "") + std::to_string(i) + "\t" + std::to_string(i) + "\t" + id;
        expected.push_back(id);
    }
    Put("Y09M03D15.CAL", content);
    std::vector<std::vector<std::string>> seen(4);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] { seen[t] = WalkAll("Y09M03D15"); });
    }
    for (auto& t : threads) t.join();
    for (const auto& walk : seen) EXPECT_EQ(expected, walk);
}

}  // namespace
}  // namespace cv
