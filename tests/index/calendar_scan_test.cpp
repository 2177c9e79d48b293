// Calendar elements from item files, the range and full scans over period files, and opening a
// calendar folder's index as the store layer does: dirty markers, the reindex mode, and whether
// the index is rebuilt or loaded.
#include "index/calendar_scan.h"
#include "index_api/calendar_folder_index.h"
#include "index_api/folder_scan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "common/date_time.h"
#include "common/file_helpers.h"
#include "host/host_platform.h"
#include "index_api/index_file.h"
#include "platform/platform.h"
#include "platform/registry.h"
#include "tests/index/index_test_support.h"
#include "tests/provider/appointment_fixture.h"
#include "tests/support/diagnostics.h"

namespace cv {
namespace {

using testing::Children;
using testing::ChildrenOf;
using testing::IdsOf;
using testing::MakeListContext;
using testing::Shape;
using Ids = std::vector<std::string>;

// 2005-03-07 12:00:00 UTC: the 7th of March in every zone within eleven hours of UTC.
constexpr int32_t kNoonMarch7 = 1110196800;

ListItem Item(const char* id, int32_t start = 100, int32_t finish = 200) {
    ListItem item{};
    testing::SetField(item.Mailbox, "anna");
    testing::SetField(item.Postoffice, "example");
    testing::SetField(item.ItemId, id);
    item.StartTime = start;
    item.FinishTime = finish;
    return item;
}

class CalendarScanTest : public testing::AppointmentTest {
  protected:
    CalendarScanTest() {
        MakeCalendar();
        EXPECT_EQ(1, CreateIndexDocument(&document_));
        EXPECT_EQ(1, CreateIndexRoot(document_));
    }

    // The children of the element built for an item file with these bytes, without the three
    // every element has.
    Children Headers(const std::string& bytes) {
        Put("item.eml", bytes);
        XmlNode element = BuildCalendarElement(document_, XmlNode(), Item("item.eml"));
        EXPECT_FALSE(element.IsNull());
        Children children = ChildrenOf(element);
        children.erase(children.begin(), children.begin() + std::min<size_t>(3, children.size()));
        return children;
    }

