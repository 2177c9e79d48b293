// Opening a calendar folder's index, which rebuilds it from the period files and saves it, with
// each file operation failing in turn: the period and item files are only read, "_index.xml" is
// the old file or a whole new one, and the next opening yields the whole calendar, so that a
// failed save cannot leave a folder with an index that never comes right again.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "common/fault_injection.h"
#include "common/file_helpers.h"
#include "common/host_files.h"
#include "common/platform.h"
#include "common/registry.h"
#include "index/calendar_folder_index.h"
#include "index/calendar_scan.h"
#include "tests/faults/fault_sweep.h"
#include "tests/index/index_test_support.h"
#include "tests/support/records.h"
#include "tests/support/test_store.h"

namespace cv {
namespace {

// COM for the DOM on the tests' thread comes from the index tests' support, compiled in.

using Files = std::map<std::string, std::string>;
using Ids = std::vector<std::string>;
const Ids kAllIds = {"scanned1", "scanned2", "scanned3"};
// Three appointments in two period files, and their items.
const Files kCalendar = {{"Y05M03D07.CAL", "100\t200\tscanned1\r\n300\t400\tscanned2"},
                         {"Y5.CAL", "500\t3000000\tscanned3"},
                         {"scanned1", "Subject: one\r\n\r\nbody\r\n"},
                         {"scanned2", "Subject: two\r\n\r\nbody\r\n"},
                         {"scanned3", "Subject: three\r\n\r\nbody\r\n"}};

class IndexFaultsTest : public ::testing::Test {
  protected:
    IndexFaultsTest() : calendar_(store_.CreateMailbox("example", "anna")) {
        store_.registry().SetWaits(0);
    }
    ~IndexFaultsTest() override { ForgetCalendarReIndexMode(); }

    std::string PathOf(const std::string& name) const { return calendar_ + "\\" + name; }

    // The Calendar folder afresh: the calendar, and the extra files given (an old index, a dirty
    // marker).
    void Fresh(const Files& extra) {
        DeleteFolderTree(calendar_.c_str(), nullptr);
        ASSERT_TRUE(MakeDirectory(calendar_.c_str()));
        for (const Files& files : {kCalendar, extra}) {
            for (const auto& [name, bytes] : files) {
                ASSERT_TRUE(testing::WriteFileBytes(PathOf(name), bytes));
            }
        }
    }

    // Opens the folder's index with a record of its own, as the store layer would: 1 when it
    // gave an index. The IDs it held are kept in opened_.
    int32_t Open() {
        auto index = testing::NamedIndex("Calendar");
        StoreIndex* opened = OpenCalendarFolderIndex(index.get(), false);
        opened_ = opened != nullptr ? testing::IdsOf(opened->FolderIndex, true) : Ids();
        StoreIndex_Close(index.get());
        return opened != nullptr ? 1 : 0;
    }

    // Sweeps an opening that rebuilds the index, from the folder that Fresh(extra) makes; an old
    // index among the extra files lists old_ids.
    long Sweep(const Files& extra, const Ids& old_ids, testing::FaultKind kind) {
        const std::string index_file = PathOf("_index.xml");
        const bool had_index = extra.count("_index.xml") != 0;
        return testing::SweepFaults(
            [&] { Fresh(extra); }, [&] { return Open(); },
            [&](int32_t) {
                // The calendar itself is only read.
                for (const auto& [name, bytes] : kCalendar) {
                    EXPECT_EQ(bytes, testing::ReadFileOrEmpty(PathOf(name))) << name;
                }
                // The index on disk is the old one, or a whole new one.
                std::string now;
                if (testing::ReadFileBytes(index_file, &now) &&
                    !(had_index && now == extra.at("_index.xml"))) {
                    XmlDocument document;
                    ASSERT_TRUE(XmlDocument::Create(&document));
                    EXPECT_EQ(1, LoadIndexDocument(document, index_file.c_str()))
                        << "a partial index was left: " << now;
                    EXPECT_EQ(kAllIds, testing::IdsOf(document, true));
                }
                // And the next opening gives the whole calendar. Once the disk has gone away,
                // even the folder's dirty marker may not have been put back: the old index may
                // then stand, as after any change that could not mark the folder.
                EXPECT_EQ(1, Open());
                if (kind == testing::FaultKind::kOnce || !had_index) {
                    EXPECT_EQ(kAllIds, opened_);
                } else {
                    EXPECT_TRUE(opened_ == kAllIds || opened_ == old_ids) << opened_.size();
                }
            },
            kind);
    }

    testing::TestStore store_;
    std::string calendar_;
    Ids opened_;
};

TEST_F(IndexFaultsTest, TheRebuildOfAFoldersIndex) {
    const struct {
        const char* name;
        uint32_t mode;
        Files extra;
        Ids old_ids;
    } cases[] = {
        // Reindex mode 0: an index is built when the folder has none.
        {"first index of a folder", 0, {}, {}},
        // Reindex mode 1: a dirty marker makes the opening rebuild the index that is on disk.
        {"rebuild of a changed folder",
         1,
         {{"_index.xml", "<BASEELEMENT><ELEMENT ID=\"scanned1\"/></BASEELEMENT>"},
          {"_CHANGE.DTY", "This file has been written to denote configuration change\r\n"}},
         {"scanned1"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        store_.registry().SetDword(Hive::kLocalMachine, kStoreKey, "Calendar ReIndex Mode", c.mode);
        ForgetCalendarReIndexMode();
        Fresh(c.extra);
        ASSERT_EQ(1, Open());
        ASSERT_EQ(kAllIds, opened_);
        long once = Sweep(c.extra, c.old_ids, testing::FaultKind::kOnce);
        long gone = Sweep(c.extra, c.old_ids, testing::FaultKind::kFromThenOn);
        std::printf("[ faults   ] %s: %ld fault points once, %ld from then on\n", c.name, once,
                    gone);
    }
}

// An item file without the empty line after its headers is read to its end once: the reader
// stops there rather than asking the system again for every line it may still take.
TEST_F(IndexFaultsTest, AnItemFileIsReadToItsEndOnce) {
    Fresh({{"item.eml", "Subject: a\r\nX-Location: b\r\n"}});
    XmlDocument document;
    ASSERT_EQ(1, CreateIndexDocument(&document));
    ASSERT_EQ(1, CreateIndexRoot(document));
    ListItem item{};
    testing::SetField(item.Postoffice, "example");
    testing::SetField(item.Mailbox, "anna");
    testing::SetField(item.ItemId, "item.eml");
    fault::FailNthOperation(0);  // only counts
    XmlNode element = BuildCalendarElement(document, XmlNode(), item);
    const long operations = fault::OperationsSoFar();
    fault::Disarm();
    EXPECT_EQ(2u, testing::ChildrenOf(element).size() - 3);
    EXPECT_LT(operations, 10);
}

}  // namespace
}  // namespace cv
