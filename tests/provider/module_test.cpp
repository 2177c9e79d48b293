// Load-time configuration, the Calendar folder layout and the dirty marker.
#include "store/store_state.h"

#include <gtest/gtest.h>

#include <string>

#include "provider/module_hooks.h"
#include "store/calendar_paths.h"
#include "include/cvaicp.h"
#include "tests/support/records.h"
#include "tests/support/test_store.h"

namespace cv {
namespace {

using testing::PathExists;
using testing::ReadFileOrEmpty;

// "Mail Root" wins; without it "Data Directory" gives its Postoffices folder; without either the
// root is empty. An empty text (its NUL alone) is a value that was read, and still wins.
TEST(MailRootTest, ComesFromMailRootElseDataDirectory) {
    struct {
        const char* mail_root;  // nullptr: no such value
        const char* data_directory;
        const char* expected;
    } cases[] = {
        {"E:\\Mail", "D:\\Store", "E:\\Mail"},
        {nullptr, "D:\\Store", "D:\\Store\\Postoffices"},
        {nullptr, nullptr, ""},
        {"", "D:\\Store", ""},
    };
    testing::TestRegistry registry;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected);
        for (auto value : {std::make_pair("Mail Root", c.mail_root),
                           std::make_pair("Data Directory", c.data_directory)}) {
            if (value.second != nullptr) {
                registry.SetString(Hive::kLocalMachine, kStoreKey, value.first, value.second);
            } else {
                registry.Delete(Hive::kLocalMachine, kStoreKey, value.first);
            }
        }
        OnProcessDetach();
        OnProcessAttach();
        EXPECT_STREQ(c.expected, MailRoot());
        char path[kPathSize];
        ASSERT_TRUE(CalendarFilePath(path, sizeof path, "example", "anna", "x"));
        EXPECT_EQ(std::string(c.expected) + "\\example\\MAILROOT\\anna\\Calendar\\x", path);
    }
    OnProcessDetach();
}

class CalendarPathsTest : public ::testing::Test {
  protected:
    CalendarPathsTest() : calendar_(store_.CreateMailbox("example", "anna")) {}
    testing::TestStore store_;
    std::string calendar_;
};

TEST_F(CalendarPathsTest, BuildsThePeriodPathAndCreatesTheCalendarFolder) {
    ASSERT_FALSE(PathExists(calendar_));
    PeriodPaths paths;
    EXPECT_EQ(1, BuildCalendarPaths(testing::MakeRequest(""), &paths));
    EXPECT_STREQ("example\\MAILROOT\\anna\\Calendar\\Y09M03D15", paths.period_path);
    EXPECT_EQ(calendar_, paths.folder);
    EXPECT_EQ(calendar_ + "\\Y09M03D15.CAL", paths.period);
    EXPECT_EQ(calendar_ + "\\Y09M03D15.TMP", paths.temporary);
    EXPECT_EQ(calendar_ + "\\Y09M03D15.BAK", paths.backup);
    EXPECT_EQ(calendar_ + "\\Y09M03D15.BLK", paths.blocking);
    EXPECT_TRUE(PathExists(calendar_));
}

TEST_F(CalendarPathsTest, DirtyMarkerHoldsItsOneLine) {
    const std::string marker = calendar_ + "\\_CHANGE.DTY";
    const std::string line = "This file has been written to denote configuration change\r\n";
    PeriodPaths paths;
    ASSERT_EQ(1, BuildCalendarPaths(testing::MakeRequest(""), &paths, false));
    EXPECT_EQ(1, MarkCalendarChanged(paths));  // no Calendar folder yet: skipped
    EXPECT_FALSE(PathExists(marker));
    BuildCalendarPaths(testing::MakeRequest(""), &paths);
    // A marker that holds anything but its line (another line, or its line and more) gets it.
    for (const std::string& held : {std::string(), std::string("x"), line + "x"}) {
        if (!held.empty()) {
            ASSERT_TRUE(testing::WriteFileBytes(marker, held));
        }
        EXPECT_EQ(1, MarkCalendarChanged(paths));
        EXPECT_EQ(line, ReadFileOrEmpty(marker));
    }
}

}  // namespace
}  // namespace cv
