// Load-time configuration, the Calendar folder layout and the dirty marker.
#include "store/store_state.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>

#include "provider/module_hooks.h"
#include "store/calendar_paths.h"
#include "include/cvaicp.h"
#include "tests/support/test_store.h"

namespace cv {
namespace {

using testing::PathExists;
using testing::ReadFileOrEmpty;

AppointmentRequest Request(const char* postoffice, const char* mailbox, const char* period) {
    AppointmentRequest request;
    std::memset(&request, 0, sizeof request);
    std::strcpy(request.Postoffice, postoffice);
    std::strcpy(request.Mailbox, mailbox);
    std::strcpy(request.PeriodName, period);
    return request;
}

class MailRootTest : public ::testing::Test {
  protected:
    void Attach() {
        OnProcessDetach();
        OnProcessAttach();
    }
    void TearDown() override { OnProcessDetach(); }
    testing::TestRegistry registry_;
};

TEST_F(MailRootTest, MailRootValueWins) {
    registry_.SetString(Hive::kLocalMachine, kStoreKey, "Mail Root", "E:\\Mail");
    registry_.SetString(Hive::kLocalMachine, kStoreKey, "Data Directory", "D:\\Store");
    Attach();
    EXPECT_STREQ("E:\\Mail", MailRoot());
}

TEST_F(MailRootTest, DataDirectoryGivesItsPostofficesFolder) {
    registry_.Delete(Hive::kLocalMachine, kStoreKey, "Mail Root");
    registry_.SetString(Hive::kLocalMachine, kStoreKey, "Data Directory", "D:\\Store");
    Attach();
    EXPECT_STREQ("D:\\Store\\Postoffices", MailRoot());
    char path[kPathSize];
    ASSERT_TRUE(CalendarFilePath(path, sizeof path, "example", "anna", ""));
    EXPECT_STREQ("D:\\Store\\Postoffices\\example\\MAILROOT\\anna\\Calendar\\", path);
}

TEST_F(MailRootTest, NeitherValueLeavesTheRootEmpty) {
    registry_.Delete(Hive::kLocalMachine, kStoreKey, "Mail Root");
    registry_.Delete(Hive::kLocalMachine, kStoreKey, "Data Directory");
    Attach();
    EXPECT_STREQ("", MailRoot());
    char path[kPathSize];
    ASSERT_TRUE(CalendarFilePath(path, sizeof path, "example", "anna", "x"));
    EXPECT_STREQ("\\example\\MAILROOT\\anna\\Calendar\\x", path);
}

TEST_F(MailRootTest, AnEmptyMailRootTextIsStillAMailRoot) {
    // An empty text (its NUL alone) is a value that was read: Data Directory is not consulted.
    registry_.SetString(Hive::kLocalMachine, kStoreKey, "Mail Root", "");
    registry_.SetString(Hive::kLocalMachine, kStoreKey, "Data Directory", "D:\\Store");
    Attach();
    EXPECT_STREQ("", MailRoot());
}

class CalendarPathsTest : public ::testing::Test {
  protected:
    testing::TestStore store_;
};

TEST_F(CalendarPathsTest, BuildsThePeriodPathAndCreatesTheCalendarFolder) {
    std::string calendar = store_.CreateMailbox("example", "anna");
    ASSERT_FALSE(PathExists(calendar));
    AppointmentRequest request = Request("example", "anna", "Y09M03D15");
    PeriodPaths paths;
    EXPECT_EQ(1, BuildCalendarPaths(request, &paths));
    EXPECT_STREQ("example\\MAILROOT\\anna\\Calendar\\Y09M03D15", paths.period_path);
    EXPECT_EQ(calendar, paths.folder);
    EXPECT_EQ(calendar + "\\Y09M03D15.CAL", paths.period);
    EXPECT_EQ(calendar + "\\Y09M03D15.TMP", paths.temporary);
    EXPECT_EQ(calendar + "\\Y09M03D15.BAK", paths.backup);
    EXPECT_EQ(calendar + "\\Y09M03D15.BLK", paths.blocking);
    EXPECT_TRUE(PathExists(calendar));
}

TEST_F(CalendarPathsTest, DoesNotCreateAMissingMailbox) {
    AppointmentRequest request = Request("example", "nobody", "Y");
    PeriodPaths paths;
    EXPECT_EQ(1, BuildCalendarPaths(request, &paths));
    EXPECT_FALSE(PathExists(store_.root() + "\\example\\MAILROOT\\nobody"));
}

TEST_F(CalendarPathsTest, RefusesPathsThatDoNotFit) {
    AppointmentRequest request = Request("example", "anna", "Y");
    std::memset(request.Mailbox, 'm', 255);
    std::memset(request.Postoffice, 'p', 255);
    PeriodPaths paths;
    EXPECT_EQ(0, BuildCalendarPaths(request, &paths));
    EXPECT_FALSE(PathExists(store_.root() + "\\" + std::string(255, 'p')));
}

TEST_F(CalendarPathsTest, DirtyMarkerHoldsItsOneLine) {
    std::string calendar = store_.CreateMailbox("example", "anna");
    AppointmentRequest request = Request("example", "anna", "Y");
    PeriodPaths paths;
    ASSERT_EQ(1, BuildCalendarPaths(request, &paths, false));
    EXPECT_EQ(1, MarkCalendarChanged(paths));  // no Calendar folder yet: skipped
    EXPECT_FALSE(PathExists(calendar + "\\_CHANGE.DTY"));
    BuildCalendarPaths(request, &paths);
    EXPECT_EQ(1, MarkCalendarChanged(paths));
    EXPECT_EQ("This file has been written to denote configuration change\r\n",
              ReadFileOrEmpty(calendar + "\\_CHANGE.DTY"));
    // A marker that holds anything but its line (another line, or its line and more) gets it.
    for (const char* held :
         {"x", "This file has been written to denote configuration change\r\nx"}) {
        ASSERT_TRUE(testing::WriteFileBytes(calendar + "\\_CHANGE.DTY", held));
        EXPECT_EQ(1, MarkCalendarChanged(paths));
        EXPECT_EQ("This file has been written to denote configuration change\r\n",
                  ReadFileOrEmpty(calendar + "\\_CHANGE.DTY"));
    }
}

TEST(PathComponentTest, AcceptsOnlyOneTerminatedComponent) {
    auto ok = [](const char* text) {
        char field[16];
        std::memset(field, 0, sizeof field);
        std::strncpy(field, text, sizeof field - 1);
        return IsPathComponent(field, sizeof field);
    };
    EXPECT_TRUE(ok("anna"));
    EXPECT_TRUE(ok("a.b"));
    EXPECT_TRUE(ok("..."));
    EXPECT_FALSE(ok(""));
    EXPECT_FALSE(ok("."));
    EXPECT_FALSE(ok(".."));
    EXPECT_FALSE(ok("..\\x"));
    EXPECT_FALSE(ok("a/b"));
    EXPECT_FALSE(ok("C:x"));
    char unterminated[4] = {'a', 'b', 'c', 'd'};
    EXPECT_FALSE(IsPathComponent(unterminated, sizeof unterminated));
}

TEST(ModuleTest, EnumerationSlotIsPerThreadAndLastErrorIsZero) {
    testing::TestStore store;
    SetEnumerationSlot(17);
    int32_t other = -1;
    std::thread([&] { other = GetEnumerationSlot(); }).join();
    EXPECT_EQ(0, other);
    EXPECT_EQ(17, GetEnumerationSlot());
    EXPECT_EQ(0, AppointmentGetLastError());
}

}  // namespace
}  // namespace cv
