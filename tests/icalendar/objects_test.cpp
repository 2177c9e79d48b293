// iCalendar objects as the store keeps them: ids, expansion into appointments, item files, export.
#include "icalendar/objects.h"

#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/item_dates.h"
#include "index_api/item_properties.h"

namespace cvical {
namespace {

constexpr int64_t kNow = 1796083200;  // 2026-12-01 00:00 UTC
const char kBerlin[] =
    "BEGIN:VTIMEZONE\nTZID:Europe/Berlin\n"
    "BEGIN:STANDARD\nDTSTART:19701025T030000\nRRULE:FREQ=YEARLY;BYMONTH=10;BYDAY=-1SU\n"
    "TZOFFSETFROM:+0200\nTZOFFSETTO:+0100\nEND:STANDARD\n"
    "BEGIN:DAYLIGHT\nDTSTART:19700329T020000\nRRULE:FREQ=YEARLY;BYMONTH=3;BYDAY=-1SU\n"
    "TZOFFSETFROM:+0100\nTZOFFSETTO:+0200\nEND:DAYLIGHT\nEND:VTIMEZONE\n";
const char kWeekly[] =
    "BEGIN:VEVENT\nUID:weekly@example\nDTSTAMP:20261201T120000Z\n"
    "DTSTART;TZID=Europe/Berlin:20261207T100000\nDTEND;TZID=Europe/Berlin:20261207T110000\n"
    "RRULE:FREQ=WEEKLY;COUNT=4\nEXDATE;TZID=Europe/Berlin:20261214T100000\n"
    "SUMMARY:Weekly\nDESCRIPTION:line one\\nline two\nEND:VEVENT\n"
    "BEGIN:VEVENT\nUID:weekly@example\nRECURRENCE-ID;TZID=Europe/Berlin:20261221T100000\n"
    "DTSTART;TZID=Europe/Berlin:20261221T150000\nDTEND;TZID=Europe/Berlin:20261221T160000\n"
    "SUMMARY:Weekly moved\nEND:VEVENT\n";

// The process's zone for all-day and floating times.
void SetZone(const char* zone) {
    setenv("TZ", zone, 1);
    tzset();
}

Window At(int64_t now, int horizon = kDefaultHorizonDays) {
    Window window;
    window.now = now;
    window.horizon_days = horizon;
    return window;
}

ParsedCalendar Parse(const std::string& components, int horizon = kDefaultHorizonDays) {
    ParsedCalendar parsed;
    EXPECT_TRUE(ParseCalendar("BEGIN:VCALENDAR\nVERSION:2.0\nPRODID:-//t//EN\n" +
                                  std::string(kBerlin) + components + "END:VCALENDAR\n",
                              At(kNow, horizon), &parsed));
    return parsed;
}

std::string Event(const std::string& uid, const std::string& lines) {
    return "BEGIN:VEVENT\nUID:" + uid + "\n" + lines + "END:VEVENT\n";
}

TEST(ICalendarIdsTest, MasterIdsAreTwoFnvHashesOfTheUid) {
    // The same values the Python side computes (docs/ICALENDAR.md lists them).
    EXPECT_EQ("IC2428BC0955EF24A43141463389E413C0", MasterId("weekly@example"));
    EXPECT_EQ("IC6FA20E22876E62942CCF29C638FEFBF8", MasterId("allday@example"));
    EXPECT_EQ("IC6FA20E22876E62942CCF29C638FEFBF8-1796634000",
              OccurrenceId(MasterId("allday@example"), 1796634000));
    EXPECT_EQ("IC6FA20E22876E62942CCF29C638FEFBF8--5",
              OccurrenceId(MasterId("allday@example"), -5));
}

TEST(ICalendarExpansionTest, OccurrencesOfEachKindOfEvent) {
    SetZone("Europe/Berlin");
    struct Row {
        std::string components;
        std::vector<std::vector<int64_t>> times;  // start, finish, all-day
        std::vector<std::string> summaries;
    } rows[] = {
        // An RRULE less an EXDATE, one instance overridden with its own times and text.
        {kWeekly,
         {{1796634000, 1796637600, 0}, {1797861600, 1797865200, 0}, {1798448400, 1798452000, 0}},
         {"Weekly", "Weekly moved", "Weekly"}},
        // A TZID without a VTIMEZONE: the system's zone of that name (summer time there).
        {Event("ny", "DTSTART;TZID=America/New_York:20260701T090000\nDURATION:PT30M\n"),
         {{1782910800, 1782912600, 0}},
         {""}},
        // All day, DTEND exclusive: the local days, 00:00:00 to 23:59:59.
        {Event("days", "DTSTART;VALUE=DATE:20261209\nDTEND;VALUE=DATE:20261211\n"),
         {{1796770800, 1796943599, 1}},
         {""}},
        // The first instance overridden: moved, not doubled.
        {Event("first", "DTSTART:20261207T090000Z\nRRULE:FREQ=DAILY;COUNT=2\n") +
             Event("first", "RECURRENCE-ID:20261207T090000Z\nDTSTART:20261207T080000Z\n"),
         {{1796630400, 1796630400, 0}, {1796720400, 1796720400, 0}},
         {"", ""}},
        // Floating: local. No DTEND: the finish is the start. RDATE adds, overrides order.
        {Event("float", "DTSTART:20261207T100000\nRDATE:20261206T090000Z\n"),
         {{1796547600, 1796547600, 0}, {1796634000, 1796634000, 0}},
         {"", ""}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.components);
        ParsedCalendar parsed = Parse(row.components);
        ASSERT_EQ(1u, parsed.objects.size());
        const auto& got = parsed.objects[0].occurrences;
        ASSERT_EQ(row.times.size(), got.size());
        for (size_t i = 0; i < got.size(); ++i) {
            EXPECT_EQ(row.times[i],
                      (std::vector<int64_t>{got[i].start, got[i].finish, got[i].all_day ? 1 : 0}));
            EXPECT_EQ(row.summaries[i], got[i].summary);
        }
    }
}

// The first instance always, then those that begin in the window of whole UTC days, at most the
// most asked for, whatever the rule asks.
TEST(ICalendarExpansionTest, TheFirstInstanceAndThoseOfTheWindow) {
    struct Row {
        const char* dtstart;
        const char* rule;
        int back, horizon;
        size_t most;
        size_t count;
        int64_t second, last;  // the starts of the first occurrence after the master, and the last
    } rows[] = {
        {"20261202T090000Z", "FREQ=DAILY", 365, 10, 2000, 10, 1796288400, 1796979600},
        {"20261202T090000Z", "FREQ=DAILY", 365, 0, 2000, 1, 0, 1796202000},
        {"20261202T090000Z", "FREQ=SECONDLY;COUNT=100000000", 365, 365, 2000, 2000, 0, 0},
        {"20261202T090000Z", "FREQ=SECONDLY;BYMONTH=2;BYMONTHDAY=30", 365, 36500, 2000, 1, 0, 0},
        {"20261202T090000Z", "FREQ=HOURLY;BYMONTH=2;BYMONTHDAY=30", 365, 36500, 2000, 1, 0, 0},
        {"20261202T090000Z", "FREQ=YEARLY;UNTIL=20281201T000000Z", 365, 36500, 2000, 2, 0, 0},
        {"20261202T090000Z", "FREQ=DAILY;COUNT=3", 365, 365, 2000, 3, 0, 0},
        // A series begun years ago: its instances around now, not its first ones.
        {"20170102T090000Z", "FREQ=DAILY", 365, 365, 2000, 732, 1764579600, 1827651600},
        {"20170102T090000Z", "FREQ=DAILY", 365, 365, 5, 5, 1764579600, 1764838800},
        {"20261120T090000Z", "FREQ=DAILY", 0, 2, 2000, 4, 1796115600, 1796288400},
        {"20170102T090000Z", "FREQ=DAILY;COUNT=5", 365, 365, 2000, 1, 0, 1483347600},
        // Its first instance beyond the horizon: that one alone.
        {"20300107T100000Z", "FREQ=WEEKLY;COUNT=2", 365, 365, 2000, 1, 0, 1894010400},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.dtstart) + " " + row.rule);
        Window window = At(kNow, row.horizon);
        window.back_days = row.back;
        window.max_occurrences = row.most;
        ParsedCalendar parsed;
        ASSERT_TRUE(ParseCalendar(
            "BEGIN:VCALENDAR\n" +
                Event("r", "DTSTART:" + std::string(row.dtstart) + "\nRRULE:" + row.rule + "\n") +
                "END:VCALENDAR\n",
            window, &parsed));
        ASSERT_EQ(1u, parsed.objects.size());
        const auto& got = parsed.objects[0].occurrences;
        EXPECT_EQ(row.count, got.size());
        EXPECT_TRUE(parsed.objects[0].recurring);
        if (row.second != 0) {
            EXPECT_EQ(row.second, got.at(1).start);
        }
        if (row.last != 0) {
            EXPECT_EQ(row.last, got.back().start);
        }
    }
}

