// Store file names compare without regard to letter case in both builds: every operation of the
// seam on a name finds the entry held under another case, and never makes a second one beside it.
#include <gtest/gtest.h>

#include <cctype>
#include <fstream>
#include <functional>
#include <set>  // multiset
#include <string>

#include "host/host_platform.h"
#include "platform/platform.h"
#include "tests/support/test_store.h"

namespace cv {
namespace {

using testing::ReadFileOrEmpty;
using testing::WriteFileBytes;

class NameCaseTest : public ::testing::Test {
  protected:
    std::string Path(const std::string& name) const { return folder_.Join(name); }
    // The folder's entries as the file system names them; folded to upper case, so that a second
    // entry of one name shows whatever case the system gave a replaced file.
    std::multiset<std::string> Entries(bool folded = true) const {
        std::multiset<std::string> names;
        DirectorySearch search;
        FindData entry;
        for (bool found = search.First(Path("*").c_str(), &entry); found;
             found = search.Next(&entry)) {
            if (entry.name == "." || entry.name == "..") continue;
            for (char& c : entry.name) c = folded ? static_cast<char>(std::toupper(c)) : c;
            names.insert(entry.name);
        }
        return names;
    }
    testing::TempFolder folder_;
};

// The folder holds "TWIN.CAL" (and "OTHER"); each operation names it "twin.cal".
TEST_F(NameCaseTest, EveryOperationFindsTheTwinAndMakesNoSecondEntry) {
    struct Case {
        const char* what;
        std::function<bool()> call;
        bool result;
        std::string entries;  // afterwards, folded, in order
        std::string twin;     // content of TWIN.CAL afterwards ("-" when gone)
    };
    const std::string twin_path = Path("twin.cal"), other_path = Path("other");
    const char *twin = twin_path.c_str(), *other = other_path.c_str();
    auto write = [&](File::Mode mode) {
        return [=] {
            File file;
            return file.Open(twin, mode) && file.Write("new", 3);
        };
    };
    auto read = [&] {
        File file;
        char buffer[8] = {};
        return file.Open(twin, File::Mode::kRead) && file.Read(buffer, sizeof buffer) == 3 &&
               std::string(buffer) == "old";
    };
    auto attributes = [&] {
        return SetAttributes(twin, kAttributeNormal) && SetFileTimes(twin, CurrentFileTime());
    };
    auto exists = [&] {
        int64_t size = 0;
        return EntryExists(twin) && FileSizeByName(twin, &size) && size == 3;
    };
    const std::string bak = Path("twin.bak"), moved = Path("moved");
    const Case cases[] = {
        {"read", read, true, "OTHER TWIN.CAL", "old"},
        {"truncate", write(File::Mode::kWriteTruncate), true, "OTHER TWIN.CAL", "new"},
        {"append", write(File::Mode::kAppend), true, "OTHER TWIN.CAL", "oldnew"},
        {"create new", [&] { return CreateNewFile(twin); }, false, "OTHER TWIN.CAL", "old"},
        {"remove", [&] { return RemoveFile(twin); }, true, "OTHER", "-"},
        {"copy from", [&] { return CopyFileTo(twin, bak.c_str(), false); }, true,
         "OTHER TWIN.BAK TWIN.CAL", "old"},
        {"copy over", [&] { return CopyFileTo(other, twin, false); }, true, "OTHER TWIN.CAL",
         "other"},
        {"copy, not over", [&] { return CopyFileTo(other, twin, true); }, false, "OTHER TWIN.CAL",
         "old"},
        {"move from", [&] { return MoveFileTo(twin, moved.c_str()); }, true, "MOVED OTHER", "-"},
        {"move onto", [&] { return MoveFileTo(other, twin); }, false, "OTHER TWIN.CAL", "old"},
        {"replace", [&] { return ReplaceFileWith(other, twin); }, true, "TWIN.CAL", "other"},
        {"replace from", [&] { return ReplaceFileWith(twin, other); }, true, "OTHER", "-"},
        {"attributes", attributes, true, "OTHER TWIN.CAL", "old"},
        {"exists", exists, true, "OTHER TWIN.CAL", "old"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (const std::string& name : Entries()) RemoveFile(Path(name).c_str());
        ASSERT_TRUE(WriteFileBytes(Path("TWIN.CAL"), "old"));
        ASSERT_TRUE(WriteFileBytes(Path("OTHER"), "other"));
        EXPECT_EQ(c.result, c.call());
        std::string entries;
        for (const std::string& name : Entries()) entries += (entries.empty() ? "" : " ") + name;
        EXPECT_EQ(c.entries, entries);
        if (c.twin != "-") {
            EXPECT_EQ(c.twin, ReadFileOrEmpty(Path("TWIN.CAL")));
        }
    }
}

TEST_F(NameCaseTest, TheExactNameWinsAndANewNameIsKeptAsGiven) {
#ifndef _WIN32
    // Only a file system that tells cases apart can hold both; the seam would write the one.
    ASSERT_TRUE(WriteFileBytes(Path("_index.xml"), "exact"));
    std::string twin = Path("_INDEX.XML");
    for (char& c : twin) c = c == '\\' ? '/' : c;
    std::ofstream(twin) << "twin";
    EXPECT_EQ("exact", ReadFileOrEmpty(Path("_index.xml")));
    EXPECT_EQ("twin", ReadFileOrEmpty(Path("_Index.Xml")));  // the smallest of the others
    EXPECT_TRUE(RemoveFile(Path("_index.xml").c_str()));
    EXPECT_EQ(std::multiset<std::string>{"_INDEX.XML"}, Entries(false));
#endif
    EXPECT_TRUE(CreateNewFile(Path("New.Blk").c_str()));
    EXPECT_TRUE(WriteFileBytes(Path("Item-1"), "x"));
    EXPECT_EQ(1u, Entries(false).count("New.Blk"));
    EXPECT_EQ(1u, Entries(false).count("Item-1"));

    // Folders too: a path through "calendar" reaches "CALENDAR", which is not made twice.
    ASSERT_TRUE(MakeDirectory(Path("CALENDAR").c_str()));
    EXPECT_FALSE(MakeDirectory(Path("calendar").c_str()));
    EXPECT_EQ(kErrorAlreadyExists, LastSystemError());
    EXPECT_TRUE(WriteFileBytes(Path("calendar\\Y5.CAL"), "line"));
    EXPECT_EQ("line", ReadFileOrEmpty(Path("CALENDAR\\Y5.CAL")));
}

// A writer holding a period asks afresh whether an entry exists (that is what its waits rest
// on), while the names of the files it makes or replaces may come from the listing as read last.
TEST_F(NameCaseTest, AHeldScopeStillSeesEntriesComeAndGo) {
    ASSERT_TRUE(WriteFileBytes(Path("TWIN.CAL"), "old"));
    std::string other = Path("OTHER");
    for (char& c : other) c = c == '\\' ? '/' : c;
    {
        HeldNamesScope held;
        EXPECT_TRUE(EntryExists(Path("twin.cal").c_str()));
        std::ofstream(other) << "made by another party";
        EXPECT_TRUE(EntryExists(Path("other").c_str()));
        EXPECT_TRUE(RemoveFile(Path("other").c_str()));
        EXPECT_FALSE(EntryExists(Path("OTHER").c_str()));
        EXPECT_TRUE(WriteFileBytes(Path("twin.cal"), "new"));
        EXPECT_TRUE(WriteFileBytes(Path("Twin.Tmp"), "replacing"));
        EXPECT_TRUE(ReplaceFileWith(Path("Twin.Tmp").c_str(), Path("twin.Cal").c_str()));
    }
    // One entry (whose case the system chose: Windows gives a replaced file the new name).
    EXPECT_EQ(std::multiset<std::string>{"TWIN.CAL"}, Entries());
    EXPECT_EQ("replacing", ReadFileOrEmpty(Path("TWIN.CAL")));
}

}  // namespace
}  // namespace cv
