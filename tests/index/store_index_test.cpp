// The folder index record: its folder path, its document's root, save and load with their
// reports, the index lock, and releasing.
#include "index/store_index.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/file_helpers.h"
#include "index/calendar_scan.h"
#include "index_api/folder_scan.h"
#include "index_api/index_file.h"
#include "platform/platform.h"
#include "platform/registry.h"
#include "tests/index/index_test_support.h"
#include "tests/support/diagnostics.h"
#include "tests/support/records.h"
#include "tests/support/test_store.h"

namespace cv {
namespace {

using testing::NamedIndex;
using testing::Shape;

class StoreIndexTest : public ::testing::Test {
  protected:
    StoreIndexTest() { store_.CreateMailbox("example", "anna"); }
    ~StoreIndexTest() override { SetIndexLockSleep(nullptr); }

    std::string Resolved(const char* folder) {
        auto index = NamedIndex(folder);
        EXPECT_EQ(1, StoreIndex_SetPaths(index.get()));
        return index->FolderPath;
    }
    std::string Root(const std::string& tail) { return store_.root() + "\\example\\" + tail; }
    bool IsFolder(const std::string& path) { return FolderExists(path.c_str()) != 0; }

    // A document with a root and one item.
    static XmlDocument SmallIndex() {
        XmlDocument document;
        XmlParseError error;
        EXPECT_TRUE(CreateIndexDocument(&document) &&
                    document.LoadText("<BASEELEMENT><ELEMENT><START>42</START></ELEMENT>"
                                      "</BASEELEMENT>",
                                      &error) == XmlLoadResult::kLoaded);
        return document;
    }

