// The list enumeration: the range scan's period files and bounds, stylesheets that sort, filter
// and misbehave, and the listing's own state.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "common/host_thread.h"
#include "include/cvaicp.h"
#include "store/store_state.h"
#include "tests/provider/appointment_fixture.h"

namespace cv {
namespace {

using testing::MakeRequest;

constexpr int32_t kDay = 1796601600;  // 2026-12-07 00:00 UTC
constexpr int32_t kNoon = kDay + 12 * 3600;

const char kLatestFirst[] =
    "<xsl:stylesheet version=\"1.0\" xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\">"
    "<xsl:template match=\"/BASEELEMENT\"><BASEELEMENT>"
    "<xsl:for-each select=\"ELEMENT\"><xsl:sort select=\"START\" data-type=\"number\" "
    "order=\"descending\"/><xsl:copy-of select=\".\"/></xsl:for-each>"
    "</BASEELEMENT></xsl:template></xsl:stylesheet>";

class ListTest : public testing::AppointmentTest {
  protected:
    ListTest() { MakeCalendar(); }
    ~ListTest() override { AppointmentListItemFindClose(&context_); }

    // An appointment line in a period file, and its item file.
    void Add(const char* id, int32_t start, int32_t finish, const char* period,
             const std::string& headers = "") {
        AppointmentRequest request = MakeRequest(id, start, finish, period);
        ASSERT_EQ(1, AppointmentAdd(&request));
        Put(id, "Subject: about " + std::string(id) + "\r\n" + headers + "\r\nbody\r\n");
    }

    ListContext Context(int32_t from, int32_t to, const char* stylesheet = "") {
        ListContext context;
        std::memset(&context, 0, sizeof context);
        std::strcpy(context.Postoffice, "example");
        std::strcpy(context.Mailbox, "anna");
        context.RangeStart = from;
        context.RangeEnd = to;
        std::strncpy(context.Stylesheet, stylesheet, sizeof context.Stylesheet - 1);
        return context;
    }

    std::vector<std::string> List(const ListContext& context) {
        context_ = context;
        std::vector<std::string> ids;
        std::memset(&item_, 0, sizeof item_);
        for (int32_t found = AppointmentListItemFindFirst(&context_, &item_); found;
             found = AppointmentListItemFindNext(&context_, &item_)) {
            ids.push_back(item_.ItemId);
        }
        AppointmentListItemFindClose(&context_);
        return ids;
    }

