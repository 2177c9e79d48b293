// The exports, and the opening of a folder's index (which rebuilds and saves it), with each of
// their file operations failing in turn (once: a passing hiccup; from then on: the disk has gone
// away) and with each allocation failing, as in a host short of memory. A change that reports
// success is there whole; one that reports failure changed nothing, so that its caller may simply
// try again; an item write, which answers 1 whatever happens, leaves the old or the new body. No
// blocking file is left for the next writer to wait out, a failed index save cannot leave an index
// that never comes right again, and the next calls go through. (COM for the DOM on the tests'
// thread comes from the index tests' support, compiled in.)
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "platform/fault_injection.h"
#include "common/file_helpers.h"
#include "host/host_files.h"
#include "platform/platform.h"
#include "platform/registry.h"
#include "include/cvaicp.h"
#include "index_api/calendar_folder_index.h"
#include "index_api/index_file.h"
#include "index/calendar_scan.h"
#include "tests/faults/fault_sweep.h"
#include "tests/index/index_test_support.h"
#include "tests/support/records.h"
#include "tests/support/test_store.h"

namespace cv {
namespace {

using testing::FaultKind;
using testing::MakeFreeBusyRequest;
using testing::MakeItemRequest;
using testing::MakeListContext;
using testing::MakeRequest;
using Lines = std::vector<std::string>;  // appointments, or IDs

constexpr char kPeriod[] = "Y09M03D15";
constexpr char kItem[] = "item-7f3a";
const char kThreeLines[] = "100\t200\tfirst\r\n300\t400\tsecond\r\n500\t600\tthird";
const Lines kThree = {"100 200 first", "300 400 second", "500 600 third"};
const std::string kOld = "Subject: planning\r\n\r\nThe old body, which must not get lost.\r\n";
const std::string kNew = "Subject: planning, moved\r\n\r\nThe new body.\r\n";
const std::string kMore = "A further chunk.\r\n";

// The period's appointments as the library reads them back, in file order, each as
// "start finish id"; and the item's body as it reads it back (empty when missing).
using Stored = std::pair<Lines, std::string>;

Lines StoredAppointments() {
    Lines lines;
    AppointmentRequest request = MakeRequest("", 0, 0, kPeriod);
    for (int32_t found = AppointmentFindFirst(&request); found;
         found = AppointmentFindNext(&request)) {
        lines.push_back(std::to_string(request.StartTime) + " " +
                        std::to_string(request.FinishTime) + " " + request.ItemId);
        request.ItemId[0] = '\0';  // the walk filters on the id left in the record
    }
    return lines;
}

Stored ReadBack() {
    AppointmentItemRequest request = MakeItemRequest(kItem);
    std::string body;
    for (int32_t more = AppointmentItemGetFirstChunk(&request); more;
         more = AppointmentItemGetNextChunk(&request)) {
        body.append(request.Data, static_cast<size_t>(request.DataLength));
    }
    return {StoredAppointments(), body};
}

int32_t Add(const char* id, int32_t start, int32_t finish) {
    AppointmentRequest request = MakeRequest(id, start, finish);
    return AppointmentAdd(&request);
}

int32_t WriteChunk(const std::string& data, bool first) {
    AppointmentItemRequest request = MakeItemRequest(kItem, data);
    return first ? AppointmentItemWriteFirstChunk(&request)
                 : AppointmentItemWriteNextChunk(&request);
}

int32_t Remove(const char* id) {
    AppointmentRequest request = MakeRequest(id, 0, 0);
    return AppointmentRemove(&request);
}

// The records' texts of the changes swept are short enough to allocate nothing themselves.
int32_t EditSecond() {
    AppointmentRequest old_request = MakeRequest("SECOND", 0, 0);
    AppointmentRequest new_request = MakeRequest("changed", 350, 450);
    return AppointmentEdit(&old_request, &new_request);
}

struct ChangeCase {
    const char* name;
    bool folder;         // the Calendar folder is there beforehand
    const char* period;  // the period file's content beforehand (null: none)
    const char* item;    // the item's body beforehand (null: none)
    std::function<int32_t()> change;
    Stored before;
    Stored after;
    bool answers_done = false;  // an item write: it answers 1 whatever happens
};

class StoreFaultsTest : public ::testing::Test {
  protected:
    StoreFaultsTest() : calendar_(store_.CreateMailbox("example", "anna")) {
        store_.registry().SetWaits(0);
    }

