// Opening a calendar folder's index as the store layer does: dirty markers, the reindex mode, and
// whether the index is rebuilt or loaded.
#include "index/calendar_folder_index.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "common/platform.h"
#include "common/registry.h"
#include "tests/index/index_test_support.h"
#include "tests/provider/appointment_fixture.h"

namespace cv {
namespace {

using Ids = std::vector<std::string>;

// Appointments in the period files; the index on disk, when there is one, says something else.
class CalendarFolderIndexTest : public testing::AppointmentTest {
  protected:
    CalendarFolderIndexTest() {
        Put("Y05M03D07.CAL", "100\t200\tscanned1\r\n300\t400\tscanned2");
        Put("scanned1", "Subject: one\r\n\r\n");
        Put("scanned2", "Subject: two\r\n\r\n");
        ForgetCalendarReIndexMode();
    }
    ~CalendarFolderIndexTest() override {
        StoreIndex_Close(index_.get());
        ForgetCalendarReIndexMode();
    }

    void PutIndexOnDisk(const char* name = "_index.xml") {
        Put(name, "<BASEELEMENT><ELEMENT ID=\"on-disk\"/></BASEELEMENT>");
    }
    void SetMode(uint32_t mode) {
        store_.registry().SetDword(Hive::kLocalMachine, kStoreKey, "Calendar ReIndex Mode", mode);
        ForgetCalendarReIndexMode();
    }

    // Opens the folder's index: how it was opened, and the IDs it holds (sorted) in ids_.
    std::string Open(bool reuse = false) {
        CalendarIndexOpenReport report;
        StoreIndex* opened = OpenCalendarFolderIndex(index_.get(), reuse, &report);
        markers_ = report.dirty_markers;
        ids_ = opened != nullptr ? testing::IdsOf(opened->FolderIndex, true) : Ids();
        static const char* const kNames[] = {"none", "reused", "rebuilt", "loaded"};
        const bool none = report.opening == CalendarIndexOpening::kNone;
        return (opened == nullptr) == none ? kNames[static_cast<int>(report.opening)] : "?";
    }