    XmlDocument document_;
};

TEST_F(CalendarScanTest, TheHeadersOfAnItemFileBecomeChildrenInLineOrder) {
    Put("A1.EML",
        "From: Anna Smith <anna@example.com> \r\n"
        "Subject:   Team meeting\r\n"
        "X-CVLabel: 3\r\n"
        "X-Occurences: 10\r\n"
        "X-RecurrenceMonthOfYear: 3\r\n"
        "X-Read: 1\r\n"
        "Date: Mon, 07 Mar 2005 08:00:00 +0100\r\n"
        "Received: from relay; Mon, 07 Mar 2005 08:05:00 +0000\r\n"
        "X-CVReminderTime: 08:45 07 Mar, 2005\r\n"
        "X-CVRecurrenceRangeEnd: 10:00 30 Mar, 2005\r\n"
        "X-StartTime: 09:00 07 Mar, 2005\r\n"
        "X-FinishTime: 10:00:30 07 Mar, 2005\r\n"
        "X-CVDueBy: 12:00 31 Mar, 2005\r\n"
        "\r\n"
        "Subject: in the body\r\n");
    XmlNode element = BuildCalendarElement(document_, XmlNode(), Item("A1.EML", -5, 1110189600));
    ASSERT_FALSE(element.IsNull());
    std::string id;
    EXPECT_TRUE(element.Attribute("ID", &id));
    EXPECT_EQ("A1.EML", id);
    const std::string date = "2005-03-07T07:00:00";
    const Children expected = {
        {"START", "-5"},
        {"END", "1110189600"},
        {"MODIFIEDDATE",
         std::to_string(static_cast<int32_t>(GetFileDosStamp(PathOf("A1.EML").c_str())))},
        {"FROM", "Anna Smith <anna@example.com>"},
        {"SUBJECT", "Team meeting"},
        {"LABEL", "3"},
        {"OCCURRENCES", "10"},  // from the header as the writers of item files spell it
        {"RECURRENCEMONTHOFYEAR", "3"},
        {"READ", "1"},
        {"DATE", date},
        {"CREATED", date},
        {"RECEIVED", date},  // a Date line before any Received line
        {"REMINDERTIME", "2005-03-07T08:45:00"},
        {"RECURRENCEEND", "2005-03-30T10:00:00"},
        {"STARTIME", std::to_string(ParseShortDateToTime("09:00 07 Mar, 2005"))},
        {"FINISHTIME", std::to_string(ParseShortDateToTime("10:00:30 07 Mar, 2005"))},
        {"DUEBY", "2005-03-31T12:00:00"},
    };
    EXPECT_EQ(expected, ChildrenOf(element));
    EXPECT_EQ(Ids{"A1.EML"}, IdsOf(document_));  // appended to the document element
}

TEST_F(CalendarScanTest, HeaderLineRules) {
    const std::string a505(505, 'a');
    const std::string date = "2005-03-07T08:00:00";
    const std::string received = "2005-03-07T08:05:00";
    const struct {
        std::string file;
        Children headers;
    } cases[] = {
        // A name matches wherever it stands, in any case, when a colon follows it; only its first
        // occurrence in the line counts.
        {"X-Subject: s\r\n\r\n", {{"SUBJECT", "s"}}},
        {"subject:text\n\n", {{"SUBJECT", "text"}}},
        {"Subject:\r\n", {{"SUBJECT", ""}}},
        {"Subjects: x\r\nSubject : y\r\nMy Subject\r\n", {}},
        {"Old-X-Location: z\r\n", {{"LOCATION", "z"}}},
        {"X-Location is X-Location: z\r\n", {}},
        // One line may feed several children, in the table's order.
        {"Subject: X-Location: b\r\n", {{"SUBJECT", "X-Location: b"}, {"LOCATION", "b"}}},
        // The rules that want a line to begin with a text do not look further in.
        {"XFrom: a\r\nResent-Date: Mon, 07 Mar 2005 08:00:00 +0000\r\n"
         "Y-X-StartTime: 09:00 07 Mar, 2005\r\n",
         {}},
        {"x-read: 1\r\nX-Read: 10\r\nX-Read: 0\r\n", {{"READ", "1"}, {"READ", "1"}}},
        // One trailing blank of the sender goes; a sender too long is not believed.
        {"From: " + a505 + "\r\n", {{"FROM", a505}}},
        {"From: a" + a505 + "\r\n", {{"FROM", "Unknown"}}},
        // Only the first Received line counts, with the date after its first "; ".
        {"Received: from a by b; Mon, 07 Mar 2005 08:05:00 +0000\r\n"
         "Received: from c; Tue, 08 Mar 2005 08:05:00 +0000\r\n",
         {{"RECEIVED", received}}},
        // A failed conversion, and a Received line without "; ", give empty texts, never an
        // earlier value.
        {"Date: Mon, 07 Mar 2005 08:00:00 +0000\r\nDate: garbage\r\n",
         {{"DATE", date}, {"CREATED", date}, {"RECEIVED", date}, {"DATE", ""}, {"CREATED", ""}}},
        {"Received: from a by b\r\nDate: Mon, 07 Mar 2005 08:00:00 +0000\r\n",
         {{"RECEIVED", ""}, {"DATE", date}, {"CREATED", date}}},
        {"X-CVReminderTime: soon\r\nX-CVDueBy: \r\nX-StartTime: never\r\n",
         {{"REMINDERTIME", ""}, {"DUEBY", ""}, {"STARTIME", "0"}}},
        // Only the headers are read: they end at the first empty line.
        {"\r\nSubject: body\r\n", {}},
        {"Subject: a\n\rSubject: b\r\n", {{"SUBJECT", "a"}}},
        {"", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file.substr(0, 60));
        EXPECT_EQ(c.headers, Headers(c.file));
    }
    // One trailing blank of the sender goes (the DOM's text of an element never shows the rest).
    Put("item.eml", "From: anna  \r\n");
    XmlNode from, element = BuildCalendarElement(document_, XmlNode(), Item("item.eml"));
    std::string xml;
    ASSERT_TRUE(element.FirstChild(&from));
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(from.NextSibling(&from));
    ASSERT_TRUE(from.Xml(&xml));
    EXPECT_EQ("<FROM>anna </FROM>", xml);
}

TEST_F(CalendarScanTest, HostileItemFilesAreReadInBoundedPieces) {
    // A line of 5000 characters comes in pieces of 2046, each a line of its own: the header at
    // the start gives the first piece's rest, a header at the start of a piece counts.
    std::string huge = "Subject: " + std::string(2037, 'x') + "X-Location: cut" +
                       std::string(2900, 'y') + "\r\nX-Class: after\r\n\r\n";
    EXPECT_EQ((Children{{"SUBJECT", std::string(2037, 'x')},
                        {"LOCATION", "cut" + std::string(2031, 'y')},
                        {"CLASS", "after"}}),
              Headers(huge));
    // Without an empty line, reading stops after 201 lines.
    std::string many;
    for (int i = 1; i <= 300; ++i) many += "X-Location: " + std::to_string(i) + "\r\n";
    Children children = Headers(many);
    ASSERT_EQ(201u, children.size());
    EXPECT_EQ("201", children.back().second);
    // Binary bytes: a NUL ends the line's text, control characters a document cannot carry
    // become '?', 8-bit characters stay (natively, where the code page is UTF-8, as the
    // Windows-1252 characters they are not UTF-8 for).
    static const char kBinary[] =
        "X-Location: ab\0cd\r\nSubject: a\x01z\x7F\xE9\r\n\x00\x01\r\nX-Class: \xFF\xFE\r\n\r\n";
#ifdef _WIN32
    const Children expected{{"LOCATION", "ab"}, {"SUBJECT", "a?z\x7F\xE9"}, {"CLASS", "\xFF\xFE"}};
#else
    const Children expected{
        {"LOCATION", "ab"}, {"SUBJECT", "a?z\x7F\xC3\xA9"}, {"CLASS", "\xC3\xBF\xC3\xBE"}};
#endif
    EXPECT_EQ(expected, Headers(std::string(kBinary, sizeof kBinary - 1)));
}

TEST_F(CalendarScanTest, AnItemFileThatCannotBeOpenedGivesNoElement) {
    EXPECT_TRUE(BuildCalendarElement(document_, XmlNode(), Item("missing.eml")).IsNull());
    // Names that would leave the Calendar folder are not opened at all.
    Put("..\\outside.eml", "Subject: no\r\n");
    EXPECT_TRUE(BuildCalendarElement(document_, XmlNode(), Item("..\\outside.eml")).IsNull());
    ListItem item = Item("item.eml");
    testing::SetField(item.Mailbox, "..");
    EXPECT_TRUE(BuildCalendarElement(document_, XmlNode(), item).IsNull());
    EXPECT_EQ("BASEELEMENT=\"\"", Shape(document_));
}

// Adds an appointment to a period file, and its item file.
class RangeScanTest : public CalendarScanTest {
  protected:
    void Appointment(const std::string& period, int32_t start, int32_t finish,
                     const std::string& id) {
        std::string& lines = periods_[period];
        lines += (lines.empty() ? "" : "\r\n") + std::to_string(start) + "\t" +
                 std::to_string(finish) + "\t" + id;
        Put(period + ".CAL", lines);
        Put(id, "Subject: " + id + "\r\n\r\n");
    }
    Ids Scanned(int32_t start, int32_t end) {
        auto index = testing::NamedIndex("Contacts");
        ListContext context = MakeListContext(start, end);
        EXPECT_EQ(1, ScanCalendarIndex(index.get(), &context));
        Ids ids = IdsOf(index->FolderIndex);
        StoreIndex_Close(index.get());
        // The index is saved in the folder the record names.
        XmlDocument saved;
        EXPECT_EQ(1, CreateIndexDocument(&saved));
        EXPECT_EQ(1, LoadIndexDocument(saved, (store_.root() + "\\example\\MAILROOT\\anna\\"
                                                               "Contacts\\_index.xml")
                                                  .c_str()));
        EXPECT_EQ(ids, IdsOf(saved));
        return ids;
    }

