// Load-time configuration, the Calendar folder's place and the dirty marker.
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

// The marker is made only in a Calendar folder that is there, and holds its one line whatever it
// held before (another line, or its line and more).
TEST(CalendarPathsTest, DirtyMarkerHoldsItsOneLine) {
    testing::TestStore store;
    const std::string calendar = store.CreateMailbox("example", "anna");
    const std::string marker = calendar + "\\_CHANGE.DTY";
    const std::string line = "This file has been written to denote configuration change\r\n";
    PeriodPaths paths;
    ASSERT_EQ(1, BuildCalendarPaths(testing::MakeRequest(""), &paths, false));
    EXPECT_EQ(1, MarkCalendarChanged(paths));  // no Calendar folder yet: skipped
    EXPECT_FALSE(PathExists(marker));
    BuildCalendarPaths(testing::MakeRequest(""), &paths);  // makes it
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