    std::unique_ptr<StoreIndex> index_ = testing::NamedIndex("Calendar");
    Ids ids_;
    int markers_ = -1;
    const Ids scanned_{"scanned1", "scanned2"};
    const Ids on_disk_{"on-disk"};
};

TEST_F(CalendarFolderIndexTest, TheModeIsReadOnceAndMissingMeansZero) {
    store_.registry().Delete(Hive::kLocalMachine, kStoreKey, "Calendar ReIndex Mode");
    EXPECT_EQ(0u, CalendarReIndexMode());
    SetMode(3);
    EXPECT_EQ(3u, CalendarReIndexMode());
    store_.registry().SetDword(Hive::kLocalMachine, kStoreKey, "Calendar ReIndex Mode", 0);
    EXPECT_EQ(3u, CalendarReIndexMode());  // kept for the life of the process
    ForgetCalendarReIndexMode();
    EXPECT_EQ(0u, CalendarReIndexMode());
}

// A missing index is rebuilt in either mode; a dirty marker rebuilds an index on disk only in
// mode 1, and is consumed either way.
TEST_F(CalendarFolderIndexTest, TheModeAndTheMarkersDecideBetweenRebuildAndLoad) {
    const struct {
        uint32_t mode;
        bool on_disk;
        bool marked;
        const char* opening;
    } cases[] = {
        {0, false, false, "rebuilt"}, {1, false, false, "rebuilt"}, {0, false, true, "rebuilt"},
        {0, true, false, "loaded"},   {1, true, false, "loaded"},   {0, true, true, "loaded"},
        {1, true, true, "rebuilt"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.mode) + (c.on_disk ? " index" : "") +
                     (c.marked ? " marked" : ""));
        SetMode(c.mode);
        RemoveFile(PathOf("_index.xml").c_str());
        if (c.on_disk) PutIndexOnDisk();
        if (c.marked) {
            Put("_CHANGE.DTY", "changed");
            Put("_other.dty", "changed");
        }
        EXPECT_EQ(c.opening, Open());
        EXPECT_EQ(std::string(c.opening) == "loaded" ? on_disk_ : scanned_, ids_);
        EXPECT_EQ(c.marked ? 2 : 0, markers_);
        EXPECT_FALSE(Exists("_CHANGE.DTY") || Exists("_other.dty") || Exists("_index.blk"));
        EXPECT_TRUE(Exists("_index.xml"));
    }
}

TEST_F(CalendarFolderIndexTest, AnOpenIndexIsReusedOnlyWhenAskedAndNeverDoubled) {
    SetMode(1);
    EXPECT_EQ("rebuilt", Open());
    Put("_CHANGE.DTY", "changed");
    EXPECT_EQ("reused", Open(true));
    EXPECT_EQ(scanned_, ids_);
    EXPECT_TRUE(Exists("_CHANGE.DTY"));
    // A second rebuild starts from a fresh document.
    EXPECT_EQ("rebuilt", Open());
    EXPECT_EQ(scanned_, ids_);
}

// The last removal of a calendar deletes its last period file (leaving its backup) and marks the
// folder: a rebuild then finds no period file, and the calendar is empty whatever the index on
// disk still lists.
TEST_F(CalendarFolderIndexTest, AFolderWithoutPeriodFilesHasAnEmptyIndex) {
    RemoveFile(PathOf("Y05M03D07.CAL").c_str());
    for (const char* left : {"Y05M03D07.BAK", "Y05M03D07.TMP", "Y05M03D07.OLD"}) {
        Put(left, "100\t200\tscanned1");  // no period file
    }
    for (uint32_t mode : {0u, 1u}) {
        SCOPED_TRACE(mode);
        SetMode(mode);
        PutIndexOnDisk();
        Put("_CHANGE.DTY", "changed");
        // Reindex mode 0 rebuilds only a missing index.
        EXPECT_EQ(mode == 0 ? "loaded" : "rebuilt", Open());
        EXPECT_EQ(mode == 0 ? on_disk_ : Ids{}, ids_);
        RemoveFile(PathOf("_index.xml").c_str());
        EXPECT_EQ("rebuilt", Open());
        EXPECT_TRUE(ids_.empty());
        EXPECT_EQ("loaded", Open());  // the empty index was saved
        EXPECT_TRUE(ids_.empty());
    }
    // No Calendar folder at all: an empty index, and reading it makes no folder.
    index_ = testing::NamedIndex("Calendar", "bert");
    store_.CreateMailbox("example", "bert");
    EXPECT_EQ("rebuilt", Open());
    EXPECT_TRUE(ids_.empty());
    EXPECT_FALSE(testing::PathExists(store_.CalendarFolder("example", "bert")));
}

TEST_F(CalendarFolderIndexTest, AnIndexHeldUnderAnotherCaseIsTheFoldersIndex) {
    SetMode(1);
    PutIndexOnDisk("_INDEX.XML");
    EXPECT_EQ("loaded", Open());
    EXPECT_EQ(on_disk_, ids_);
    // A rebuild replaces that file rather than writing a second one beside it.
    Put("_change.dty", "changed");
    EXPECT_EQ("rebuilt", Open());
    EXPECT_EQ(scanned_, ids_);
    DirectorySearch search;
    FindData entry;
    ASSERT_TRUE(search.First(PathOf("_index.xml").c_str(), &entry));
    EXPECT_EQ("_INDEX.XML", entry.name);
    EXPECT_FALSE(search.Next(&entry));
    EXPECT_FALSE(Exists("_CHANGE.DTY"));
}

TEST_F(CalendarFolderIndexTest, AnIndexThatCannotBeLoadedIsNone) {
    Put("_index.xml", "<BASEELEMENT><ELEMENT");
    ::testing::internal::CaptureStdout();
    EXPECT_EQ("none", Open());
    EXPECT_NE("", ::testing::internal::GetCapturedStdout());  // the parse report
}

TEST_F(CalendarFolderIndexTest, NamesOutsideTheMailRootAreRefused) {
    // A marker where ".." would lead must stay.
    std::string outside = store_.root() + "\\example\\MAILROOT\\_CHANGE.DTY";
    ASSERT_TRUE(testing::WriteFileBytes(outside, "x"));
    for (const char* mailbox : {"..", "anna\\..", ""}) {
        EXPECT_EQ(nullptr,
                  OpenCalendarFolderIndex(testing::NamedIndex("Calendar", mailbox).get(), false))
            << mailbox;
    }
    EXPECT_TRUE(testing::PathExists(outside));
    EXPECT_EQ(nullptr, OpenCalendarFolderIndex(nullptr, true));
}

}  // namespace
}  // namespace cv
