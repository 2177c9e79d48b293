// Calendar elements from item files, and the range and full scans over period files.
#include "index/calendar_scan.h"
#include "index/folder_scan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "common/date_time.h"
#include "common/file_helpers.h"
#include "common/platform.h"
#include "common/host_platform.h"
#include "tests/index/index_test_support.h"
#include "tests/support/test_store.h"

namespace cv {
namespace {

using testing::Children;
using testing::ChildrenOf;
using testing::Shape;

// 2005-03-07 12:00:00 UTC: the 7th of March in every zone within eleven hours of UTC.
constexpr int32_t kNoonMarch7 = 1110196800;

std::string MessageDate(const char* text) {
    char iso[kIsoDateSize] = "";
    EXPECT_EQ(1, ParseMessageDate(text, iso)) << text;
    return iso;
}

std::string ShortDate(const char* text) {
    char iso[kIsoDateSize] = "";
    EXPECT_EQ(1, ParseShortDate(text, iso)) << text;
    return iso;
}

class CalendarScanTest : public ::testing::Test {
  protected:
    CalendarScanTest() : calendar_(store_.CreateMailbox("office1", "anna")) {
        store_.registry().SetWaits(0);
        MakeDirectory(calendar_.c_str());
        EXPECT_EQ(1, CreateIndexDocument(&document_));
        EXPECT_EQ(1, CreateIndexRoot(document_));
    }

    std::string PathOf(const std::string& name) const { return calendar_ + "\\" + name; }
    void Put(const std::string& name, const std::string& bytes) {
        ASSERT_TRUE(testing::WriteFileBytes(PathOf(name), bytes));
    }

    ListItem Item(const char* id, int32_t start = 100, int32_t finish = 200) {
        ListItem item;
        std::memset(&item, 0, sizeof item);
        std::strcpy(item.Mailbox, "anna");
        std::strcpy(item.Postoffice, "office1");
        std::snprintf(item.ItemId, sizeof item.ItemId, "%s", id);
        item.StartTime = start;
        item.FinishTime = finish;
        return item;
    }

    // The children of the element built for an item file with these bytes.
    Children Built(const std::string& bytes) {
        Put("item.eml", bytes);
        XmlNode element = BuildCalendarElement(document_, XmlNode(), Item("item.eml"));
        EXPECT_FALSE(element.IsNull());
        return ChildrenOf(element);
    }
    // The same without the four children every element has.
    Children Headers(const std::string& bytes) {
        Children children = Built(bytes);
        EXPECT_GE(children.size(), 3u);
        if (children.size() >= 3) children.erase(children.begin(), children.begin() + 3);
        return children;
    }

    ListContext Range(int32_t start, int32_t end) {
        ListContext context;
        std::memset(&context, 0, sizeof context);
        context.RangeStart = start;
        context.RangeEnd = end;
        std::strcpy(context.Postoffice, "office1");
        std::strcpy(context.Mailbox, "anna");
        return context;
    }

    std::unique_ptr<StoreIndex> Index(const char* folder) {
        auto index = std::make_unique<StoreIndex>();
        std::strcpy(index->PostofficeName, "office1");
        std::strcpy(index->MailboxName, "anna");
        std::strcpy(index->FolderName, folder);
        return index;
    }

    // The IDs of the elements of a document, in order.
    static std::vector<std::string> Ids(const XmlDocument& document) {
        std::vector<std::string> ids;
        XmlNode root;
        if (!document.DocumentElement(&root)) return ids;
        int32_t count = 0;
        root.ChildCount(&count);
        for (int32_t i = 0; i < count; ++i) {
            XmlNode child;
            std::string id;
            root.ChildAt(i, &child);
            child.Attribute("ID", &id);
            ids.push_back(id);
        }
        return ids;
    }