    testing::TestStore store_;
};

TEST_F(StoreIndexTest, FolderNamesResolveByTheirForm) {
    const struct {
        const char* folder;
        const char* path;
        bool made;  // the folder exists afterwards
    } cases[] = {
        {"Contacts", "MAILROOT\\anna\\Contacts", false},
        {"", "MAILROOT\\anna\\INBOX", false},
        {"PublicX", "PUBROOT", true},
        {"/Public/Sales", "PUBROOT\\Sales", true},
        {"\\\\public\\Team", "PUBROOT\\Team", true},
        {"$VCFROOT/cards", "VCFROOT\\cards", false},  // one level only: VCFROOT is not there yet
        {"$vcfroot", "VCFROOT", true},
        {"$VCFROOT/cards", "VCFROOT\\cards", true},
        {"$FILEROOT/docs", "FILEROOT\\anna\\docs", true},
        {"$FILEROOT", "FILEROOT\\anna", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.folder);
        EXPECT_EQ(Root(c.path), Resolved(c.folder));
        EXPECT_EQ(c.made, IsFolder(Root(c.path)));
    }
}

TEST_F(StoreIndexTest, PublicFoldersCanBeSwitchedOff) {
    EXPECT_EQ(1u, IsPublicFoldersEnabled());
    store_.registry().SetDword(Hive::kLocalMachine, kStoreKey, "Public Folders Enabled", 0);
    EXPECT_EQ(0u, IsPublicFoldersEnabled());
    EXPECT_EQ(Root("MAILROOT\\anna\\/Public/Sales"), Resolved("/Public/Sales"));
    EXPECT_FALSE(IsFolder(Root("PUBROOT")));
}

TEST_F(StoreIndexTest, APathOnceSetStays) {
    auto index = NamedIndex("Contacts");
    ASSERT_EQ(1, StoreIndex_SetPaths(index.get()));
    testing::SetField(index->MailboxName, "bert");
    testing::SetField(index->FolderName, "$FILEROOT/x");
    EXPECT_EQ(1, StoreIndex_SetPaths(index.get()));
    EXPECT_EQ(Root("MAILROOT\\anna\\Contacts"), index->FolderPath);
    testing::KeptDiagnostics kept;
    EXPECT_EQ(0, StoreIndex_SetPaths(nullptr));
    EXPECT_EQ("WARNING!: StoreIndex is NULL when passed to StoreIndex_SetPaths\n", kept.Take());
}

TEST_F(StoreIndexTest, ADocumentGetsOneRoot) {
    XmlDocument document;
    ASSERT_EQ(1, CreateIndexDocument(&document));
    EXPECT_EQ(1, CreateIndexRoot(document));
    EXPECT_EQ(0, CreateIndexRoot(document));  // the DOM refuses a second root
    EXPECT_EQ("BASEELEMENT=\"\"", Shape(document));
    // A record's document is made once.
    StoreIndex index;
    ASSERT_EQ(1, CreateIndexDocument(&index));
    ASSERT_EQ(1, CreateIndexRoot(index.FolderIndex));
    ASSERT_EQ(1, CreateIndexDocument(&index));
    EXPECT_EQ("BASEELEMENT=\"\"", Shape(index.FolderIndex));
}

TEST_F(StoreIndexTest, SavesIntoANewFolderAndLoadsBack) {
    auto index = NamedIndex("Contacts");
    ASSERT_EQ(1, StoreIndex_SetPaths(index.get()));
    EXPECT_EQ(0, StoreIndex_Save(index.get()));  // no document
    EXPECT_FALSE(IsFolder(index->FolderPath));
    index->FolderIndex = SmallIndex();
    index->Dirty = 1;
    testing::KeptDiagnostics kept;
    ASSERT_EQ(1, StoreIndex_Save(index.get()));
    EXPECT_EQ("", kept.Take() + kept.TakeTrace());
    EXPECT_EQ(0, index->Dirty);
    EXPECT_NE(0u, index->IndexStamp);
    EXPECT_EQ(GetIndexFileStamp(index->FolderPath), index->IndexStamp);
    EXPECT_EQ(0u, GetIndexFileStamp(Root("MAILROOT\\anna").c_str()));
    XmlDocument loaded;
    ASSERT_EQ(1, CreateIndexDocument(&loaded));
    ASSERT_EQ(1,
              LoadIndexDocument(loaded, (std::string(index->FolderPath) + "\\_index.xml").c_str()));
    EXPECT_EQ("BASEELEMENT(ELEMENT(START=\"42\"))", Shape(loaded));
    index->FolderPath[0] = '\0';
    index->Dirty = 1;
    EXPECT_EQ(1, StoreIndex_Save(index.get()));  // there is nowhere to write to
    EXPECT_EQ(0, index->Dirty);
}

// The reports print the DOM's error in these lines, and no others.
// The lines printed, each cut to the length of the prefix it is expected to begin with.
std::vector<std::string> Cut(const std::string& printed, const std::vector<std::string>& prefixes) {
    std::istringstream in(printed);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line.substr(
            0, lines.size() < prefixes.size() ? prefixes[lines.size()].size() : line.size()));
    }
    return lines;
}