    std::string PathOf(const std::string& name) const { return calendar_ + "\\" + name; }

    void Fresh(const ChangeCase& c) {
        DeleteFolderTree(calendar_.c_str(), nullptr);
        if (!c.folder) return;
        ASSERT_TRUE(MakeDirectory(calendar_.c_str()));
        ASSERT_TRUE(!c.period || testing::WriteFileBytes(PathOf(kPeriod) + ".CAL", c.period));
        ASSERT_TRUE(!c.item || testing::WriteFileBytes(PathOf(kItem), c.item));
    }

    long Sweep(const ChangeCase& c, FaultKind kind) {
        Fresh(c);
        EXPECT_TRUE(c.before == ReadBack()) << "the setup is not as described";
        return testing::SweepFaults(
            [&] { Fresh(c); }, c.change,
            [&](int32_t result) {
                // A hiccup is retried and gets over: no blocking file may stay behind, or every
                // writer of the period would wait "Write Wait Timeout" seconds for nothing.
                if (kind != FaultKind::kFromThenOn) {
                    EXPECT_FALSE(testing::PathExists(PathOf(kPeriod) + ".BLK"));
                }
                Stored stored = ReadBack();
                if (c.answers_done) {
                    EXPECT_EQ(1, result);
                    EXPECT_TRUE(stored == c.before || stored == c.after)
                        << "the item is neither the old nor the new one: \"" << stored.second
                        << "\"";
                } else if (result == 1) {
                    EXPECT_TRUE(stored == c.after) << "reported done, but the change is not whole";
                } else {
                    EXPECT_TRUE(stored == c.before) << "reported failed, but the calendar changed";
                }
                // Nothing is wedged: the next writers get in and what they write is kept.
                EXPECT_EQ(1, Add("next", 900, 950));
                stored.first.push_back("900 950 next");
                EXPECT_EQ(stored.first, StoredAppointments());
                EXPECT_EQ(1, WriteChunk("written again", true));
                EXPECT_EQ("written again", ReadBack().second);
            },
            kind);
    }

