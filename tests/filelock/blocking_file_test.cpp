// The blocking-file protocol: ownership, stale files, and the safe replacement.
#include "store/blocking_file.h"

#include <gtest/gtest.h>

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
    BlockingFileTest() : calendar_(store_.CreateMailbox("po", "mb")) {
        MakeDirectory(calendar_.c_str());
        store_.registry().SetWaits(0);
    }
    std::string File(const char* extension) const { return calendar_ + "\\P" + extension; }

    static constexpr const char* kPeriod = "po\\MAILROOT\\mb\\Calendar\\P";
    testing::TestStore store_;
    std::string calendar_;
};

TEST_F(BlockingFileTest, LockCreatesAnEmptyBlockingFileAndUnlockDeletesIt) {
    EXPECT_EQ(1, LockPeriod(kPeriod));
    EXPECT_TRUE(PathExists(File(".BLK")));
    EXPECT_EQ("", ReadFileOrEmpty(File(".BLK")));
    EXPECT_EQ(1, UnlockPeriod(kPeriod));
    EXPECT_FALSE(PathExists(File(".BLK")));
    EXPECT_EQ(0, UnlockPeriod(kPeriod));  // nothing to delete: at once
}

TEST_F(BlockingFileTest, AStaleBlockingFileIsBrokenAfterTheWriteWait) {
    ASSERT_TRUE(WriteFileBytes(File(".BLK"), ""));  // left by a writer that died
    EXPECT_EQ(1, LockPeriod(kPeriod));
    EXPECT_TRUE(PathExists(File(".BLK")));
}

TEST_F(BlockingFileTest, ABlockingFileThatCannotBeDeletedKeepsThePeriodBlocked) {
    // A folder in the blocking file's place cannot be deleted as a file.
    ASSERT_TRUE(MakeDirectory(File(".BLK").c_str()));
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(0, LockPeriod(kPeriod));
    std::string said = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ("Unable to remove blocking file " + store_.root() + "\\" + kPeriod + ".BLK\n", said);
    RemoveFolder(File(".BLK").c_str());
}

TEST_F(BlockingFileTest, LockFailsAtOnceWhenTheFolderIsMissing) {
    EXPECT_EQ(0, LockPeriod("po\\MAILROOT\\nobody\\Calendar\\P"));
}

TEST_F(BlockingFileTest, ReadersWaitThenBreakAStaleBlockingFile) {
    WaitWhileLocked(kPeriod);  // nothing to wait for
    ASSERT_TRUE(WriteFileBytes(File(".BLK"), ""));
    WaitWhileLocked(kPeriod);
    EXPECT_FALSE(PathExists(File(".BLK")));
}

TEST_F(BlockingFileTest, CommitReplacesThePeriodFileAndKeepsABackup) {
    ASSERT_TRUE(WriteFileBytes(File(".CAL"), "old"));
    ASSERT_TRUE(WriteFileBytes(File(".BAK"), "older"));
    ASSERT_EQ(1, LockPeriod(kPeriod));
    ASSERT_TRUE(WriteFileBytes(File(".TMP"), "new"));
    EXPECT_EQ(1, CommitPeriod(kPeriod));
    EXPECT_EQ("new", ReadFileOrEmpty(File(".CAL")));
    EXPECT_EQ("old", ReadFileOrEmpty(File(".BAK")));
    EXPECT_FALSE(PathExists(File(".TMP")));
    EXPECT_FALSE(PathExists(File(".BLK")));
    EXPECT_FALSE(PathExists(File(".OLD")));
}

TEST_F(BlockingFileTest, CommitWithoutAPeriodFileMakesNoBackup) {
    ASSERT_EQ(1, LockPeriod(kPeriod));
    ASSERT_TRUE(WriteFileBytes(File(".TMP"), "first"));
    EXPECT_EQ(1, CommitPeriod(kPeriod));
    EXPECT_EQ("first", ReadFileOrEmpty(File(".CAL")));
    EXPECT_FALSE(PathExists(File(".BAK")));
}

TEST_F(BlockingFileTest, AFailedReplacementIsReportedAndChangesNothing) {
    ASSERT_TRUE(WriteFileBytes(File(".CAL"), "old"));
    ASSERT_EQ(1, LockPeriod(kPeriod));
    // The copy vanished before the commit: nothing can be put in place.
    EXPECT_EQ(0, CommitPeriod(kPeriod));
    EXPECT_EQ("old", ReadFileOrEmpty(File(".CAL")));
    EXPECT_FALSE(PathExists(File(".BLK")));
}

TEST_F(BlockingFileTest, AReplacementThatKeepsFailingIsGivenUpAfterTheApplyWait) {
    // A folder in the period file's place cannot be replaced by a file.
    ASSERT_TRUE(MakeDirectory(File(".CAL").c_str()));
    ASSERT_EQ(1, LockPeriod(kPeriod));
    ASSERT_TRUE(WriteFileBytes(File(".TMP"), "new"));
    EXPECT_EQ(0, CommitPeriod(kPeriod));
    EXPECT_FALSE(PathExists(File(".TMP")));
    EXPECT_FALSE(PathExists(File(".BLK")));
    RemoveFolder(File(".CAL").c_str());
}

TEST_F(BlockingFileTest, CommitCanDeleteAnEmptiedPeriod) {
    ASSERT_TRUE(WriteFileBytes(File(".CAL"), "last"));
    ASSERT_EQ(1, LockPeriod(kPeriod));
    EXPECT_EQ(1, CommitPeriod(kPeriod, CommitAction::kDelete));
    EXPECT_FALSE(PathExists(File(".CAL")));
    EXPECT_EQ("last", ReadFileOrEmpty(File(".BAK")));
    EXPECT_FALSE(PathExists(File(".BLK")));
}

}  // namespace
}  // namespace cv
