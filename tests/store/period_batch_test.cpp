// Period files changed in batches: what goes and comes, and a busy or unreadable period leaving
// every period of the batch as it was.
#include "store/period_batch.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/platform.h"
#include "tests/support/diagnostics.h"
#include "tests/support/records.h"
#include "tests/support/test_store.h"

namespace cv {
namespace {

using testing::PathExists;
using testing::ReadFileOrEmpty;
using testing::WriteFileBytes;

class PeriodBatchTest : public ::testing::Test {
  protected:
    PeriodBatchTest() : calendar_(store_.CreateMailbox("po", "mb")) {
        MakeDirectory(calendar_.c_str());
        store_.registry().SetWaits(0);
    }
    std::string File(const std::string& name) const { return calendar_ + "\\" + name; }
    static AppointmentRequest Request(const std::string& period = "P") {
        return testing::MakeRequest("", 0, 0, period, "mb", "po");
    }

    testing::TestStore store_;
    std::string calendar_;
};

TEST_F(PeriodBatchTest, RemovesThenAddsWhatTheFileDoesNotHold) {
    const char* kFolder = "/";  // a folder in the period file's place: it cannot be read
    struct {
        const char* name;
        const char* before;  // nullptr: no file
        std::vector<std::string> remove;
        std::vector<NewLine> add;
        ChangeOutcome outcome;
        const char* after;  // nullptr: no file
    } rows[] = {
        {"adds to a new file",
         nullptr,
         {},
         {{1, 2, "a"}, {3, 4, "b"}},
         ChangeOutcome::kDone,
         "1\t2\ta\r\n3\t4\tb"},
        {"removes several, case ignored",
         "1\t2\ta\r\n3\t4\tb\r\n5\t6\tc",
         {"A", "c", "x"},
         {},
         ChangeOutcome::kDone,
         "3\t4\tb"},
        {"both, a removed id coming back with new times",
         "1\t2\ta\r\n3\t4\tb",
         {"a"},
         {{7, 8, "a"}, {9, 9, "c"}},
         ChangeOutcome::kDone,
         "3\t4\tb\r\n7\t8\ta\r\n9\t9\tc"},
        {"an id held already, or twice in the batch, once",
         "1\t2\tA",
         {},
         {{5, 6, "a"}, {7, 8, "n"}, {9, 9, "N"}},
         ChangeOutcome::kDone,
         "1\t2\tA\r\n7\t8\tn"},
        {"keeps odd lines as they were written",
         "01\t2\tk\r\n1\t2\tgo",
         {"go"},
         {},
         ChangeOutcome::kDone,
         "1\t2\tk"},
        {"an empty result deletes the file",
         "1\t2\ta\r\n3\t4\tb",
         {"a", "b"},
         {},
         ChangeOutcome::kDone,
         nullptr},
        {"nothing to remove from no file", nullptr, {"a"}, {}, ChangeOutcome::kDone, nullptr},
        {"an id with a tab is refused",
         "1\t2\ta",
         {"a"},
         {{1, 2, "b\tc"}},
         ChangeOutcome::kFailed,
         "1\t2\ta"},
        {"an unreadable file is left", kFolder, {}, {{1, 2, "a"}}, ChangeOutcome::kFailed, kFolder},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string period = File("P.CAL");
        RemoveFile(period.c_str());
        RemoveFolder(period.c_str());
        RemoveFile(File("P.BAK").c_str());
        RemoveFile(File("_CHANGE.DTY").c_str());
        if (row.before == kFolder) {
            ASSERT_TRUE(MakeDirectory(period.c_str()));
        } else if (row.before != nullptr) {
            ASSERT_TRUE(WriteFileBytes(period, row.before));
        }
        EXPECT_EQ(row.outcome, ChangePeriodLines(Request(), row.remove, row.add));
        if (row.after == kFolder) {
            EXPECT_TRUE(FolderExists(period.c_str()));
        } else if (row.after == nullptr) {
            EXPECT_FALSE(PathExists(period));
        } else {
            EXPECT_EQ(row.after, ReadFileOrEmpty(period));
        }
        // Changed: marked as every change marks; failed: no trace of the attempt.
        EXPECT_EQ(row.outcome == ChangeOutcome::kDone && (row.before || row.after),
                  PathExists(File("_CHANGE.DTY")));
        for (const char* left : {"P.TMP", "P.BLK"}) EXPECT_FALSE(PathExists(File(left)));
    }
}

// A file the change would leave as it is is not written again: no backup is made of it.
TEST_F(PeriodBatchTest, AChangeThatChangesNothingWritesNothing) {
    ASSERT_TRUE(WriteFileBytes(File("P.CAL"), "1\t2\ta"));
    EXPECT_EQ(ChangeOutcome::kDone, ChangePeriodLines(Request(), {"b"}, {{5, 6, "A"}}));
    EXPECT_FALSE(PathExists(File("P.BAK")));
    EXPECT_FALSE(PathExists(File("_CHANGE.DTY")));
}

// Every period is held and read before any is changed: a busy or unreadable one, or a refusal
// while they are held, leaves all of them as they were; the caller's work before the commits runs
// with every period held. One period named twice is refused.
TEST_F(PeriodBatchTest, APeriodThatCannotBeHadLeavesTheWholeBatchUndone) {
    const std::vector<PeriodChange> batch = {{"B", {"x"}, {{1, 2, "b"}}}, {"A", {}, {{3, 4, "a"}}}};
    ASSERT_TRUE(WriteFileBytes(File("B.CAL"), "9\t9\tx"));
    struct {
        const char* name;
        const char* blocked;  // a folder in the place of this file
        bool commit;
        ChangeOutcome outcome;
    } rows[] = {
        // A blocking file that cannot be broken (waits 0: given up after a second).
        {"busy", "A.BLK", true, ChangeOutcome::kBusy},
        {"unreadable", "A.CAL", true, ChangeOutcome::kFailed},
        {"refused before the commits", nullptr, false, ChangeOutcome::kFailed},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        if (row.blocked != nullptr) {
            ASSERT_TRUE(MakeDirectory(File(row.blocked).c_str()));
        }
        {
            testing::KeptDiagnostics quiet;  // the store names a blocking file it cannot remove
            EXPECT_EQ(row.outcome,
                      ChangeCalendarPeriods(Request(), batch, [&] { return row.commit; }));
        }
        EXPECT_EQ("9\t9\tx", ReadFileOrEmpty(File("B.CAL")));
        EXPECT_FALSE(PathExists(File("B.BLK")));
        if (row.blocked != nullptr) RemoveFolder(File(row.blocked).c_str());
        EXPECT_FALSE(PathExists(File("A.CAL")));
    }
    bool held = false;
    EXPECT_EQ(ChangeOutcome::kDone, ChangeCalendarPeriods(Request(), batch, [&] {
                  held = PathExists(File("A.BLK")) && PathExists(File("B.BLK"));
                  return true;
              }));
    EXPECT_TRUE(held);
    EXPECT_EQ("1\t2\tb", ReadFileOrEmpty(File("B.CAL")));
    EXPECT_EQ("3\t4\ta", ReadFileOrEmpty(File("A.CAL")));
    EXPECT_EQ(ChangeOutcome::kFailed,
              ChangeCalendarPeriods(Request(), {{"A", {"a"}, {}}, {"a", {}, {}}}));
    EXPECT_EQ("3\t4\ta", ReadFileOrEmpty(File("A.CAL")));
}

}  // namespace
}  // namespace cv
