// An object's span: from its first instance to the finish of its last, read from its rules, so
// that an object whose stored lines are few (the window cuts them) is still found by time.
#include "icalendar/span.h"

#include <cstdlib>
#include <ctime>
#include <string>

#include <gtest/gtest.h>

namespace cvical {
namespace {

TEST(ObjectSpanTest, ReachesTheLastInstanceOfEachKindOfRecurrence) {
    setenv("TZ", "UTC", 1);  // for the all-day event's local days
    tzset();
    const int64_t kDec2 = 1796202000;  // 2026-12-02 09:00 UTC
    struct Row {
        const char* name;
        std::string events;
        int64_t start, end;
    } rows[] = {
        {"yearly, its first instance beyond any horizon",
         "DTSTART:20270116T100000Z\nDTEND:20270116T110000Z\nRRULE:FREQ=YEARLY;COUNT=3\n",
         1800093600, 1863255600},
        {"weekly, two instances",
         "DTSTART:20300107T100000Z\nDURATION:PT1H\nRRULE:FREQ=WEEKLY;COUNT=2\n", 1894010400,
         1894618800},
        {"UNTIL, not walked", "DTSTART:20261202T090000Z\nRRULE:FREQ=DAILY;UNTIL=20261211T090000Z\n",
         kDec2, kDec2 + 9 * 86400},
        {"endless", "DTSTART:20261202T090000Z\nRRULE:FREQ=WEEKLY\n", kDec2, kOpenEnd},
        {"a COUNT that the bound of steps cuts",
         "DTSTART:20261202T090000Z\nRRULE:FREQ=SECONDLY;BYMONTH=2;BYMONTHDAY=30;COUNT=5\n", kDec2,
         kOpenEnd},
        {"RDATEs before and after",
         "DTSTART:20261202T090000Z\nRDATE:20261201T090000Z\n"
         "RDATE:20261220T090000Z\n",
         kDec2 - 86400, kDec2 + 18 * 86400},
        {"an override moved out past the rule",
         "DTSTART:20261202T090000Z\nDURATION:PT1H\nRRULE:FREQ=DAILY;COUNT=2\nEND:VEVENT\n"
         "BEGIN:VEVENT\nUID:s\nRECURRENCE-ID:20261203T090000Z\nDTSTART:20270201T100000Z\n"
         "DTEND:20270201T110000Z\n",
         kDec2, 1801479600},
        {"all day, its local days (and an hour for a change of the clocks)",
         "DTSTART;VALUE=DATE:20261209\nDTEND;VALUE=DATE:20261211\n", 1796774400,
         1796774400 + 2 * 86400 - 1 + 3600},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        CalendarObject object;
        object.text = "BEGIN:VCALENDAR\nBEGIN:VEVENT\nUID:s\n" + row.events + "END:VEVENT\n" +
                      "END:VCALENDAR\n";
        Span span = ObjectSpan(object);
        EXPECT_EQ(row.start, span.start);
        EXPECT_EQ(row.end, span.end);
    }
}

}  // namespace
}  // namespace cvical
