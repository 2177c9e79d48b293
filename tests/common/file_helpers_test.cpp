#include "common/file_helpers.h"
#include "host/host_files.h"

#include <gtest/gtest.h>

#include "platform/platform.h"
#include "tests/support/test_store.h"

namespace cv {
namespace {

using testing::PathExists;

class FileHelpersTest : public ::testing::Test {
  protected:
    // Folders end in '\', files get one byte.
    std::string Make(const std::string& name) {
        std::string path = folder_.Join(name);
        if (name.back() == '\\') {
            path.pop_back();
            EXPECT_TRUE(MakeDirectory(path.c_str())) << path;
        } else {
            EXPECT_TRUE(testing::WriteFileBytes(path, "x")) << path;
        }
        return path;
    }
    testing::TempFolder folder_;
};

TEST_F(FileHelpersTest, DeleteFolderTreeRemovesEverythingOrWhatMatches) {
    std::string tree = Make("tree\\");
    Make("tree\\plain.txt");
    ASSERT_TRUE(SetAttributes(Make("tree\\locked.txt").c_str(), kAttributeReadOnly));
    Make("tree\\sub\\");
    Make("tree\\sub\\deeper\\");
    Make("tree\\sub\\deeper\\b");
    EXPECT_EQ(1, DeleteFolderTree(tree.c_str(), nullptr));
    EXPECT_FALSE(PathExists(tree));
    std::string calendar = Make("Calendar\\");
    Make("Calendar\\Y05M03.CAL");
    Make("Calendar\\y05m04.cal");
    Make("Calendar\\item-1");
    EXPECT_EQ(0, DeleteFolderTree(calendar.c_str(), "Y*.CAL"));  // the folder stays: not empty
    EXPECT_FALSE(PathExists(calendar + "\\Y05M03.CAL"));
    EXPECT_FALSE(PathExists(calendar + "\\y05m04.cal"));
    EXPECT_TRUE(PathExists(calendar + "\\item-1"));
    EXPECT_EQ(0, DeleteFolderTree(folder_.Join("missing").c_str(), nullptr));
    EXPECT_EQ(0, DeleteFolderTree("", nullptr));
    EXPECT_EQ(0, DeleteFolderTree(folder_.Join(std::string(300, 'n')).c_str(), nullptr));
}

TEST_F(FileHelpersTest, ExistenceTestsUseDirectorySearch) {
    Make("index\\");
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
    ASSERT_TRUE(SetFileTimes(path.c_str(), kFileTimeUnixEpoch + 1110205810ULL * 10000000ULL));
    EXPECT_EQ(0x326773C5u, GetFileDosStamp(path.c_str()));
    EXPECT_EQ(0u, GetFileDosStamp(folder_.Join("absent").c_str()));
}

}  // namespace
}  // namespace cv