    testing::TestStore store_;
    std::string calendar_;
};

TEST_F(StoreFaultsTest, EveryChangeIsWholeOrNone) {
    Lines lines = kThree;
    lines.push_back("700 800 added");
    const Stored none, three = {kThree, ""}, added = {lines, ""}, only = {{"100 200 only"}, ""};
    const Stored added_alone = {{"700 800 added"}, ""};
    const Stored edited = {{"100 200 first", "350 450 changed", "500 600 third"}, ""};
    const Stored removed = {{"100 200 first", "500 600 third"}, ""};
    const Stored old_item = {{}, kOld}, new_item = {{}, kNew}, longer_item = {{}, kOld + kMore};
    auto add = [] { return Add("added", 700, 800); };
    auto write_new = [] { return WriteChunk(kNew, true); };
    const ChangeCase cases[] = {
        {"add to an existing period", true, kThreeLines, nullptr, add, three, added},
        // A new period, with the Calendar folder there and with the folder still to be made.
        {"add starting a new period", true, nullptr, nullptr, add, none, added_alone},
        {"add starting the folder", false, nullptr, nullptr, add, none, added_alone},
        {"edit", true, kThreeLines, nullptr, EditSecond, three, edited},
        {"remove", true, kThreeLines, nullptr, [] { return Remove("second"); }, three, removed},
        // The last appointment of a period takes the period file with it.
        {"remove the last appointment", true, "100\t200\tonly", nullptr,
         [] { return Remove("only"); }, only, none},
        {"item first chunk over a body", true, nullptr, kOld.c_str(), write_new, old_item, new_item,
         true},
        {"item first chunk of a new item", true, nullptr, nullptr, write_new, none, new_item, true},
        {"item next chunk", true, nullptr, kOld.c_str(), [] { return WriteChunk(kMore, false); },
         old_item, longer_item, true},
    };
    for (const ChangeCase& c : cases) {
        SCOPED_TRACE(c.name);
        // An item write allocates nothing.
        long points[3] = {Sweep(c, FaultKind::kOnce), Sweep(c, FaultKind::kFromThenOn),
                          c.answers_done ? 0 : Sweep(c, FaultKind::kAllocation)};
        std::printf("[ faults   ] %s: %ld fault points once, %ld from then on, %ld allocations\n",
                    c.name, points[0], points[1], points[2]);
    }
}

constexpr int32_t kNoon = 1237118400;  // 2009-03-15 12:00 UTC: the 15th in every nearby zone

const char kDescendingIds[] =
    "<xsl:stylesheet version=\"1.0\" xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\">"
    "<xsl:template match=\"/BASEELEMENT\"><BASEELEMENT>"
    "<xsl:for-each select=\"ELEMENT\"><xsl:sort select=\"@ID\" order=\"descending\"/>"
    "<xsl:copy-of select=\".\"/></xsl:for-each></BASEELEMENT></xsl:template></xsl:stylesheet>";

// The records are built before any switch is armed: building them allocates.
const AppointmentRequest kSecond = MakeRequest("second", 0, 0, kPeriod);
const AppointmentRequest kAny = MakeRequest("", 0, 0, kPeriod);
const AppointmentItemRequest kSecondItem = MakeItemRequest("second");
const FreeBusyRequest kMonth = MakeFreeBusyRequest("Y09M03");
const ListContext kListing = MakeListContext(kNoon - 6 * 3600, kNoon + 6 * 3600, kDescendingIds);

// A whole walk: the number of appointments it handed out.
int32_t Walk() {
    AppointmentRequest request = kAny;
    int32_t count = 0;
    for (int32_t found = AppointmentFindFirst(&request); found;
         found = AppointmentFindNext(&request)) {
        ++count;
        request.ItemId[0] = '\0';
    }
    return count;
}

// The rest of a listing that FindFirst started, undisturbed: the number of items it handed out.
int32_t FinishList(int32_t first) {
    ListContext context = kListing;
    ListItem item{};
    int32_t count = first;
    while (first && AppointmentListItemFindNext(&context, &item)) ++count;
    AppointmentListItemFindClose(&context);
    return count;
}

struct ExportCase {
    const char* name;
    std::function<int32_t()> call;  // under the switch
    bool whole_or_none;             // the answer is all or nothing, never a part
    std::function<int32_t(int32_t)> rest = [](int32_t result) { return result; };  // undisturbed
};

// Every export that reads, lists or chooses, with each of its allocations failing in turn: no
// exception reaches the caller, the export answers its failure result or what it answers
// undisturbed, it leaves the store as it was, and the next call goes through.
TEST_F(StoreFaultsTest, EveryReadingExportAnswersAndLeavesTheStoreAsItWas) {
    const std::string period = PathOf(kPeriod) + ".CAL";
    ASSERT_TRUE(MakeDirectory(calendar_.c_str()));
    // first at noon for ten minutes, second from 12:15 to 12:30.
    ASSERT_TRUE(testing::WriteFileBytes(
        period, "1237118400\t1237119000\tfirst\r\n1237119300\t1237120200\tsecond\r\n"));
    for (const std::string id : {"first", "second"}) {
        ASSERT_TRUE(testing::WriteFileBytes(PathOf(id), "Subject: " + id + "\r\n\r\nbody"));
    }
    const ExportCase cases[] = {
        {"AppointmentGet",
         [] {
             AppointmentRequest r = kSecond;
             return AppointmentGet(&r);
         },
         true},
        // FindNext cannot tell a failure from the end: a walk cut short hands out fewer lines.
        {"AppointmentFindFirst and FindNext", Walk, false},
        {"AppointmentItemGetFirstChunk",
         [] {
             AppointmentItemRequest r = kSecondItem;
             return AppointmentItemGetFirstChunk(&r);
         },
         true},
        {"GetFreeBusyData",
         [] {
             FreeBusyRequest r = kMonth;
             return GetFreeBusyData(&r) == 1 && std::strcmp(r.BusyDays, "15") == 0 ? 1 : 0;
         },
         true},
        // A listing (sorted by a stylesheet) that FindFirst starts holds every item: it is whole,
        // or there is none.
        {"AppointmentListItemFindFirst",
         [] {
             ListContext context = kListing;
             ListItem item{};
             return AppointmentListItemFindFirst(&context, &item);
         },
         true, FinishList},
        {"SetCurrentHost", [] { return SetCurrentHost(""); }, true},
    };
    const std::string period_before = testing::ReadFileOrEmpty(period);
    long points = 0;
    for (const ExportCase& c : cases) {
        SCOPED_TRACE(c.name);
        const int32_t undisturbed = c.rest(c.call());
        EXPECT_NE(0, undisturbed) << "the case does not reach the export's work";
        points += testing::SweepFaults(
            [] {}, c.call,
            [&](int32_t answer) {
                const int32_t result = c.rest(answer);
                if (c.whole_or_none) {
                    EXPECT_TRUE(result == 0 || result == undisturbed) << result << " items";
                } else {
                    EXPECT_LE(result, undisturbed);
                    EXPECT_GE(result, 0);
                }
                EXPECT_FALSE(testing::PathExists(PathOf(kPeriod) + ".BLK"));
                EXPECT_EQ(undisturbed, c.rest(c.call())) << "the next call does not go through";
            },
            testing::FaultKind::kAllocation);
    }
    EXPECT_EQ(period_before, testing::ReadFileOrEmpty(period));
    EXPECT_GT(points, 0);
    std::printf("[ faults   ] %ld allocations failed along the reading exports\n", points);
}

using Files = std::map<std::string, std::string>;
const Lines kAllIds = {"scanned1", "scanned2", "scanned3"};
// Three appointments in two period files, and their items.
const Files kCalendar = {{"Y05M03D07.CAL", "100\t200\tscanned1\r\n300\t400\tscanned2"},
                         {"Y5.CAL", "500\t3000000\tscanned3"},
                         {"scanned1", "Subject: one\r\n\r\nbody\r\n"},
                         {"scanned2", "Subject: two\r\n\r\nbody\r\n"},
                         {"scanned3", "Subject: three\r\n\r\nbody\r\n"}};

class IndexFaultsTest : public StoreFaultsTest {
  protected:
    ~IndexFaultsTest() override { ForgetCalendarReIndexMode(); }

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
        opened_ = opened != nullptr ? testing::IdsOf(opened->FolderIndex, true) : Lines();
        StoreIndex_Close(index.get());
        return opened != nullptr ? 1 : 0;
    }

