// Store file names compare without regard to letter case in both builds: every operation of the
// seam on a name finds the entry held under another case, and never makes a second one beside it.
#include <gtest/gtest.h>

#include <cctype>
#include <fstream>
#include <functional>
#include <set>  // multiset
#include <string>

#include "common/platform.h"
#include "common/host_platform.h"
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
            if (folded) {
                for (char& c : entry.name) c = static_cast<char>(std::toupper(c));
            }
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
        std::multiset<std::string> entries;
        std::string twin;  // content of TWIN.CAL afterwards ("-" when gone)
    };
    auto p = [this](const char* name) { return Path(name); };
    auto write = [&](File::Mode mode) {
        return [=] {
            File file;
            return file.Open(p("twin.cal").c_str(), mode) && file.Write("new", 3);
        };
    };
    const Case cases[] = {
        {"read",
         [&] {
             File file;
             char buffer[8] = {};
             return file.Open(p("twin.cal").c_str(), File::Mode::kRead) &&
                    file.Read(buffer, sizeof buffer) == 3 && std::string(buffer) == "old";
         },
         true,
         {"TWIN.CAL", "OTHER"},
         "old"},
        {"truncate", write(File::Mode::kWriteTruncate), true, {"TWIN.CAL", "OTHER"}, "new"},
        {"append", write(File::Mode::kAppend), true, {"TWIN.CAL", "OTHER"}, "oldnew"},
        {"create new",
         [&] { return CreateNewFile(p("twin.cal").c_str()); },
         false,
         {"TWIN.CAL", "OTHER"},
         "old"},
        {"remove", [&] { return RemoveFile(p("twin.cal").c_str()); }, true, {"OTHER"}, "-"},
        {"copy from",
         [&] { return CopyFileTo(p("twin.cal").c_str(), p("twin.bak").c_str(), false); },
         true,
         {"TWIN.CAL", "OTHER", "TWIN.BAK"},
         "old"},
        {"copy over",
         [&] { return CopyFileTo(p("other").c_str(), p("twin.cal").c_str(), false); },
         true,
         {"TWIN.CAL", "OTHER"},
         "other"},
        {"copy, not over",
         [&] { return CopyFileTo(p("other").c_str(), p("twin.cal").c_str(), true); },
         false,
         {"TWIN.CAL", "OTHER"},
         "old"},
        {"move from",
         [&] { return MoveFileTo(p("twin.cal").c_str(), p("moved").c_str()); },
         true,
         {"OTHER", "MOVED"},
         "-"},
        {"move onto",
         [&] { return MoveFileTo(p("other").c_str(), p("twin.cal").c_str()); },
         false,
         {"TWIN.CAL", "OTHER"},
         "old"},
        {"replace",
         [&] { return ReplaceFileWith(p("other").c_str(), p("twin.cal").c_str()); },
         true,
         {"TWIN.CAL"},
         "other"},
        {"replace from",
         [&] { return ReplaceFileWith(p("twin.cal").c_str(), p("other").c_str()); },
         true,
         {"OTHER"},
         "-"},
        {"attributes",
         [&] {
             return SetAttributes(p("twin.cal").c_str(), kAttributeNormal) &&
                    SetFileTimes(p("twin.cal").c_str(), CurrentFileTime());
         },
         true,
         {"TWIN.CAL", "OTHER"},
         "old"},
        {"exists",
         [&] {
             int64_t size = 0;
             return EntryExists(p("twin.cal").c_str()) &&
                    FileSizeByName(p("twin.cal").c_str(), &size) && size == 3;
         },
         true,
         {"TWIN.CAL", "OTHER"},
         "old"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (const std::string& name : Entries()) RemoveFile(Path(name).c_str());
        ASSERT_TRUE(WriteFileBytes(Path("TWIN.CAL"), "old"));
        ASSERT_TRUE(WriteFileBytes(Path("OTHER"), "other"));
        EXPECT_EQ(c.result, c.call());
        EXPECT_EQ(c.entries, Entries());
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
    EXPECT_FALSE(RemoveFile(Path("calendar\\absent").c_str()));
    EXPECT_EQ(kErrorFileNotFound, LastSystemError());
}

}  // namespace
}  // namespace cv
