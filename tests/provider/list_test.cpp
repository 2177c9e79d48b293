// The list exports over the range scan (whose periods and bounds index/calendar_scan_test.cpp
// covers): the records they fill, stylesheets that sort, cut and misbehave, and the listing's
// FindFirst / FindNext / FindClose life.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "host/host_thread.h"
#include "include/cvaicp.h"
#include "store/store_state.h"
#include "tests/provider/appointment_fixture.h"
#include "tests/support/hostile_stylesheets.h"

namespace cv {
namespace {

using testing::MakeListContext;
using testing::MakeRequest;
using Ids = std::vector<std::string>;

constexpr int32_t kNoon = 1796601600 + 12 * 3600;  // 2026-12-07 12:00 UTC

const char kSheetHead[] =
    "<xsl:stylesheet version=\"1.0\" xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\">";
const std::string kLatestFirst = std::string(kSheetHead) +
                                 "<xsl:template match=\"/BASEELEMENT\"><BASEELEMENT>"
                                 "<xsl:for-each select=\"ELEMENT\"><xsl:sort select=\"START\" "
                                 "data-type=\"number\" order=\"descending\"/><xsl:copy-of "
                                 "select=\".\"/></xsl:for-each></BASEELEMENT></xsl:template>"
                                 "</xsl:stylesheet>";

class ListTest : public testing::AppointmentTest {
  protected:
    ListTest() { MakeCalendar(); }
    ~ListTest() override { AppointmentListItemFindClose(&context_); }

    // An appointment of the day's period file, and its item file.
    void Add(const char* id, int32_t start, int32_t finish, const std::string& headers = "") {
        AppointmentRequest request = MakeRequest(id, start, finish, "Y26M12D07");
        ASSERT_EQ(1, AppointmentAdd(&request));
        Put(id, "Subject: about " + std::string(id) + "\r\n" + headers + "\r\nbody\r\n");
    }

