// The blocking-file protocol: ownership, stale files, and the safe replacement.
#include "store/blocking_file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "common/platform.h"
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

    // The paths of period P of a mailbox of postoffice po.
    static PeriodPaths Paths(const char* mailbox) {
        AppointmentRequest request = {};
        std::strcpy(request.Postoffice, "po");
        std::strcpy(request.Mailbox, mailbox);
        std::strcpy(request.PeriodName, "P");
        PeriodPaths paths;
        EXPECT_EQ(1, BuildCalendarPaths(request, &paths, false));
        return paths;
    }

    testing::TestStore store_;
    std::string calendar_;
    PeriodPaths paths_;
};

TEST_F(BlockingFileTest, LockCreatesAnEmptyBlockingFileAndUnlockDeletesIt) {
    EXPECT_EQ(1, LockPeriod(paths_));
    EXPECT_TRUE(PathExists(File(".BLK")));
    EXPECT_EQ("", ReadFileOrEmpty(File(".BLK")));
    EXPECT_EQ(1, UnlockPeriod(paths_));
    EXPECT_FALSE(PathExists(File(".BLK")));
    EXPECT_EQ(0, UnlockPeriod(paths_));  // nothing to delete: at once
}

TEST_F(BlockingFileTest, AStaleBlockingFileIsBrokenAfterTheWriteWait) {
    ASSERT_TRUE(WriteFileBytes(File(".BLK"), ""));  // left by a writer that died
    EXPECT_EQ(1, LockPeriod(paths_));
    EXPECT_TRUE(PathExists(File(".BLK")));
}

TEST_F(BlockingFileTest, ABlockingFileThatCannotBeDeletedKeepsThePeriodBlocked) {
    // A folder in the blocking file's place cannot be deleted as a file.
    ASSERT_TRUE(MakeDirectory(File(".BLK").c_str()));
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(0, LockPeriod(paths_));
    std::string said = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(
        "Unable to remove blocking file " + store_.root() + "\\po\\MAILROOT\\mb\\Calendar\\P.BLK\n",
        said);
    RemoveFolder(File(".BLK").c_str());
}

TEST_F(BlockingFileTest, LockFailsAtOnceWhenTheFolderIsMissing) {
    EXPECT_EQ(0, LockPeriod(Paths("nobody")));
}

TEST_F(BlockingFileTest, ReadersWaitThenBreakAStaleBlockingFile) {
    WaitWhileLocked(paths_);  // nothing to wait for
    ASSERT_TRUE(WriteFileBytes(File(".BLK"), ""));
    WaitWhileLocked(paths_);
    EXPECT_FALSE(PathExists(File(".BLK")));
}

TEST_F(BlockingFileTest, CommitReplacesThePeriodFileAndKeepsABackup) {
    ASSERT_TRUE(WriteFileBytes(File(".CAL"), "old"));
    ASSERT_TRUE(WriteFileBytes(File(".BAK"), "older"));
    ASSERT_EQ(1, LockPeriod(paths_));
    ASSERT_TRUE(WriteFileBytes(File(".TMP"), "new"));
    EXPECT_EQ(1, CommitPeriod(paths_));
    EXPECT_EQ("new", ReadFileOrEmpty(File(".CAL")));
    EXPECT_EQ("old", ReadFileOrEmpty(File(".BAK")));
    EXPECT_FALSE(PathExists(File(".TMP")));
    EXPECT_FALSE(PathExists(File(".BLK")));
    EXPECT_FALSE(PathExists(File(".OLD")));
}

TEST_F(BlockingFileTest, CommitWithoutAPeriodFileMakesNoBackup) {
    ASSERT_EQ(1, LockPeriod(paths_));
    ASSERT_TRUE(WriteFileBytes(File(".TMP"), "first"));
    EXPECT_EQ(1, CommitPeriod(paths_));
    EXPECT_EQ("first", ReadFileOrEmpty(File(".CAL")));
    EXPECT_FALSE(PathExists(File(".BAK")));
}

TEST_F(BlockingFileTest, AFailedReplacementIsReportedAndChangesNothing) {
    ASSERT_TRUE(WriteFileBytes(File(".CAL"), "old"));
    ASSERT_EQ(1, LockPeriod(paths_));
    // The copy vanished before the commit: nothing can be put in place.
    EXPECT_EQ(0, CommitPeriod(paths_));
    EXPECT_EQ("old", ReadFileOrEmpty(File(".CAL")));
    EXPECT_FALSE(PathExists(File(".BLK")));
}

TEST_F(BlockingFileTest, AReplacementThatKeepsFailingIsGivenUpAfterTheApplyWait) {
    // A folder in the period file's place cannot be replaced by a file.
    ASSERT_TRUE(MakeDirectory(File(".CAL").c_str()));
    ASSERT_EQ(1, LockPeriod(paths_));
    ASSERT_TRUE(WriteFileBytes(File(".TMP"), "new"));
    EXPECT_EQ(0, CommitPeriod(paths_));
    EXPECT_FALSE(PathExists(File(".TMP")));
    EXPECT_FALSE(PathExists(File(".BLK")));
    RemoveFolder(File(".CAL").c_str());
}

TEST_F(BlockingFileTest, CommitCanDeleteAnEmptiedPeriod) {
    ASSERT_TRUE(WriteFileBytes(File(".CAL"), "last"));
    ASSERT_EQ(1, LockPeriod(paths_));
    EXPECT_EQ(1, CommitPeriod(paths_, CommitAction::kDelete));
    EXPECT_FALSE(PathExists(File(".CAL")));
    EXPECT_EQ("last", ReadFileOrEmpty(File(".BAK")));
    EXPECT_FALSE(PathExists(File(".BLK")));
}

}  // namespace
}  // namespace cv