// The reports print the DOM's error in these lines, and no others.
TEST_F(StoreIndexTest, AFailedSaveOrLoadPrintsTheErrorReport) {
    auto index = NamedIndex("Contacts");
    testing::SetField(index->FolderPath, Root("MAILROOT\\nobody\\Contacts"));
    index->FolderIndex = SmallIndex();
    index->Dirty = 1;
    index->IndexStamp = 77;
    testing::KeptDiagnostics kept;
    EXPECT_EQ(0, StoreIndex_Save(index.get()));
    std::string printed = kept.Take();
    EXPECT_EQ("StoreIndex_Save::Error - Unable to commit index for folder " +
                  std::string(index->FolderPath) + "\n",
              kept.TakeTrace());
    std::vector<std::string> prefixes = {"Context: Saving Index File to Folder",
                                         "Error:",
                                         "Code = ",
                                         "Code meaning = ",
                                         "Source = ",
                                         "Error Description = "};
    EXPECT_EQ(prefixes, Cut(printed, prefixes)) << printed;
    const auto code = printed.find("\nCode = ");  // eight hex digits
    EXPECT_EQ(code + 16, printed.find('\n', code + 1)) << printed;
    EXPECT_EQ(1, index->Dirty);
    EXPECT_EQ(77u, index->IndexStamp);
    EXPECT_FALSE(IsFolder(Root("MAILROOT\\nobody")));
    // A missing file is no error; a malformed one is.
    XmlDocument document;
    ASSERT_EQ(1, CreateIndexDocument(&document));
    testing::TempFolder folder;
    std::string file = folder.Join("_index.xml");
    EXPECT_EQ(0, LoadIndexDocument(document, file.c_str()));
    EXPECT_EQ(0, LoadIndexDocument(document, folder.Join("gone\\_index.xml").c_str()));
    EXPECT_EQ("", kept.Take());
    ASSERT_TRUE(testing::WriteFileBytes(file, "<BASEELEMENT>\n<ELEMENT>\n</BASEELEMENT>"));
    EXPECT_EQ(0, LoadIndexDocument(document, file.c_str()));
    printed = kept.Take();
#if defined(_WIN32)  // Wine's DOM gives no position (the platform's does)
    const char* source = "Source = Line : ";
#else
    const char* source = "Source = Line : 3; Char : ";
#endif
    prefixes = {"Error:", "Code = 0x", source, "Error Description = "};
    EXPECT_EQ(prefixes, Cut(printed, prefixes)) << printed;
}

TEST_F(StoreIndexTest, ReleaseGivesEveryReferenceBackOnce) {
    auto index = NamedIndex("Contacts");
    ASSERT_EQ(1, StoreIndex_SetPaths(index.get()));
    std::string path = index->FolderPath;
    index->FolderIndex = SmallIndex();
    index->SortedIndex = SmallIndex();
    XmlNode held;
    ASSERT_TRUE(index->FolderIndex.DocumentElement(&held));
    index->CurrentSortedIndexNode.IndexNode = held;
    index->IndexStamp = 5;
    testing::KeptDiagnostics kept;
    EXPECT_EQ(1, StoreIndex_Release(index.get()));
    EXPECT_EQ(1, StoreIndex_Release(index.get()));
    EXPECT_EQ(0, StoreIndex_Release(nullptr));  // a warning for the trace, no report
    EXPECT_EQ("", kept.Take());
    EXPECT_EQ(
        "StoreIndex_Release::WARNING!: StoreIndex is NULL when passed to StoreIndex_Release on "
        "folder \n",
        kept.TakeTrace());
    EXPECT_TRUE(index->FolderIndex.IsNull() && index->SortedIndex.IsNull() &&
                index->CurrentSortedIndexNode.IndexNode.IsNull());
    EXPECT_EQ(0u, index->IndexStamp);
    EXPECT_EQ(path, index->FolderPath);
    EXPECT_EQ("BASEELEMENT(ELEMENT(START=\"42\"))", Shape(held));  // our own reference stands
}

// The index lock's one-second steps, counted instead of slept; at a chosen step another party
// lets go of the lock.
int g_steps = 0;
int g_release_at_step = 0;
std::string g_lock;
void CountStep(uint32_t milliseconds) {
    EXPECT_EQ(1000u, milliseconds);
    if (++g_steps == g_release_at_step) RemoveFile(g_lock.c_str());
}