    // Sweeps an opening that rebuilds the index, from the folder that Fresh(extra) makes; an old
    // index among the extra files lists old_ids.
    long Sweep(const Files& extra, const Lines& old_ids, testing::FaultKind kind) {
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

    Lines opened_;
};

TEST_F(IndexFaultsTest, TheRebuildOfAFoldersIndex) {
    const struct {
        const char* name;
        uint32_t mode;
        Files extra;
        Lines old_ids;
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

// A document lists every node it made, and that list grows by doubling: grown by one at each
// node, it cost an allocation and a copy of the whole list per node. Each node made has its own
// handle as well, so about one allocation per node is all a doubling list allows.
TEST(XmlDocumentFaultsTest, ANodeCostsAboutOneAllocation) {
    constexpr int32_t kNodes = 300;
    XmlDocument document;
    const long allocations = testing::SweepFaults(
        [&] {
            document = XmlDocument();
            ASSERT_TRUE(XmlDocument::Create(&document));
        },
        [&] {
            int32_t made = 0;
            XmlNode node;
            try {
                while (made < kNodes && document.CreateElement("ELEMENT", &node)) ++made;
            } catch (const std::bad_alloc&) {
            }
            return made;
        },
        [](int32_t) {}, testing::FaultKind::kAllocation);
    EXPECT_LT(allocations, kNodes * 5 / 4);
}

}  // namespace
}  // namespace cv