    Ids List(const std::string& stylesheet = "") {
        context_ = MakeListContext(kNoon, kNoon + 3600, stylesheet);
        Ids ids;
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

TEST_F(ListTest, FillsTheRecordAndEndsForGood) {
    EXPECT_EQ(0, AppointmentListItemFindNext(&context_, &item_));  // before any FindFirst
    Add("a", kNoon, kNoon + 600, "X-Location: Room 4\r\n");
    Add("b", kNoon + 60, kNoon + 120);
    SetEnumerationSlot(7);  // FindFirst starts over whatever the thread's slot held
    ListContext context = MakeListContext(kNoon, kNoon + 3600);
    ASSERT_EQ(1, AppointmentListItemFindFirst(&context, &item_));
    EXPECT_STREQ("example", item_.Postoffice);
    EXPECT_STREQ("anna", item_.Mailbox);
    EXPECT_STREQ("a", item_.ItemId);
    // The record is packed: its fields are compared as copies (+), never bound by reference.
    EXPECT_EQ(kNoon, +item_.StartTime);
    EXPECT_EQ(kNoon + 600, +item_.FinishTime);
    std::string xml = item_.ItemXml;
    EXPECT_EQ(xml.size(), +item_.ItemXmlLength);
    EXPECT_EQ(0u, xml.find("<ELEMENT ID=\"a\">"));
    EXPECT_NE(std::string::npos, xml.find("<SUBJECT>about a</SUBJECT>"));
    EXPECT_NE(std::string::npos, xml.find("<LOCATION>Room 4</LOCATION>"));
    ASSERT_EQ(1, AppointmentListItemFindNext(&context, &item_));
    EXPECT_STREQ("b", item_.ItemId);
    EXPECT_EQ(0, AppointmentListItemFindNext(&context, &item_));
    EXPECT_EQ(0, AppointmentListItemFindNext(&context, &item_));  // stays at the end
    EXPECT_EQ(1, AppointmentListItemFindClose(&context));
    EXPECT_EQ(0, AppointmentListItemFindNext(&context, &item_));  // after FindClose
    // A listing builds its index in memory only.
    EXPECT_FALSE(Exists("_index.xml"));
    EXPECT_FALSE(testing::PathExists(store_.root() + "\\example\\MAILROOT\\anna\\Contacts"));
}

TEST_F(ListTest, AStylesheetSortsAndItsOutputIsCutToTheRecord) {
    Add("early", kNoon, kNoon + 60);
    Add("late", kNoon + 2000, kNoon + 2060);
    Add("middle", kNoon + 1000, kNoon + 1060);
    EXPECT_EQ((Ids{"late", "middle", "early"}), List(kLatestFirst));
    const std::string sheet = std::string(kSheetHead) + "<xsl:template match=\"/\"><R><E ID=\"" +
                              std::string(100, 'L') + "\"><START>12</START><P>" +
                              std::string(3000, 'B') +
                              "</P></E><E ID=\"next\"/></R></xsl:template></xsl:stylesheet>";
    ListContext context = MakeListContext(kNoon, kNoon + 3600, sheet);
    ASSERT_EQ(1, AppointmentListItemFindFirst(&context, &item_));
    EXPECT_EQ(std::string(63, 'L'), item_.ItemId);
    EXPECT_EQ(12, +item_.StartTime);
    EXPECT_EQ(0u, +item_.ItemXmlLength);  // too long for its window: handed out without it
    EXPECT_STREQ("", item_.ItemXml);
    ASSERT_EQ(1, AppointmentListItemFindNext(&context, &item_));
    EXPECT_STREQ("next", item_.ItemId);
    EXPECT_EQ(0, +item_.StartTime);
    AppointmentListItemFindClose(&context);
}

TEST_F(ListTest, BadContextsAndMisbehavingStylesheetsAnswerZero) {
    Add("a", kNoon, kNoon + 60);
    std::vector<ListContext> bad;
    for (const char* mailbox : {"..", "a\\b", ""}) {
        bad.push_back(MakeListContext(kNoon, kNoon + 3600, "", mailbox));
    }
    // Not XML, no output root, an output without IDs; then XML that is no stylesheet.
    for (const std::string tail :
         {"", "<xsl:template match=\"/\"/></xsl:stylesheet>",
          "<xsl:template match=\"/\"><R><X/></R></xsl:template></xsl:stylesheet>"}) {
        bad.push_back(
            MakeListContext(kNoon, kNoon + 3600, tail.empty() ? "<not-xml" : kSheetHead + tail));
    }
    bad.push_back(MakeListContext(kNoon, kNoon + 3600, "<plain/>"));
    bad.push_back(MakeListContext(kNoon, kNoon + 3600));
    std::memset(bad.back().Stylesheet, '<', sizeof bad.back().Stylesheet);  // unterminated
    for (ListContext& context : bad) {
        SCOPED_TRACE(std::string(context.Mailbox) + " " + context.Stylesheet);
        EXPECT_EQ(0, AppointmentListItemFindFirst(&context, &item_));
        EXPECT_EQ(0, AppointmentListItemFindNext(&context, &item_));
        AppointmentListItemFindClose(&context);
    }
    EXPECT_EQ(Ids{"a"}, List());
}

// A listing runs a stylesheet that the host, or any peer of the remote service, gave it: one that
// reaches for a file, the network or script gets nothing, and neither reads, connects nor writes.
TEST_F(ListTest, StylesheetsThatReachOutsideTheListingAreRefusedWhole) {
    Add("a", kNoon, kNoon + 60);
    testing::OutsideWorld world;
    for (const testing::HostileSheet& sheet : testing::HostileStylesheets(world)) {
        SCOPED_TRACE(sheet.what);
        ASSERT_LT(sheet.text.size(), sizeof context_.Stylesheet);
        ListContext context = MakeListContext(kNoon, kNoon + 3600, sheet.text);
        EXPECT_EQ(0, AppointmentListItemFindFirst(&context, &item_));
        EXPECT_EQ(std::string::npos, std::string(item_.ItemXml).find(testing::kSecret));
        AppointmentListItemFindClose(&context);
    }
    EXPECT_EQ(0, world.Connections());
    EXPECT_FALSE(testing::PathExists(world.Written()));
    EXPECT_EQ(Ids{"a"}, List(testing::LookAlikeStylesheet()));
}

// One listing runs at a time (the list index is the process's); listings of threads that do not
// keep to that must not crash.
TEST_F(ListTest, AThousandItemsListInOrderAndConcurrentListingsDoNotCrash) {
    std::string lines;
    for (int i = 0; i < 1000; ++i) {
        const std::string id = "i" + std::to_string(i), at = std::to_string(kNoon + i);
        lines += (i ? "\r\n" : "") + at + "\t" + at + "\t" + id;
        Put(id, "Subject: x\r\n\r\n");
    }
    Put("Y26M12D07.CAL", lines);
    Ids ids = List();
    ASSERT_EQ(1000u, ids.size());
    EXPECT_EQ("i0", ids.front());
    EXPECT_EQ("i999", ids.back());
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t] {
            HostThread host;
            for (int round = 0; round < 3; ++round) {
                ListContext context =
                    MakeListContext(kNoon, kNoon + 3600, (t + round) % 2 ? kLatestFirst : "");
                ListItem item;
                for (int32_t found = AppointmentListItemFindFirst(&context, &item); found;
                     found = AppointmentListItemFindNext(&context, &item)) {
                }
                AppointmentListItemFindClose(&context);
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(1000u, List().size());
}

}  // namespace
}  // namespace cv