    HostThread host_;
    ListContext context_ = {};
    ListItem item_ = {};
};

TEST_F(ListTest, ReadsThePeriodFilesOfTheStartDateInOrder) {
    Add("day", kNoon + 60, kNoon + 120, "Y26M12D07");
    Add("month", kNoon + 10, kNoon + 20, "Y26M12");
    Add("year", kNoon + 30, kNoon + 40, "Y26");
    Add("years", kNoon + 50, kNoon + 55, "Y");
    Add("other-day", kNoon + 86400, kNoon + 86460, "Y26M12D08");
    EXPECT_EQ((std::vector<std::string>{"years", "year", "month", "day"}),
              List(Context(kNoon, kNoon + 3 * 86400)));
}

TEST_F(ListTest, KeepsOnlyAppointmentsWhollyInsideTheRange) {
    Add("a", kNoon, kNoon + 3600, "Y26M12D07");
    EXPECT_EQ(std::vector<std::string>{"a"}, List(Context(kNoon, kNoon + 3600)));
    EXPECT_TRUE(List(Context(kNoon + 1800, kNoon + 6 * 3600)).empty());
    EXPECT_TRUE(List(Context(kNoon - 3600, kNoon + 3599)).empty());
}

TEST_F(ListTest, DeliversTheElementAndItsFields) {
    Add("a", kNoon, kNoon + 3600, "Y26M12D07", "X-Location: Room 4\r\n");
    ListContext context = Context(kNoon, kNoon + 3600);
    ASSERT_EQ(1, AppointmentListItemFindFirst(&context, &item_));
    EXPECT_STREQ("example", item_.Postoffice);
    EXPECT_STREQ("anna", item_.Mailbox);
    EXPECT_STREQ("a", item_.ItemId);
    // The record is packed: its fields are compared as copies (+), never bound by reference.
    EXPECT_EQ(kNoon, +item_.StartTime);
    EXPECT_EQ(kNoon + 3600, +item_.FinishTime);
    std::string xml = item_.ItemXml;
    EXPECT_EQ(xml.size(), +item_.ItemXmlLength);
    EXPECT_EQ(0u, xml.find("<ELEMENT ID=\"a\">"));
    EXPECT_NE(std::string::npos, xml.find("<SUBJECT>about a</SUBJECT>"));
    EXPECT_NE(std::string::npos, xml.find("<LOCATION>Room 4</LOCATION>"));
    EXPECT_EQ(0, AppointmentListItemFindNext(&context, &item_));
    EXPECT_EQ(0, AppointmentListItemFindNext(&context, &item_));  // stays at the end
}

TEST_F(ListTest, AStylesheetSortsLatestFirst) {
    Add("early", kNoon, kNoon + 60, "Y26M12D07");
    Add("late", kNoon + 7200, kNoon + 7260, "Y26M12D07");
    Add("middle", kNoon + 3600, kNoon + 3660, "Y26M12D07");
    EXPECT_EQ((std::vector<std::string>{"late", "middle", "early"}),
              List(Context(kNoon, kNoon + 86400 / 2 - 1, kLatestFirst)));
}

TEST_F(ListTest, FindFirstStartsOverWhateverTheThreadsSlotHeld) {
    Add("a", kNoon, kNoon + 60, "Y26M12D07");
    Add("b", kNoon + 60, kNoon + 120, "Y26M12D07");
    SetEnumerationSlot(7);
    EXPECT_EQ((std::vector<std::string>{"a", "b"}), List(Context(kNoon, kNoon + 3600)));
}

TEST_F(ListTest, AThousandItemsListInOrder) {
    std::string lines;
    for (int i = 0; i < 1000; ++i) {
        std::string id = "i" + std::to_string(i);
        lines += (i ? "\r\n" : "") + std::to_string(kNoon + i) + "\t" + std::to_string(kNoon + i) +
                 "\t" + id;
        Put(id, "Subject: x\r\n\r\n");
    }
    Put("Y26M12D07.CAL", lines);
    std::vector<std::string> ids = List(Context(kNoon, kNoon + 3600));
    ASSERT_EQ(1000u, ids.size());
    EXPECT_EQ("i0", ids.front());
    EXPECT_EQ("i999", ids.back());
}

TEST_F(ListTest, MisbehavingStylesheetsAnswerZero) {
    Add("a", kNoon, kNoon + 60, "Y26M12D07");
    const char* no_root =
        "<xsl:stylesheet version=\"1.0\" xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\">"
        "<xsl:template match=\"/\"/></xsl:stylesheet>";
    const char* no_ids =
        "<xsl:stylesheet version=\"1.0\" xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\">"
        "<xsl:template match=\"/\"><R><X/></R></xsl:template></xsl:stylesheet>";
    for (const char* sheet : {"<not-xml", no_root, no_ids, "<plain/>"}) {
        ListContext context = Context(kNoon, kNoon + 3600, sheet);
        EXPECT_EQ(0, AppointmentListItemFindFirst(&context, &item_)) << sheet;
        EXPECT_EQ(0, AppointmentListItemFindNext(&context, &item_)) << sheet;
        AppointmentListItemFindClose(&context);
    }
}

TEST_F(ListTest, StylesheetOutputIsCutToTheRecord) {
    Add("a", kNoon, kNoon + 60, "Y26M12D07");
    std::string long_id(100, 'L');
    std::string big(3000, 'B');
    std::string sheet =
        "<xsl:stylesheet version=\"1.0\" xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\">"
        "<xsl:template match=\"/\"><R><E ID=\"" +
        long_id + "\"><START>12</START><P>" + big +
        "</P></E><E ID=\"next\"/></R></xsl:template></xsl:stylesheet>";
    ListContext context = Context(kNoon, kNoon + 3600, sheet.c_str());
    ASSERT_EQ(1, AppointmentListItemFindFirst(&context, &item_));
    EXPECT_EQ(std::string(63, 'L'), item_.ItemId);
    EXPECT_EQ(12, +item_.StartTime);
    EXPECT_EQ(0u, +item_.ItemXmlLength);  // too long for its window: handed out without it
    EXPECT_STREQ("", item_.ItemXml);
    ASSERT_EQ(1, AppointmentListItemFindNext(&context, &item_));
    EXPECT_STREQ("next", item_.ItemId);
    EXPECT_EQ(0, +item_.StartTime);
}

TEST_F(ListTest, WritesNoIndexFileAnywhere) {
    Add("a", kNoon, kNoon + 60, "Y26M12D07");
    EXPECT_EQ(std::vector<std::string>{"a"}, List(Context(kNoon, kNoon + 3600)));
    EXPECT_FALSE(Exists("_index.xml"));
    EXPECT_FALSE(testing::PathExists(store_.root() + "\\example\\MAILROOT\\anna\\Contacts"));
}

TEST_F(ListTest, RefusesBadContextsAndCallsOutOfOrder) {
    EXPECT_EQ(0, AppointmentListItemFindNext(&context_, &item_));  // before any FindFirst
    Add("a", kNoon, kNoon + 60, "Y26M12D07");
    for (const char* bad : {"..", "a\\b", ""}) {
        ListContext context = Context(kNoon, kNoon + 3600);
        std::strcpy(context.Mailbox, bad);
        EXPECT_EQ(0, AppointmentListItemFindFirst(&context, &item_)) << bad;
    }
    ListContext unterminated = Context(kNoon, kNoon + 3600);
    std::memset(unterminated.Stylesheet, '<', sizeof unterminated.Stylesheet);
    EXPECT_EQ(0, AppointmentListItemFindFirst(&unterminated, &item_));
    ListContext good = Context(kNoon, kNoon + 3600);
    ASSERT_EQ(1, AppointmentListItemFindFirst(&good, &item_));
    EXPECT_EQ(1, AppointmentListItemFindClose(&good));
    EXPECT_EQ(0, AppointmentListItemFindNext(&good, &item_));  // after FindClose
}

TEST_F(ListTest, ConcurrentListingsDoNotCrash) {
    for (int i = 0; i < 20; ++i) {
        Add(("a" + std::to_string(i)).c_str(), kNoon + i, kNoon + i + 1, "Y26M12D07");
    }
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            HostThread host;
            for (int round = 0; round < 10; ++round) {
                ListContext context = Context(kNoon, kNoon + 3600, round % 2 ? kLatestFirst : "");
                ListItem item;
                for (int32_t found = AppointmentListItemFindFirst(&context, &item); found;
                     found = AppointmentListItemFindNext(&context, &item)) {
                }
                AppointmentListItemFindClose(&context);
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(20u, List(Context(kNoon, kNoon + 3600)).size());
}

}  // namespace
}  // namespace cv
