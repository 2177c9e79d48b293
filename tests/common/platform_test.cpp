// What the portable code relies on from the platform seam, pinned down in both builds.
#include "host/host_platform.h"
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <thread>

#include "tests/support/test_store.h"

namespace cv {
namespace {

using testing::ReadFileOrEmpty;
using testing::WriteFileBytes;

class PlatformTest : public ::testing::Test {
  protected:
    testing::TempFolder folder_;
};

TEST_F(PlatformTest, CreateNewIsExclusiveAndErrorsTellAMissingFileFromAMissingFolder) {
    std::string path = folder_.Join("P.BLK");
    EXPECT_TRUE(CreateNewFile(path.c_str()));
    EXPECT_EQ("", ReadFileOrEmpty(path));
    EXPECT_FALSE(CreateNewFile(path.c_str()));
    EXPECT_EQ(kErrorFileExists, LastSystemError());
    EXPECT_FALSE(CreateNewFile(folder_.Join("missing\\P.BLK").c_str()));
    EXPECT_EQ(kErrorPathNotFound, LastSystemError());
    EXPECT_FALSE(RemoveFile(folder_.Join("absent").c_str()));
    EXPECT_EQ(kErrorFileNotFound, LastSystemError());
    EXPECT_FALSE(RemoveFile(folder_.Join("absent\\file").c_str()));
    EXPECT_EQ(kErrorPathNotFound, LastSystemError());
}

TEST_F(PlatformTest, ReplaceNeverLeavesTheTargetMissing) {
    // POSIX replaces under an open reader; Windows may refuse while the reader is there. Either
    // way the target is whole, old or new, and the replacement goes through once it is closed.
    std::string a = folder_.Join("a"), b = folder_.Join("b");
    ASSERT_TRUE(WriteFileBytes(a, "new"));
    ASSERT_TRUE(WriteFileBytes(b, "old"));
    File reader;
    ASSERT_TRUE(reader.Open(b.c_str(), File::Mode::kRead));
    bool replaced = ReplaceFileWith(a.c_str(), b.c_str());
    EXPECT_EQ(replaced ? "new" : "old", ReadFileOrEmpty(b));
    char buffer[8] = {};
    EXPECT_EQ(3, reader.Read(buffer, sizeof buffer));  // the reader keeps what it opened
    EXPECT_STREQ("old", buffer);
    reader.Close();
    if (!replaced) {
        EXPECT_TRUE(ReplaceFileWith(a.c_str(), b.c_str()));
    }
    EXPECT_EQ("new", ReadFileOrEmpty(b));
}

// Both ways of reading see a file whole and seek in it, and neither reads a folder: Windows refuses
// to open one, POSIX opens it and the quick way learns at the first read.
TEST_F(PlatformTest, FilesAreReadWholeAndFoldersNotAtAll) {
    std::string path = folder_.Join("whole");
    std::string bytes(70000, 'x');
    ASSERT_TRUE(WriteFileBytes(path, bytes));
    ASSERT_TRUE(MakeDirectory(folder_.Join("folder").c_str()));
    int64_t size = 0;
    EXPECT_TRUE(FileSizeByName(path.c_str(), &size));
    EXPECT_EQ(70000, size);
    EXPECT_FALSE(FileSizeByName(folder_.Join("folder").c_str(), &size));
    EXPECT_EQ(kErrorAccessDenied, LastSystemError());
    EXPECT_FALSE(FileSizeByName(folder_.Join("absent").c_str(), &size));
    EXPECT_EQ(kErrorFileNotFound, LastSystemError());
    for (File::Mode mode : {File::Mode::kRead, File::Mode::kReadQuick}) {
        File file;
        ASSERT_TRUE(file.Open(path.c_str(), mode));
        std::string got(80000, '\0');
        EXPECT_EQ(70000, file.Read(&got[0], 50000) + file.Read(&got[50000], 30000));
        EXPECT_EQ(0, file.Read(&got[0], 10));
        EXPECT_EQ(bytes, got.substr(0, 70000));
        ASSERT_TRUE(file.Seek(69998));
        EXPECT_EQ(2, file.Read(&got[0], 10));
        ASSERT_TRUE(file.Seek(100000));  // past the end: reads nothing
        EXPECT_EQ(0, file.Read(&got[0], 10));
        char buffer[8];
        if (file.Open(folder_.Join("folder").c_str(), mode)) {
            EXPECT_EQ(File::Mode::kReadQuick, mode);
            EXPECT_EQ(-1, file.Read(buffer, sizeof buffer));
        }
        EXPECT_EQ(kErrorAccessDenied, LastSystemError());
    }
}

// A walk resumes only in the file it left, as it left it: the state tells a replaced file.
TEST_F(PlatformTest, FileStateTellsAReplacedFileFromTheSameOne) {
    std::string path = folder_.Join("state"), other = folder_.Join("other");
    ASSERT_TRUE(WriteFileBytes(path, "abc"));
    ASSERT_TRUE(WriteFileBytes(other, "abcd"));
    FileState states[3];
    for (int i = 0; i < 3; ++i) {
        if (i == 2) {
            ASSERT_TRUE(ReplaceFileWith(other.c_str(), path.c_str()));
        }
        File file;
        ASSERT_TRUE(file.Open(path.c_str(), i ? File::Mode::kRead : File::Mode::kReadQuick));
        ASSERT_TRUE(file.GetState(&states[i]));
    }
    EXPECT_EQ(3, states[0].size);
    EXPECT_NE(0u, states[0].written);
    EXPECT_EQ(states[0].identity, states[1].identity);
    EXPECT_EQ(states[0].written, states[1].written);
    EXPECT_NE(states[0].identity, states[2].identity);
    EXPECT_EQ(4, states[2].size);
}

// A folder held open changes how fast its files are found, never which: names in any case, files
// below it or beside it, and files that are not there all come out as by their whole paths.
TEST_F(PlatformTest, FilesOpenThroughAHeldFolderAsByTheirPaths) {
    ASSERT_TRUE(MakeDirectory(folder_.Join("Calendar").c_str()));
    ASSERT_TRUE(MakeDirectory(folder_.Join("Calendar\\nested").c_str()));
    ASSERT_TRUE(WriteFileBytes(folder_.Join("Calendar\\item"), "inside"));
    ASSERT_TRUE(WriteFileBytes(folder_.Join("Calendar\\nested\\deeper"), "below"));
    ASSERT_TRUE(WriteFileBytes(folder_.Join("beside"), "beside"));
    ASSERT_TRUE(WriteFileBytes(folder_.Join("Calendar_item"), "sibling"));
    for (const char* held : {"Calendar", "CALENDAR"}) {
        FolderHandle folder;
        folder.Open(folder_.Join(held).c_str());  // nothing to hold on Windows
        const std::string named[][2] = {{std::string(held) + "\\item", "inside"},
                                        {std::string(held) + "\\ITEM", "inside"},
                                        {"Calendar\\nested\\deeper", "below"},
                                        {"beside", "beside"},
                                        {"Calendar_item", "sibling"}};
        for (const auto& name : named) {
            File file;
            ASSERT_TRUE(file.Open(folder_.Join(name[0]).c_str(), File::Mode::kRead, &folder))
                << name[0];
            char buffer[16] = {};
            EXPECT_EQ(static_cast<int64_t>(name[1].size()), file.Read(buffer, sizeof buffer));
            EXPECT_EQ(name[1], buffer);
        }
        File file;
        EXPECT_FALSE(file.Open(folder_.Join(std::string(held) + "\\absent").c_str(),
                               File::Mode::kRead, &folder));
        EXPECT_EQ(kErrorFileNotFound, LastSystemError());
        EXPECT_FALSE(file.Open(folder_.Join(std::string(held) + "\\nested").c_str(),
                               File::Mode::kRead, &folder));
        EXPECT_EQ(kErrorAccessDenied, LastSystemError());
    }
}

TEST_F(PlatformTest, DirectorySearchMatchesWildcardsWithoutCase) {
    for (const char* name : {"Y.CAL", "Y09M03.CAL", "y09m03d05.cal", "item", "_index.xml"}) {
        ASSERT_TRUE(WriteFileBytes(folder_.Join(name), "x"));
    }
    ASSERT_TRUE(MakeDirectory(folder_.Join("sub").c_str()));
    auto names = [&](const char* pattern) {
        std::set<std::string> found;
        DirectorySearch search;
        FindData entry;
        if (search.First(folder_.Join(pattern).c_str(), &entry)) {
            do found.insert(entry.name);
            while (search.Next(&entry));
            EXPECT_EQ(kErrorNoMoreFiles, LastSystemError());
        }
        return found;
    };
    EXPECT_EQ((std::set<std::string>{"Y.CAL", "Y09M03.CAL", "y09m03d05.cal"}), names("Y*.CAL"));
    EXPECT_EQ((std::set<std::string>{"Y09M03.CAL", "y09m03d05.cal"}), names("y09M03*.cal"));
    EXPECT_EQ((std::set<std::string>{"Y.CAL"}), names("?.cal"));
    // A name without wildcards finds its one entry, under whatever case the entry has.
    EXPECT_EQ((std::set<std::string>{"_index.xml"}), names("_INDEX.XML"));
    EXPECT_EQ((std::set<std::string>{"Y09M03.CAL"}), names("Y09M03.CAL"));
    std::set<std::string> all = names("*.*");
    EXPECT_TRUE(all.count("item") && all.count("sub") && all.count("Y.CAL"));
    DirectorySearch search;
    FindData entry;
    EXPECT_FALSE(search.First(folder_.Join("Z*.CAL").c_str(), &entry));
    EXPECT_EQ(kErrorFileNotFound, LastSystemError());
    EXPECT_FALSE(search.First(folder_.Join("absent\\*.CAL").c_str(), &entry));
    EXPECT_EQ(kErrorPathNotFound, LastSystemError());
    EXPECT_FALSE(search.First(folder_.Join("Y09.CAL").c_str(), &entry));
    EXPECT_EQ(kErrorFileNotFound, LastSystemError());
    EXPECT_FALSE(search.First(folder_.Join("absent\\Y.CAL").c_str(), &entry));
    EXPECT_EQ(kErrorPathNotFound, LastSystemError());
    ASSERT_TRUE(search.First(folder_.Join("sub").c_str(), &entry));
    EXPECT_TRUE(entry.attributes & kAttributeDirectory);
    // Names only: the same entries, each with its folder bit.
    std::set<std::string> named;
    for (bool found =
             search.First(folder_.Join("*").c_str(), &entry, DirectorySearch::Detail::kName);
         found; found = search.Next(&entry)) {
        named.insert(entry.name);
        const bool folder = entry.name == "sub" || entry.name == "." || entry.name == "..";
        EXPECT_EQ(folder, (entry.attributes & kAttributeDirectory) != 0) << entry.name;
    }
    EXPECT_EQ(names("*"), named);
}

TEST_F(PlatformTest, AProgramThatIsNotThereDoesNotStart) {
    ChildProcess child;
    EXPECT_FALSE(child.Start({folder_.Join("absent.exe")}));
    EXPECT_FALSE(child.running());
}

TEST(ThreadSlotTest, EachThreadHasItsOwnValueStartingAtZero) {
    ThreadSlot slot;
    ASSERT_TRUE(slot.Allocate());
    slot.Set(42);
    int32_t seen_by_other = -1;
    std::thread([&] {
        seen_by_other = slot.Get();
        slot.Set(7);
    }).join();
    EXPECT_EQ(0, seen_by_other);
    EXPECT_EQ(42, slot.Get());
    slot.Free();
}

}  // namespace
}  // namespace cv