    std::map<std::string, std::string> periods_;
};

TEST_F(RangeScanTest, ReadsThePeriodsOfTheRangeStartsDateInOrder) {
    const int32_t end = kNoonMarch7 + 3600;
    for (const char* period :
         {"Y05M03D07", "Y05M03", "Y05", "Y", "Y5", "Y05M03D06", "Y05M03D08", "Y05M04", "Y04"}) {
        Appointment(period, kNoonMarch7, end, std::string("in-") + period);
    }
    // The year's file under both names: the writers' ("Y5") and the two-digit one ("Y05").
    const Ids expected = {"in-Y", "in-Y05", "in-Y5", "in-Y05M03", "in-Y05M03D07"};
    EXPECT_EQ(expected, Scanned(kNoonMarch7, end));
    EXPECT_EQ(expected, Scanned(kNoonMarch7, end + 40 * 86400));  // the end picks no period file
}

TEST_F(RangeScanTest, KeepsTheAppointmentsWhollyInsideTheRange) {
    const int32_t nine = kNoonMarch7 - 3 * 3600, ten = nine + 3600;
    Appointment("Y05M03D07", nine, ten, "nine-to-ten");
    Appointment("Y05M03D07", nine - 1, ten, "starts-before");
    Appointment("Y05M03D07", nine, ten + 1, "ends-after");
    Appointment("Y05M03D07", nine + 600, ten - 600, "inside");
    Appointment("Y05M03D07", nine + 600, ten - 600, "no-item-file");
    RemoveFile(PathOf("no-item-file").c_str());  // left out of the index
    EXPECT_EQ((Ids{"nine-to-ten", "inside"}), Scanned(nine, ten));
    EXPECT_EQ(Ids{}, Scanned(nine + 1800, nine + 3 * 3600));
}

TEST_F(RangeScanTest, ThePeriodsFollowTheLocalDate) {
    const char* old = std::getenv("TZ");
    std::string saved = old != nullptr ? old : "";
    ASSERT_TRUE(SetProcessEnvironment("TZ", "JST-9"));
    // 20:00 UTC on the 6th is 05:00 on the 7th in Tokyo.
    const int32_t start = kNoonMarch7 - 16 * 3600;
    Appointment("Y05M03D06", start, start + 60, "utc-day");
    Appointment("Y05M03D07", start, start + 60, "local-day");
    Ids ids = Scanned(start, start + 60);
    SetProcessEnvironment("TZ", old != nullptr ? saved.c_str() : nullptr);
    EXPECT_EQ(Ids{"local-day"}, ids);
}

// Without a range every period file is indexed (an empty folder's index is the rebuild's, below),
// and none is changed.
TEST_F(RangeScanTest, TheFullScanIndexesEveryPeriodFileAndKeepsThem) {
    Appointment("Y05M03D07", 10, 20, "a");
    Appointment("Y05M03D07", 30, 40, "b");
    Appointment("Y", -100, 5000000, "c");
    Appointment("y06m01", 50, 60, "d");
    Put("_Y05.CAL", "1\t2\tignored");
    MakeDirectory(PathOf("Y07.CAL").c_str());
    auto index = testing::NamedIndex("Calendar");
    ASSERT_EQ(1, ScanCalendarIndex(index.get(), nullptr));
    EXPECT_EQ((Ids{"a", "b", "c", "d"}), IdsOf(index->FolderIndex, true));
    EXPECT_TRUE(Exists("_index.xml"));
    for (const auto& [period, lines] : periods_) EXPECT_EQ(lines, Contents(period + ".CAL"));
    StoreIndex_Close(index.get());
}

// The scan written as it goes gives the bytes of the scanned document's save, and steps aside
// (changing nothing) for what only a document handles: a text beyond ASCII, an empty folder.
TEST_F(RangeScanTest, TheScanWrittenAsItGoesIsTheSavedDocument) {
    Appointment("Y05M03D07", 10, 20, "a&b");
    Appointment("Y", -100, 5000000, "c");
    Put("c", "Subject: <&> \"quoted\"\tand\rcr\r\nDate: not a date\r\nX-Location:\r\n\r\n");
    Appointment("Y06M01", 50, 60, "no-item-file");
    RemoveFile(PathOf("no-item-file").c_str());
    auto scanned = testing::NamedIndex("Calendar");
    ASSERT_EQ(1, ScanCalendarIndex(scanned.get(), nullptr));
    StoreIndex_Close(scanned.get());
    const std::string saved = Contents("_index.xml");
    RemoveFile(PathOf("_index.xml").c_str());

    auto streamed = testing::NamedIndex("Calendar");
    int32_t items = -1;
    const int written = ScanCalendarIndexToFile(streamed.get(), &items);
    if (PathsUseBackslashes()) {  // the COM DOM's save is its own: that build never streams
        EXPECT_EQ(0, written);
        return;
    }
    ASSERT_EQ(1, written);
    EXPECT_EQ(2, items);
    EXPECT_EQ(saved, Contents("_index.xml"));
    EXPECT_EQ(0, streamed->Dirty);

    Put("c", "Subject: caf\xc3\xa9\r\n\r\n");
    EXPECT_EQ(0, ScanCalendarIndexToFile(streamed.get(), &items));
    EXPECT_EQ(saved, Contents("_index.xml"));
    DirectorySearch copies;
    FindData copy;
    EXPECT_FALSE(copies.First(PathOf("_index.*.tmp").c_str(), &copy)) << copy.name;
    StoreIndex_Close(streamed.get());
}

// Appointments in the period files; the index on disk, when there is one, says something else.
class CalendarFolderIndexTest : public RangeScanTest {
  protected:
    CalendarFolderIndexTest() {
        Appointment("Y05M03D07", 100, 200, "scanned1");
        Appointment("Y05M03D07", 300, 400, "scanned2");
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
    // With kFile, a rebuild written as it went is read back from the file.
    std::string Open(bool reuse = false, CalendarIndexUse use = CalendarIndexUse::kDocument) {
        CalendarIndexOpenReport report;
        StoreIndex* opened = OpenCalendarFolderIndex(index_.get(), reuse, &report, use);
        markers_ = report.dirty_markers;
        ids_ = opened != nullptr ? testing::IdsOf(opened->FolderIndex, true) : Ids();
        if (opened != nullptr && report.written_items >= 0) {
            XmlDocument saved;
            EXPECT_EQ(1, CreateIndexDocument(&saved));
            EXPECT_EQ(1, LoadIndexDocument(saved, PathOf("_index.xml").c_str()));
            EXPECT_TRUE(ids_.empty());
            ids_ = testing::IdsOf(saved, true);
            EXPECT_EQ(static_cast<size_t>(report.written_items), ids_.size());
        }
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
    // The rule is the same when only the file is wanted.
    for (const auto use : {CalendarIndexUse::kDocument, CalendarIndexUse::kFile}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::to_string(c.mode) + (c.on_disk ? " index" : "") +
                         (c.marked ? " marked" : "") +
                         (use == CalendarIndexUse::kFile ? " file" : ""));
            SetMode(c.mode);
            RemoveFile(PathOf("_index.xml").c_str());
            if (c.on_disk) PutIndexOnDisk();
            if (c.marked) {
                Put("_CHANGE.DTY", "changed");
                Put("_other.dty", "changed");
            }
            EXPECT_EQ(c.opening, Open(false, use));
            EXPECT_EQ(std::string(c.opening) == "loaded" ? on_disk_ : scanned_, ids_);
            EXPECT_EQ(c.marked ? 2 : 0, markers_);
            EXPECT_FALSE(Exists("_CHANGE.DTY") || Exists("_other.dty") || Exists("_index.blk"));
            EXPECT_TRUE(Exists("_index.xml"));
        }
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
    testing::KeptDiagnostics kept;
    EXPECT_EQ("none", Open());
    EXPECT_NE("", kept.Take());  // the parse report
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