// Overrides follow the window too: one moved into it from beyond is made, one moved out is not.
TEST(ICalendarExpansionTest, OverridesFollowTheWindow) {
    ParsedCalendar parsed =
        Parse(Event("o", "DTSTART:20261202T090000Z\nRRULE:FREQ=WEEKLY;COUNT=10\n") +
                  Event("o", "RECURRENCE-ID:20270203T090000Z\nDTSTART:20261205T090000Z\n") +
                  Event("o", "RECURRENCE-ID:20261209T090000Z\nDTSTART:20270301T090000Z\n"),
              20);
    ASSERT_EQ(1u, parsed.objects.size());
    std::vector<int64_t> starts;
    for (const Occurrence& o : parsed.objects[0].occurrences) starts.push_back(o.start);
    // 12-02 (the master), 12-05 (moved in), 12-16; 12-09 moved out; 12-23 beyond the window.
    EXPECT_EQ((std::vector<int64_t>{1796202000, 1796461200, 1797411600}), starts);
}

TEST(WindowTest, EdgesAreWholeUtcDays) {
    Window window;
    window.now = 1796083200 + 3600 * 23;  // 2026-12-01 23:00 UTC
    window.back_days = 2;
    window.horizon_days = 3;
    EXPECT_EQ(1796083200 - 2 * 86400, window.back_edge());
    EXPECT_EQ(1796083200 + 4 * 86400, window.horizon_edge());
    window.now = -1;  // 1969-12-31 23:59:59
    EXPECT_EQ(-86400 - 2 * 86400, window.back_edge());
}