    testing::TestStore store_;
    std::string calendar_;
    XmlDocument document_;
};

TEST_F(CalendarScanTest, EveryHeaderOfAnItemFileBecomesAChildInLineOrder) {
    const std::string file =
        "From: Anna Smith <anna@example.com> \r\n"
        "Subject:   Team meeting\r\n"
        "X-CVLabel: 3\r\n"
        "X-Location: Room 1\r\n"
        "X-RecurrenceInterval: 2\r\n"
        "X-RecurrenceType: 1\r\n"
        "X-RecurrenceInstance: 0\r\n"
        "X-RecurrenceState: 1\r\n"
        "X-AllDayEvent: 0\r\n"
        "X-BusyStatus: 2\r\n"
        "X-Importance: 1\r\n"
        "X-IsRecurring: 1\r\n"
        "X-Attendees: bert@example.com\r\n"
        "X-Resources: Beamer\r\n"
        "X-Class: IPM.Appointment\r\n"
        "X-OptionalAttendees: carl@example.com\r\n"
        "X-ReminderSet: 1\r\n"
        "X-NoEndDate: 0\r\n"
        "X-PatternStartDate: 1110186000\r\n"
        "X-PatternEndDate: 1112000000\r\n"
        "X-ReminderMinutesBeforeStart: 15\r\n"
        "X-Occurences: 10\r\n"
        "X-RecurrenceDayOfMonth: 7\r\n"
        "X-RecurrenceDayOfWeekMask: 2\r\n"
        "X-RecurrenceMonthOfYear: 3\r\n"
        "X-Read: 1\r\n"
        "Date: Mon, 07 Mar 2005 08:00:00 +0100\r\n"
        "Received: from relay; Mon, 07 Mar 2005 08:05:00 +0000\r\n"
        "X-CVReminderTime: 08:45 07 Mar, 2005\r\n"
        "X-CVRecurrenceRangeStart: 09:00 07 Mar, 2005\r\n"
        "X-CVRecurrenceRangeEnd: 10:00 30 Mar, 2005\r\n"
        "X-StartTime: 09:00 07 Mar, 2005\r\n"
        "X-FinishTime: 10:00:30 07 Mar, 2005\r\n"
        "X-CVDueBy: 12:00 31 Mar, 2005\r\n"
        "\r\n"
        "Subject: in the body\r\n";
    Put("A1.EML", file);
    XmlNode element = BuildCalendarElement(document_, XmlNode(), Item("A1.EML", -5, 1110189600));
    ASSERT_FALSE(element.IsNull());
    std::string id;
    EXPECT_TRUE(element.Attribute("ID", &id));
    EXPECT_EQ("A1.EML", id);

    const std::string date = MessageDate("Mon, 07 Mar 2005 08:00:00 +0100");
    EXPECT_EQ("2005-03-07T07:00:00", date);
    const Children expected = {
        {"START", "-5"},
        {"END", "1110189600"},
        {"MODIFIEDDATE",
         std::to_string(static_cast<int32_t>(GetFileDosStamp(PathOf("A1.EML").c_str())))},
        {"FROM", "Anna Smith <anna@example.com>"},
        {"SUBJECT", "Team meeting"},
        {"LABEL", "3"},
        {"LOCATION", "Room 1"},
        {"RECURRENCEINTERVAL", "2"},
        {"RECURRENCETYPE", "1"},
        {"RECURRENCEINSTANCE", "0"},
        {"RECURRENCESTATE", "1"},
        {"ALLDAYEVENT", "0"},
        {"BUSYSTATUS", "2"},
        {"IMPORTANCE", "1"},
        {"ISRECURRING", "1"},
        {"ATTENDEES", "bert@example.com"},
        {"RESOURCES", "Beamer"},
        {"CLASS", "IPM.Appointment"},
        {"OPTIONALATTENDEES", "carl@example.com"},
        {"REMINDERSET", "1"},
        {"NOENDDATE", "0"},
        {"PATTERNSTARTDATE", "1110186000"},
        {"PATTERNENDDATE", "1112000000"},
        {"REMINDERMINUTESBEFORESTART", "15"},
        {"OCCURRENCES", "10"},
        {"RECURRENCEDAYOFMONTH", "7"},
        {"RECURRENCEDAYOFWEEKMASK", "2"},
        {"RECURRENCEMONTHOFYEAR", "3"},
        {"READ", "1"},
        {"DATE", date},
        {"CREATED", date},
        {"RECEIVED", date},  // a Date line before any Received line
        {"REMINDERTIME", ShortDate("08:45 07 Mar, 2005")},
        {"RECURRENCESTART", ShortDate("09:00 07 Mar, 2005")},
        {"RECURRENCEEND", ShortDate("10:00 30 Mar, 2005")},
        {"STARTIME", std::to_string(ParseShortDateToTime("09:00 07 Mar, 2005"))},
        {"FINISHTIME", std::to_string(ParseShortDateToTime("10:00:30 07 Mar, 2005"))},
        {"DUEBY", ShortDate("12:00 31 Mar, 2005")},
    };
    EXPECT_EQ(expected, ChildrenOf(element));
    EXPECT_EQ("2005-03-07T09:00:00", ShortDate("09:00 07 Mar, 2005"));
    EXPECT_EQ(1110186000, ParseShortDateToTime("09:00 07 Mar, 2005"));

    // Appended to the document element, and saved and loaded as it was built.
    EXPECT_EQ(1u, Ids(document_).size());
    testing::TempFolder folder;
    std::string saved = folder.Join("_index.xml");
    ASSERT_EQ(1, SaveIndexDocument(document_, saved.c_str()));
    XmlDocument loaded;
    ASSERT_EQ(1, CreateIndexDocument(&loaded));
    ASSERT_EQ(1, LoadIndexDocument(loaded, saved.c_str()));
    EXPECT_EQ(Shape(document_), Shape(loaded));
}

TEST_F(CalendarScanTest, HeaderNamesMatchWhereverTheyStandFollowedByAColon) {
    EXPECT_EQ((Children{{"SUBJECT", "s"}}), Headers("X-Subject: s\r\n\r\n"));
    EXPECT_EQ((Children{{"SUBJECT", "text"}}), Headers("subject:text\n\n"));
    EXPECT_EQ((Children{{"SUBJECT", ""}}), Headers("Subject:\r\n"));
    EXPECT_EQ((Children{}), Headers("Subjects: x\r\nSubject : y\r\nMy Subject\r\n"));
    EXPECT_EQ((Children{{"LOCATION", "z"}}), Headers("Old-X-Location: z\r\n"));
    // Only the first occurrence of a name counts.
    EXPECT_EQ((Children{}), Headers("X-Location is X-Location: z\r\n"));
    // One line may feed several children, in the table's order.
    EXPECT_EQ((Children{{"SUBJECT", "X-Location: b"}, {"LOCATION", "b"}}),
              Headers("Subject: X-Location: b\r\n"));
    // The tests that want a line to begin with a text do not look further in.
    EXPECT_EQ((Children{}), Headers("XFrom: a\r\nResent-Date: Mon, 07 Mar 2005 08:00:00 +0000\r\n"
                                    "Y-X-StartTime: 09:00 07 Mar, 2005\r\n"));
    EXPECT_EQ((Children{{"READ", "1"}, {"READ", "1"}}),
              Headers("x-read: 1\r\nX-Read: 10\r\nX-Read: 0\r\n"));
}

TEST_F(CalendarScanTest, SenderAndDateRules) {
    // One trailing blank goes; the DOM's text of an element never shows the rest.
    EXPECT_EQ((Children{{"FROM", "anna"}}), Headers("From: anna  \r\n"));
    XmlNode root;
    XmlNode from;
    std::string xml;
    ASSERT_TRUE(document_.DocumentElement(&root));
    int32_t count = 0;
    root.ChildCount(&count);
    ASSERT_TRUE(root.ChildAt(count - 1, &root));
    ASSERT_TRUE(root.ChildAt(3, &from));
    ASSERT_TRUE(from.Xml(&xml));
    EXPECT_EQ("<FROM>anna </FROM>", xml);
    EXPECT_EQ((Children{{"FROM", std::string(505, 'a')}}),
              Headers("From: " + std::string(505, 'a') + "\r\n"));
    EXPECT_EQ((Children{{"FROM", "Unknown"}}), Headers("From: " + std::string(506, 'a') + "\r\n"));

    // Only the first Received line counts, with the date after its first "; ".
    const std::string first = MessageDate("Mon, 07 Mar 2005 08:05:00 +0000");
    EXPECT_EQ((Children{{"RECEIVED", first}}),
              Headers("Received: from a by b; Mon, 07 Mar 2005 08:05:00 +0000\r\n"
                      "Received: from c; Tue, 08 Mar 2005 08:05:00 +0000\r\n"));
    // A failed conversion, and a Received line without "; ", give empty texts, never an earlier
    // value.
    const std::string date = MessageDate("Mon, 07 Mar 2005 08:00:00 +0000");
    EXPECT_EQ(
        (Children{
            {"DATE", date}, {"CREATED", date}, {"RECEIVED", date}, {"DATE", ""}, {"CREATED", ""}}),
        Headers("Date: Mon, 07 Mar 2005 08:00:00 +0000\r\nDate: garbage\r\n"));
    EXPECT_EQ((Children{{"RECEIVED", ""}, {"DATE", date}, {"CREATED", date}}),
              Headers("Received: from a by b\r\nDate: Mon, 07 Mar 2005 08:00:00 +0000\r\n"));
    EXPECT_EQ((Children{{"REMINDERTIME", ""}, {"DUEBY", ""}, {"STARTIME", "0"}}),
              Headers("X-CVReminderTime: soon\r\nX-CVDueBy: \r\nX-StartTime: never\r\n"));
}

TEST_F(CalendarScanTest, OnlyTheHeadersAreRead) {
    Children children = Built("\r\nSubject: body\r\n");
    ASSERT_EQ(3u, children.size());
    EXPECT_EQ("START", children[0].first);
    EXPECT_EQ("END", children[1].first);
    EXPECT_EQ("MODIFIEDDATE", children[2].first);
    EXPECT_EQ((Children{{"SUBJECT", "a"}}), Headers("Subject: a\n\rSubject: b\r\n"));
    EXPECT_EQ((Children{}), Headers(""));
}

TEST_F(CalendarScanTest, HostileItemFilesAreReadInBoundedPieces) {
    // A line of 5000 characters comes in pieces of 2046, each a line of its own: the header at
    // the start gives the first piece's rest, a header at the start of a piece counts.
    std::string huge = "Subject: " + std::string(2037, 'x') + "X-Location: cut" +
                       std::string(2900, 'y') + "\r\nX-Class: after\r\n\r\n";
    Children children = Headers(huge);
    ASSERT_EQ(3u, children.size());
    EXPECT_EQ((std::pair<std::string, std::string>("SUBJECT", std::string(2037, 'x'))),
              children[0]);
    EXPECT_EQ("LOCATION", children[1].first);
    EXPECT_EQ("cut" + std::string(2031, 'y'), children[1].second);
    EXPECT_EQ((std::pair<std::string, std::string>("CLASS", "after")), children[2]);

    // Without an empty line, reading stops after 201 lines.
    std::string many;
    for (int i = 1; i <= 300; ++i) many += "X-Location: " + std::to_string(i) + "\r\n";
    children = Headers(many);
    ASSERT_EQ(201u, children.size());
    EXPECT_EQ("201", children.back().second);

    // Binary bytes: a NUL ends the line's text, control characters a document cannot carry
    // become '?', 8-bit characters stay (natively, where the code page is UTF-8, as the
    // Windows-1252 characters they are not UTF-8 for).
    static const char kBinary[] =
        "X-Location: ab\0cd\r\nSubject: a\x01z\x7F\xE9\r\n\x00\x01\r\nX-Class: \xFF\xFE\r\n\r\n";
    children = Headers(std::string(kBinary, sizeof kBinary - 1));
#ifdef _WIN32
    const Children expected{{"LOCATION", "ab"}, {"SUBJECT", "a?z\x7F\xE9"}, {"CLASS", "\xFF\xFE"}};
#else
    const Children expected{
        {"LOCATION", "ab"}, {"SUBJECT", "a?z\x7F\xC3\xA9"}, {"CLASS", "\xC3\xBF\xC3\xBE"}};
#endif
    EXPECT_EQ(expected, children);
    testing::TempFolder folder;
    std::string saved = folder.Join("_index.xml");
    ASSERT_EQ(1, SaveIndexDocument(document_, saved.c_str()));
    XmlDocument loaded;
    ASSERT_EQ(1, CreateIndexDocument(&loaded));
    ASSERT_EQ(1, LoadIndexDocument(loaded, saved.c_str()));
    EXPECT_EQ(Shape(document_), Shape(loaded));
}

TEST_F(CalendarScanTest, AnItemFileThatCannotBeOpenedGivesNoElement) {
    XmlNode root;
    ASSERT_TRUE(document_.DocumentElement(&root));
    EXPECT_TRUE(BuildCalendarElement(document_, root, Item("missing.eml")).IsNull());
    // Names that would leave the Calendar folder are not opened at all.
    Put("..\\outside.eml", "Subject: no\r\n");
    EXPECT_TRUE(BuildCalendarElement(document_, root, Item("..\\outside.eml")).IsNull());
    ListItem item = Item("item.eml");
    std::strcpy(item.Mailbox, "..");
    EXPECT_TRUE(BuildCalendarElement(document_, root, item).IsNull());
    EXPECT_EQ("BASEELEMENT=\"\"", Shape(document_));
}

// Writes a period file with one appointment, and its item file.
class RangeScanTest : public CalendarScanTest {
  protected:
    void Appointment(const std::string& period, int32_t start, int32_t finish,
                     const std::string& id) {
        std::string& lines = periods_[period];
        if (!lines.empty()) lines += "\r\n";
        lines += std::to_string(start) + "\t" + std::to_string(finish) + "\t" + id;
        Put(period + ".CAL", lines);
        Put(id, "Subject: " + id + "\r\n\r\n");
    }
    std::vector<std::string> Scanned(const ListContext& context) {
        auto index = Index("Contacts");
        EXPECT_EQ(1, ScanCalendarIndex(index.get(), &context));
        std::vector<std::string> ids = Ids(index->FolderIndex);
        StoreIndex_Close(index.get());
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
    EXPECT_EQ((std::vector<std::string>{"in-Y", "in-Y05", "in-Y05M03", "in-Y05M03D07"}),
              Scanned(Range(kNoonMarch7, end)));
    // The range's end picks no period file.
    EXPECT_EQ((std::vector<std::string>{"in-Y", "in-Y05", "in-Y05M03", "in-Y05M03D07"}),
              Scanned(Range(kNoonMarch7, end + 40 * 86400)));
}

TEST_F(RangeScanTest, KeepsTheAppointmentsWhollyInsideTheRange) {
    const int32_t nine = kNoonMarch7 - 3 * 3600;
    const int32_t ten = nine + 3600;
    Appointment("Y05M03D07", nine, ten, "nine-to-ten");
    Appointment("Y05M03D07", nine - 1, ten, "starts-before");
    Appointment("Y05M03D07", nine, ten + 1, "ends-after");
    Appointment("Y05M03D07", nine + 600, ten - 600, "inside");
    EXPECT_EQ((std::vector<std::string>{"nine-to-ten", "inside"}), Scanned(Range(nine, ten)));
    EXPECT_EQ((std::vector<std::string>{}), Scanned(Range(nine + 1800, nine + 3 * 3600)));
}

TEST_F(RangeScanTest, ThePeriodsFollowTheLocalDate) {
    const char* old = std::getenv("TZ");
    std::string saved = old != nullptr ? old : "";
    ASSERT_TRUE(SetProcessEnvironment("TZ", "JST-9"));
    // 20:00 UTC on the 6th is 05:00 on the 7th in Tokyo.
    const int32_t start = kNoonMarch7 - 16 * 3600;
    Appointment("Y05M03D06", start, start + 60, "utc-day");
    Appointment("Y05M03D07", start, start + 60, "local-day");
    std::vector<std::string> ids = Scanned(Range(start, start + 60));
    SetProcessEnvironment("TZ", old != nullptr ? saved.c_str() : nullptr);
    EXPECT_EQ((std::vector<std::string>{"local-day"}), ids);
}

TEST_F(RangeScanTest, TheRangeScanSavesItsIndex) {
    Appointment("Y05M03D07", kNoonMarch7, kNoonMarch7 + 60, "one");
    Appointment("Y05M03D07", kNoonMarch7, kNoonMarch7 + 60, "no-item-file");
    RemoveFile(PathOf("no-item-file").c_str());
    auto index = Index("Contacts");
    ListContext context = Range(kNoonMarch7, kNoonMarch7 + 60);
    ASSERT_EQ(1, ScanCalendarIndex(index.get(), &context));
    std::string file = std::string(index->FolderPath) + "\\_index.xml";
    EXPECT_EQ(store_.root() + "\\office1\\MAILROOT\\anna\\Contacts\\_index.xml", file);
    EXPECT_NE(0u, index->IndexStamp);
    XmlDocument loaded;
    ASSERT_EQ(1, CreateIndexDocument(&loaded));
    ASSERT_EQ(1, LoadIndexDocument(loaded, file.c_str()));
    EXPECT_EQ(Shape(index->FolderIndex), Shape(loaded));
    EXPECT_EQ((std::vector<std::string>{"one"}), Ids(loaded));
    StoreIndex_Close(index.get());
}

TEST_F(RangeScanTest, TheFullScanIndexesEveryPeriodFileAndKeepsThem) {
    Appointment("Y05M03D07", 10, 20, "a");
    Appointment("Y05M03D07", 30, 40, "b");
    Appointment("Y", -100, 5000000, "c");
    Appointment("y06m01", 50, 60, "d");
    Put("_Y05.CAL", "1\t2\tignored");
    MakeDirectory(PathOf("Y07.CAL").c_str());
    const std::string day = testing::ReadFileOrEmpty(PathOf("Y05M03D07.CAL"));

    auto index = Index("Calendar");
    ASSERT_EQ(1, ScanCalendarIndex(index.get(), nullptr));
    std::vector<std::string> ids = Ids(index->FolderIndex);
    std::sort(ids.begin(), ids.end());  // directory order is the system's
    EXPECT_EQ((std::vector<std::string>{"a", "b", "c", "d"}), ids);
    EXPECT_TRUE(testing::PathExists(PathOf("_index.xml")));
    EXPECT_EQ(day, testing::ReadFileOrEmpty(PathOf("Y05M03D07.CAL")));
    EXPECT_TRUE(testing::PathExists(PathOf("Y.CAL")));
    EXPECT_TRUE(testing::PathExists(PathOf("y06m01.CAL")));
    StoreIndex_Close(index.get());
}

TEST_F(RangeScanTest, AFolderWithoutPeriodFilesHasAnEmptyIndex) {
    Put("_index.xml", "<BASEELEMENT><ELEMENT ID=\"stale\"/></BASEELEMENT>");
    auto index = Index("Calendar");
    ASSERT_EQ(1, ScanCalendarIndex(index.get(), nullptr));
    EXPECT_EQ("BASEELEMENT=\"\"", Shape(index->FolderIndex));
    EXPECT_EQ(std::string::npos, testing::ReadFileOrEmpty(PathOf("_index.xml")).find("stale"));
    StoreIndex_Close(index.get());
}

}  // namespace
}  // namespace cv
