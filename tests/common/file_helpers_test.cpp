#include "common/file_helpers.h"
#include "common/host_files.h"

#include <gtest/gtest.h>

#include "common/platform.h"
#include "tests/support/test_store.h"

namespace cv {
namespace {

using testing::PathExists;
using testing::WriteFileBytes;

class FileHelpersTest : public ::testing::Test {
  protected:
    std::string Make(const std::string& name, const std::string& bytes = "x") {
        std::string path = folder_.Join(name);
        EXPECT_TRUE(WriteFileBytes(path, bytes)) << path;
        return path;
    }
    std::string MakeFolder(const std::string& name) {
        std::string path = folder_.Join(name);
        EXPECT_TRUE(MakeDirectory(path.c_str())) << path;
        return path;
    }
    testing::TempFolder folder_;
};

TEST_F(FileHelpersTest, DeleteFolderTreeRemovesReadOnlyFilesAndSubfolders) {
    std::string tree = MakeFolder("tree");
    Make("tree\\plain.txt");
    std::string locked = Make("tree\\locked.txt");
    ASSERT_TRUE(SetAttributes(locked.c_str(), kAttributeReadOnly));
    MakeFolder("tree\\sub");
    Make("tree\\sub\\a");
    MakeFolder("tree\\sub\\deeper");
    Make("tree\\sub\\deeper\\b");
    EXPECT_EQ(1, DeleteFolderTree(tree.c_str(), nullptr));
    EXPECT_FALSE(PathExists(tree));
}

TEST_F(FileHelpersTest, DeleteFolderTreeWithPatternKeepsOtherFiles) {
    std::string calendar = MakeFolder("Calendar");
    Make("Calendar\\Y05M03.CAL");
    Make("Calendar\\y05m04.cal");
    Make("Calendar\\item-1");
    EXPECT_EQ(0, DeleteFolderTree(calendar.c_str(), "Y*.CAL"));  // the folder stays: not empty
    EXPECT_FALSE(PathExists(calendar + "\\Y05M03.CAL"));
    EXPECT_FALSE(PathExists(calendar + "\\y05m04.cal"));
    EXPECT_TRUE(PathExists(calendar + "\\item-1"));
}

TEST_F(FileHelpersTest, DeleteFolderTreeFailsOnMissingOrEmptyPathsAndOverlongNames) {
    EXPECT_EQ(0, DeleteFolderTree(folder_.Join("missing").c_str(), nullptr));
    EXPECT_EQ(0, DeleteFolderTree("", nullptr));
    std::string long_name(300, 'n');
    EXPECT_EQ(0, DeleteFolderTree((folder_.path() + "\\" + long_name).c_str(), nullptr));
    // A pattern that matches nothing removes nothing.
    std::string keep = MakeFolder("keep");
    Make("keep\\file");
    EXPECT_EQ(0, DeleteFolderTree(keep.c_str(), "Y*.CAL"));
    EXPECT_TRUE(PathExists(keep + "\\file"));
}

TEST_F(FileHelpersTest, ExistenceTestsUseDirectorySearch) {
    MakeFolder("index");
    EXPECT_EQ(0, FileExists(folder_.Join("index\\*.xml").c_str()));
    Make("index\\_index.xml");
    EXPECT_EQ(1, FileExists(folder_.Join("index\\*.xml").c_str()));
    EXPECT_EQ(1, FileExists(folder_.Join("index\\_INDEX.XML").c_str()));  // case-insensitive
    EXPECT_EQ(1, FileExists(folder_.Join("index").c_str()));              // folders count
    EXPECT_EQ(1, FolderExists(folder_.Join("index").c_str()));
    EXPECT_EQ(0, FolderExists(folder_.Join("index\\_index.xml").c_str()));
    EXPECT_EQ(0, FolderExists(folder_.Join("absent").c_str()));
    EXPECT_EQ(0, FileExists(folder_.Join("absent\\x").c_str()));
}

TEST_F(FileHelpersTest, DosStampIsTheUtcLastWriteTime) {
    std::string path = Make("stamped");
    // 2005-03-07 14:30:10 UTC
    FileTime when = kFileTimeUnixEpoch + 1110205810ULL * 10000000ULL;
    ASSERT_TRUE(SetFileTimes(path.c_str(), when));
    EXPECT_EQ(0x326773C5u, GetFileDosStamp(path.c_str()));
    EXPECT_EQ(0u, GetFileDosStamp(folder_.Join("absent").c_str()));
}

}  // namespace
}  // namespace cv