TEST_F(StoreIndexTest, ALockFileIsMadeOnceAndWaitedForAMinuteAtMost) {
    SetIndexLockSleep(CountStep);
    testing::TempFolder folder;
    g_lock = folder.Join("_index.blk");
    g_steps = g_release_at_step = 0;
    EXPECT_EQ(1, LockIndexFile(g_lock.c_str()));
    EXPECT_TRUE(testing::PathExists(g_lock));
    EXPECT_EQ(0, g_steps);
    g_release_at_step = 3;
    EXPECT_EQ(1, LockIndexFile(g_lock.c_str()));
    EXPECT_EQ(3, g_steps);
    EXPECT_TRUE(testing::PathExists(g_lock));
    EXPECT_EQ(1, UnlockIndexFile(g_lock.c_str()));
    EXPECT_FALSE(testing::PathExists(g_lock));
    EXPECT_EQ(0, UnlockIndexFile(g_lock.c_str()));
    EXPECT_EQ(0, LockIndexFile(folder.Join("missing\\_index.blk").c_str()));
    EXPECT_EQ(3, g_steps);  // neither waited
    // A lock that is never removed is taken over after a minute.
    g_steps = g_release_at_step = 0;
    ASSERT_TRUE(testing::WriteFileBytes(g_lock, ""));
    EXPECT_EQ(1, LockIndexFile(g_lock.c_str()));
    EXPECT_EQ(61, g_steps);
    EXPECT_TRUE(testing::PathExists(g_lock));
    // Looking for the index file takes the lock and gives it back.
    EXPECT_EQ(1, UnlockIndexFile(g_lock.c_str()));
    EXPECT_EQ(0, IndexFileExists(folder.path().c_str()));
    ASSERT_TRUE(testing::WriteFileBytes(folder.Join("_index.xml"), "<BASEELEMENT/>"));
    EXPECT_EQ(1, IndexFileExists(folder.path().c_str()));
    EXPECT_FALSE(testing::PathExists(g_lock));
}

// The fixtures hold this tree as each build's DOM saved it (SaveIndexDocument of the tree built
// element by element); both builds must read each into the same tree.
#ifdef _WIN32
#define CV_E_ACUTE "\xE9"  // the ANSI code page
#else
#define CV_E_ACUTE "\xC3\xA9"  // UTF-8
#endif
constexpr char kFixtureShape[] =
    "BASEELEMENT(ELEMENT[ID=A1.EML](START=\"1110186000\",END=\"1110189600\","
    "MODIFIEDDATE=\"843733000\",SUBJECT=\"Caf" CV_E_ACUTE
    " & <friends> \"1\"\",FROM=\"anna@example.com\"),"
    "ELEMENT[ID=B2.EML](START=\"-5\",END=\"0\",MODIFIEDDATE=\"0\",LOCATION=\"\"))";

TEST_F(StoreIndexTest, IndexesSavedByEitherBuildLoadInBoth) {
    for (const char* name : {"native_index.xml", "win32_index.xml"}) {
        // The backslash form on drive Z: (which Wine maps to the root) reaches the file in both.
        std::string path = "Z:" + std::string(CV_INDEX_FIXTURES) + "/" + name;
        std::replace(path.begin(), path.end(), '/', '\\');
        XmlDocument document;
        ASSERT_EQ(1, CreateIndexDocument(&document));
        testing::KeptDiagnostics kept;
        EXPECT_EQ(1, LoadIndexDocument(document, path.c_str())) << path;
        EXPECT_EQ("", kept.Take());
        EXPECT_EQ(kFixtureShape, Shape(document)) << name;
    }
}

// The library starts no COM of its own: a thread that has not started it gets no document
// (natively there is no COM to start).
TEST_F(StoreIndexTest, AThreadWithoutComGetsNoDocument) {
    int created = -1, scanned = -1;
    auto index = NamedIndex("Contacts");
    ListContext context{};
    testing::KeptDiagnostics kept;
    std::thread([&] {
        XmlDocument document;
        created = CreateIndexDocument(&document);
        scanned = ScanCalendarIndex(index.get(), &context);
        StoreIndex_Release(index.get());  // on the thread that made them
    }).join();
    const std::string said = kept.Take();
#if defined(_WIN32)
    EXPECT_EQ("0 0 CoInitialize not called\nCoInitialize not called\n",
#else
    EXPECT_EQ("1 1 ",
#endif
              std::to_string(created) + " " + std::to_string(scanned) + " " + said);
}

}  // namespace
}  // namespace cv