TEST(ICalendarExpansionTest, ObjectsThatCannotBeStoredAreRefusedOthersKept) {
    ParsedCalendar parsed =
        Parse(Event("", "DTSTART:20261207T090000Z\n") + Event("no-start", "SUMMARY:x\n") +
              Event("late", "DTSTART:20400101T000000Z\n") + Event("ok", "DTSTART:20261207\n") +
              "BEGIN:VTODO\nUID:t\nEND:VTODO\n");
    ASSERT_EQ(3u, parsed.refused.size());
    EXPECT_EQ("no UID", parsed.refused[0].reason);
    EXPECT_EQ("no-start", parsed.refused[1].uid);
    EXPECT_EQ("late", parsed.refused[2].uid);
    ASSERT_EQ(1u, parsed.objects.size());
    EXPECT_EQ(1, parsed.ignored);
    ParsedCalendar none;
    EXPECT_FALSE(ParseCalendar("garbage\n", At(kNow), &none));
}

TEST(ICalendarItemsTest, TheMasterItemIsWhatTheStoresReaderReads) {
    SetZone("UTC");
    ParsedCalendar parsed = Parse(kWeekly);
    ASSERT_EQ(1u, parsed.objects.size());
    const CalendarObject& object = parsed.objects[0];
    // The object keeps its rule and only the zone it names.
    EXPECT_NE(std::string::npos, object.text.find("RRULE:FREQ=WEEKLY;COUNT=4\r\n"));
    EXPECT_NE(std::string::npos, object.text.find("TZID:Europe/Berlin\r\n"));
    const std::string master = MasterItemText(object, "a.ics", kNow);
    EXPECT_EQ(0u, master.find("Subject: Weekly\r\nX-Location: \r\n"
                              "X-StartTime: 09:00:00 07 Dec, 2026\r\n"
                              "X-FinishTime: 10:00:00 07 Dec, 2026\r\n"
                              "X-AllDayEvent: 0\r\nX-IsRecurring: 1\r\n"
                              "X-AppointmentUID: weekly@example\r\nX-CVHref: a.ics\r\n"
                              "Date: Tue, 01 Dec 2026 12:00:00 +0000\r\n"
                              "Content-Type: multipart/mixed;\r\n"));
    std::string value;
    ASSERT_TRUE(cv::ItemMessageValue(master, "BODY", &value));  // PR_BODY
    EXPECT_EQ("line one\r\nline two\r\n", value);
    ASSERT_TRUE(cv::ItemMessageValue(master, "VCALENDAR", &value));  // PR_BNP_vCalendar
    EXPECT_EQ(object.text + "\r\n", value);
    // The store's writer, given the same calendar text, makes the same bytes.
    std::string single = master.substr(0, master.find("Content-Type:")) + "\r\nline one\nline two";
    std::string written;
    ASSERT_TRUE(cv::ReplaceItemMessageValue(single, "VCALENDAR", object.text.c_str(), &written));
    EXPECT_EQ(written, MasterItemText(object, "a.ics", kNow));

    const std::string moved = OccurrenceItemText(object, 1, MasterId(object.uid), kNow);
    EXPECT_TRUE(ItemHeader(moved, "x-cvoccurrenceof", &value));
    EXPECT_EQ(MasterId(object.uid), value);
    EXPECT_TRUE(ItemHeader("Subject:  two\r\n", "SUBJECT", &value));
    EXPECT_EQ(" two", value);
    EXPECT_TRUE(ItemHeader(moved, "Date", &value));
    EXPECT_EQ("Tue, 01 Dec 2026 00:00:00 +0000", value);  // no DTSTAMP: the time of the write
    ASSERT_TRUE(cv::ItemMessageValue(moved, "VCALENDAR", &value));
    EXPECT_EQ("", value);
}

