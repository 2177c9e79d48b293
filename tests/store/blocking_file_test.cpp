// The blocking-file protocol: ownership, stale files, and the safe replacement.
#include "store/blocking_file.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <thread>

#include "platform/platform.h"
#include "tests/support/diagnostics.h"
#include "tests/support/records.h"
#include "tests/support/test_store.h"

namespace cv {
namespace {

using testing::PathExists;
using testing::ReadFileOrEmpty;
using testing::WriteFileBytes;

class BlockingFileTest : public ::testing::Test {
  protected:
    BlockingFileTest() : calendar_(store_.CreateMailbox("po", "mb")), paths_(Paths("mb")) {
        MakeDirectory(calendar_.c_str());
        store_.registry().SetWaits(0);
    }
    std::string File(const char* extension) const { return calendar_ + "\\P" + extension; }
    static PeriodPaths Paths(const char* mailbox) {  // of period P of a mailbox of po
        PeriodPaths paths;
        BuildCalendarPaths(testing::MakeRequest("", 0, 0, "P", mailbox, "po"), &paths, false);
        return paths;
    }

    testing::TestStore store_;
    std::string calendar_;
    PeriodPaths paths_;
};

// A writer makes an empty blocking file and deletes it when done. One that is there already is
// taken for a dead writer's after the write wait (0 here) and broken, by writers and readers; one
// that cannot be deleted keeps the period blocked.
TEST_F(BlockingFileTest, LockUnlockAndBreakAStaleBlockingFile) {
    EXPECT_EQ(1, LockPeriod(paths_));
    EXPECT_EQ("", ReadFileOrEmpty(File(".BLK")));
    EXPECT_EQ(1, LockPeriod(paths_));  // the file left as by a writer that died
    EXPECT_TRUE(PathExists(File(".BLK")));
    EXPECT_EQ(1, UnlockPeriod(paths_));
    EXPECT_FALSE(PathExists(File(".BLK")));
    EXPECT_EQ(0, UnlockPeriod(paths_));  // nothing to delete: at once
    WaitWhileLocked(paths_);             // nothing to wait for
    ASSERT_TRUE(WriteFileBytes(File(".BLK"), ""));
    WaitWhileLocked(paths_);
    EXPECT_FALSE(PathExists(File(".BLK")));
    EXPECT_EQ(0, LockPeriod(Paths("nobody")));  // no Calendar folder: fails at once
    // A folder in the blocking file's place cannot be deleted as a file.
    ASSERT_TRUE(MakeDirectory(File(".BLK").c_str()));
    testing::KeptDiagnostics kept;
    EXPECT_EQ(0, LockPeriod(paths_));
    EXPECT_EQ(
        "Unable to remove blocking file " + store_.root() + "\\po\\MAILROOT\\mb\\Calendar\\P.BLK\n",
        kept.Take());
    RemoveFolder(File(".BLK").c_str());
}

// A writer that finds the period taken marks the owner's blocking file, which the owner still
// deletes; the waiter then has the period, under a blocking file of its own that nobody marked.
TEST_F(BlockingFileTest, AWaitingWriterMarksTheBlockingFileAndHasThePeriodOnItsRelease) {
    store_.registry().SetWaits(60);  // the waiter must not take the owner for a dead one
    ASSERT_EQ(1, LockPeriod(paths_));
    std::thread waiter([&] { EXPECT_EQ(1, LockPeriod(paths_)); });
    for (int ms = 0; ReadFileOrEmpty(File(".BLK")).empty() && ms < 10000; ++ms)
        SleepMilliseconds(1);
    EXPECT_NE("", ReadFileOrEmpty(File(".BLK")));
    EXPECT_EQ(1, UnlockPeriod(paths_));
    waiter.join();
    EXPECT_EQ("", ReadFileOrEmpty(File(".BLK")));
    EXPECT_EQ(1, UnlockPeriod(paths_));
}

// The mark tells when the earliest waiter began to wait: a waiter writes its own time over a mark
// that is later or no time at all (an older writer's byte), and leaves an earlier one. Released
// with an earlier waiter marked that never comes, the waiter still has the period.
TEST_F(BlockingFileTest, TheMarkKeepsTheEarliestWaitersTime) {
    store_.registry().SetWaits(60);
    ASSERT_EQ(1, LockPeriod(paths_));
    std::thread waiter([&] { EXPECT_EQ(1, LockPeriod(paths_)); });
    auto time_mark = [](uint32_t ms) {
        char mark[16];
        std::snprintf(mark, sizeof mark, "%010u", ms);
        return std::string(mark);
    };
    const std::string later = time_mark(MonotonicMilliseconds() + 60000);
    for (const std::string& foreign : {std::string("w"), later}) {  // no time; a later one
        ASSERT_TRUE(WriteFileBytes(File(".BLK"), foreign));
        std::string mark = foreign;
        for (int ms = 0; mark == foreign && ms < 10000; ++ms) {
            SleepMilliseconds(1);
            mark = ReadFileOrEmpty(File(".BLK"));
        }
        EXPECT_EQ(10u, mark.size()) << foreign;
        EXPECT_LT(mark, later) << foreign;
    }
    const std::string earlier = time_mark(MonotonicMilliseconds() - 60000);
    // The waiter looks every millisecond. A look that falls between this write's truncation and
    // its bytes sees no mark and writes its own: a mark is only a courtesy, so the write is tried
    // again; a waiter that wrote over earlier marks would never leave one.
    bool kept = false;
    for (int attempt = 0; attempt < 20 && !kept; ++attempt) {
        ASSERT_TRUE(WriteFileBytes(File(".BLK"), earlier));
        SleepMilliseconds(50);
        kept = ReadFileOrEmpty(File(".BLK")) == earlier;
    }
    EXPECT_TRUE(kept);
    EXPECT_EQ(1, UnlockPeriod(paths_));
    waiter.join();
    EXPECT_EQ(1, UnlockPeriod(paths_));
}

// A commit puts the copy in the period file's place, keeping the file it replaces as the backup,
// or deletes the period file; whatever happens, neither the copy nor the blocking file is left.
TEST_F(BlockingFileTest, CommitReplacesOrDeletesThePeriodFileAndKeepsABackup) {
    struct {
        const char* period;  // before; nullptr: none, "/": a folder, which no file can replace
        const char* copy;    // nullptr: the copy vanished before the commit
        CommitAction action;
        int result;
        const char* period_after;
        const char* backup_after;  // "older" is the backup before; nullptr: not looked at
    } cases[] = {
        {"old", "new", CommitAction::kReplace, 1, "new", "old"},
        {nullptr, "first", CommitAction::kReplace, 1, "first", "older"},
        {"old", nullptr, CommitAction::kReplace, 0, "old", nullptr},
        {"/", "new", CommitAction::kReplace, 0, "", "older"},  // given up after the apply wait
        {"last", nullptr, CommitAction::kDelete, 1, "", "last"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.period ? c.period : "no period file");
        RemoveFile(File(".CAL").c_str());
        ASSERT_TRUE(WriteFileBytes(File(".BAK"), "older"));
        if (c.period != nullptr) {
            ASSERT_TRUE(c.period[0] == '/' ? MakeDirectory(File(".CAL").c_str())
                                           : WriteFileBytes(File(".CAL"), c.period));
        }
        ASSERT_EQ(1, LockPeriod(paths_));
        ASSERT_TRUE(c.copy == nullptr || WriteFileBytes(File(".TMP"), c.copy));
        EXPECT_EQ(c.result, CommitPeriod(paths_, c.action));
        EXPECT_EQ(c.period_after, ReadFileOrEmpty(File(".CAL")));
        const std::string backup = ReadFileOrEmpty(File(".BAK"));
        EXPECT_EQ(c.backup_after ? c.backup_after : backup, backup);
        for (const char* left : {".TMP", ".BLK", ".OLD"}) EXPECT_FALSE(PathExists(File(left)));
        RemoveFolder(File(".CAL").c_str());
    }
}

}  // namespace
}  // namespace cv