TEST(ICalendarItemsTest, HeaderValuesAndDates) {
    EXPECT_EQ("a b  c", HeaderValue("a\tb\r\nc"));
    EXPECT_EQ("x BOUNDARY='y\"", HeaderValue("x BOUNDARY=\"y\""));
    EXPECT_EQ(std::string(1000, 'x'), HeaderValue(std::string(1001, 'x')));
    EXPECT_EQ(std::string(999, 'x'), HeaderValue(std::string(999, 'x') + "\xC3\xA9"));
    int64_t seconds = 0;
    for (int64_t t : {int64_t{-2147483647}, int64_t{0}, int64_t{1796634000}}) {
        EXPECT_TRUE(ParseShortDate(cv::ShortDateText(static_cast<int32_t>(t)), &seconds));
        EXPECT_EQ(t, seconds);
    }
    EXPECT_TRUE(ParseMessageDate("Mon, 07 Dec 2026 10:00:00 +0100", &seconds));
    EXPECT_EQ(1796634000, seconds);
    EXPECT_FALSE(ParseShortDate("09:00 07 Dec", &seconds));
}

TEST(ICalendarExportTest, ObjectsShareTheirZonesAndHostAppointmentsBecomeEvents) {
    SetZone("UTC");
    ParsedCalendar parsed =
        Parse(std::string(kWeekly) + Event("b", "DTSTART;TZID=Europe/Berlin:20261208T100000\n"));
    ASSERT_EQ(2u, parsed.objects.size());
    CalendarWriter writer;
    for (const CalendarObject& o : parsed.objects) EXPECT_TRUE(writer.AddObject(o.text));
    EXPECT_FALSE(writer.AddObject("BEGIN:VCALENDAR\r\nEND:VCALENDAR\r\n"));
    writer.AddAppointment("host1", 1796634000, 1796637600,
                          "Subject: Hi\r\nX-Location: Room\r\n"
                          "Date: Mon, 07 Dec 2026 08:00:00 +0000\r\n\r\nfirst\r\nsecond\r\n");
    const std::string text = writer.Text();
    EXPECT_EQ(text.find("BEGIN:VTIMEZONE"), text.rfind("BEGIN:VTIMEZONE"));
    EXPECT_NE(std::string::npos,
              text.find("UID:host1\r\nDTSTART:20261207T090000Z\r\nDTEND:20261207T100000Z\r\n"
                        "DTSTAMP:20261207T080000Z\r\nSUMMARY:Hi\r\nLOCATION:Room\r\n"
                        "DESCRIPTION:first\\nsecond\\n\r\n"));
    ParsedCalendar again;
    ASSERT_TRUE(ParseCalendar(text, At(kNow), &again));
    ASSERT_EQ(3u, again.objects.size());
    EXPECT_EQ(parsed.objects[0].occurrences.size(), again.objects[0].occurrences.size());
    EXPECT_EQ("first\nsecond\n", again.objects[2].occurrences[0].description);
}

}  // namespace
}  // namespace cvical
