// The engine on a real store: objects put, replaced, left unchanged, refused and deleted; a busy
// period changing nothing; the window rolled on; spans in an export.
#include "icalendar/engine.h"

#include <cstdlib>
#include <ctime>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "platform/platform.h"
#include "store/appointments.h"
#include "tests/support/diagnostics.h"
#include "tests/support/records.h"
#include "tests/support/test_store.h"

namespace cvical {
namespace {

using cv::testing::PathExists;
using cv::testing::ReadFileOrEmpty;
using cv::testing::WriteFileBytes;

constexpr int64_t kNow = 1796083200;  // 2026-12-01 00:00 UTC
constexpr int64_t kDay = 86400;
constexpr int32_t kDec7 = 1796634000;  // 2026-12-07 09:00 UTC, a Monday

std::string Calendar(const std::string& events) {
    return "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//t//EN\r\n" + events + "END:VCALENDAR\r\n";
}

std::string Event(const std::string& uid, const std::string& lines) {
    return "BEGIN:VEVENT\r\nUID:" + uid + "\r\nDTSTAMP:20261201T000000Z\r\n" + lines +
           "END:VEVENT\r\n";
}

std::string Weekly(const std::string& count, const std::string& summary) {
    return Event("weekly@example",
                 "DTSTART:20261207T090000Z\r\nDURATION:PT1H\r\n"
                 "RRULE:FREQ=WEEKLY" +
                     count + "\r\nSUMMARY:" + summary + "\r\n");
}

Window At(int64_t now, int back = kDefaultBackDays, int horizon = kDefaultHorizonDays) {
    Window window;
    window.now = now;
    window.back_days = back;
    window.horizon_days = horizon;
    return window;
}

class EngineTest : public ::testing::Test {
  protected:
    EngineTest() : folder_(store_.CreateMailbox("po", "anna")) {
        setenv("TZ", "UTC", 1);  // period names come from local dates
        tzset();
        store_.registry().SetWaits(0);
        std::string error;
        EXPECT_TRUE(MailboxCalendar::Open("po", "anna", &calendar_, &error)) << error;
    }

    CalendarObject Object(const std::string& text, const Window& window) {
        ParsedCalendar parsed;
        EXPECT_TRUE(ParseCalendar(text, window, &parsed));
        EXPECT_EQ(1u, parsed.objects.size());
        return parsed.objects.empty() ? CalendarObject() : parsed.objects[0];
    }
    PutResult Put(const std::string& events, const Window& window = At(kNow),
                  const std::string& href = "") {
        return PutObject(calendar_, Object(Calendar(events), window), href, window);
    }
    // Every line as (id, period, start), in the order of their ids.
    std::vector<std::tuple<std::string, std::string, int32_t>> Lines() const {
        std::vector<std::tuple<std::string, std::string, int32_t>> lines;
        const WalkedLines walked(calendar_);
        for (const StoredLine& l : walked.lines()) {
            lines.emplace_back(l.id, l.period, l.start);
        }
        return lines;
    }
    // The Calendar folder's files and their bytes.
    std::map<std::string, std::string> Files() const {
        std::map<std::string, std::string> files;
        for (const std::string& name : calendar_.ItemNamesBeginning("")) {
            files[name] = ReadFileOrEmpty(folder_ + "\\" + name);
        }
        return files;
    }
    std::string Item(const std::string& id) const {
        std::string bytes;
        calendar_.ReadItem(id, &bytes);
        return bytes;
    }

    cv::testing::TestStore store_;
    std::string folder_;
    MailboxCalendar calendar_;
};

TEST_F(EngineTest, PutReplaceUnchangedRefusedAndDelete) {
    const std::string m = MasterId("weekly@example");
    auto occurrence = [&](int weeks) { return OccurrenceId(m, kDec7 + weeks * 7 * kDay); };
    EXPECT_EQ(PutOutcome::kAdded, Put(Weekly(";COUNT=4", "Weekly"), At(kNow), "w.ics").outcome);
    EXPECT_EQ((std::vector<std::tuple<std::string, std::string, int32_t>>{
                  {m, "Y26M12D07", kDec7},
                  {occurrence(1), "Y26M12D14", kDec7 + 7 * kDay},
                  {occurrence(2), "Y26M12D21", kDec7 + 14 * kDay},
                  {occurrence(3), "Y26M12D28", kDec7 + 21 * kDay}}),
              Lines());
    EXPECT_NE(std::string::npos, Item(m).find("X-CVHref: w.ics\r\n"));

    // The same text again, a day later: nothing is written.
    const auto before = Files();
    EXPECT_EQ(PutOutcome::kUnchanged, Put(Weekly(";COUNT=4", "Weekly"), At(kNow + kDay)).outcome);
    EXPECT_EQ(before, Files());

    // Changed: every occurrence is the new one's, the last is gone, the name stays.
    EXPECT_EQ(PutOutcome::kReplaced, Put(Weekly(";COUNT=3", "Changed")).outcome);
    EXPECT_EQ(3u, Lines().size());
    EXPECT_FALSE(PathExists(folder_ + "\\" + occurrence(3)));
    EXPECT_NE(std::string::npos, Item(occurrence(2)).find("Subject: Changed\r\n"));
    EXPECT_NE(std::string::npos, Item(m).find("X-CVHref: w.ics\r\n"));

    // A host's appointment sent back under its id is replaced, not doubled.
    ASSERT_EQ(1, cv::AddAppointment(
                     cv::testing::MakeRequest("h1", kDec7, kDec7 + 60, "Y26M12D07", "anna", "po")));
    ASSERT_TRUE(WriteFileBytes(folder_ + "\\h1", "Subject: Host\r\n\r\nbody"));
    EXPECT_EQ(PutOutcome::kReplaced, Put(Event("h1", "DTSTART:20261208T090000Z\r\n")).outcome);
    EXPECT_FALSE(PathExists(folder_ + "\\h1"));
    for (const auto& line : Lines()) EXPECT_NE("h1", std::get<0>(line));

    // An item of the master id that belongs to another UID is never overwritten.
    const std::string taken = folder_ + "\\" + MasterId("u");
    ASSERT_TRUE(WriteFileBytes(taken, "X-AppointmentUID: someone else\r\n\r\n"));
    PutResult refused = Put(Event("u", "DTSTART:20261208T090000Z\r\n"));
    EXPECT_EQ(PutOutcome::kRefused, refused.outcome);
    EXPECT_NE(std::string::npos, refused.reason.find("another appointment"));
    EXPECT_EQ("X-AppointmentUID: someone else\r\n\r\n", ReadFileOrEmpty(taken));

    EXPECT_EQ(DeleteOutcome::kNotFound, DeleteObject(calendar_, occurrence(1)));
    EXPECT_EQ(DeleteOutcome::kDeleted, DeleteObject(calendar_, m));
    EXPECT_EQ(1u, Lines().size());  // h1's object is left
    EXPECT_TRUE(calendar_.ItemNamesBeginning(m).empty());
    EXPECT_EQ(DeleteOutcome::kNotFound, DeleteObject(calendar_, m));
}

// A period that cannot be had (a blocking file that cannot be broken) leaves the calendar as it
// was, for a put and for a delete alike.
TEST_F(EngineTest, ABusyPeriodChangesNothing) {
    ASSERT_EQ(PutOutcome::kAdded, Put(Weekly(";COUNT=4", "Weekly")).outcome);
    const WalkedLines lines(calendar_);  // read before, so that no reader waits for the period
    ASSERT_TRUE(cv::MakeDirectory((folder_ + "\\Y26M12D28.BLK").c_str()));
    const auto before = Files();
    cv::testing::KeptDiagnostics quiet;  // the store names the blocking file it cannot remove
    EXPECT_EQ(PutOutcome::kBusy,
              PutObject(calendar_, Object(Calendar(Weekly(";COUNT=3", "Changed")), At(kNow)), "",
                        At(kNow), &lines)
                  .outcome);
    EXPECT_EQ(DeleteOutcome::kBusy, DeleteObject(calendar_, MasterId("weekly@example"), &lines));
    EXPECT_EQ(before, Files());
    cv::RemoveFolder((folder_ + "\\Y26M12D28.BLK").c_str());
}

// Imported today and rolled a year later, an endless weekly object has the instances of a year
// later, and none of those before the back edge; a second roll writes nothing.
TEST_F(EngineTest, RollMovesTheOccurrencesOnAndIsIdempotent) {
    const Window today = At(kNow, 7, 30);
    ASSERT_EQ(PutOutcome::kAdded, Put(Weekly("", "Weekly"), today).outcome);
    EXPECT_EQ(4u, Lines().size());  // 12-07 (the master), 12-14, 12-21, 12-28
    RollResult same = RollCalendar(calendar_, today);
    EXPECT_EQ(0, same.objects);

    const Window later = At(kNow + 365 * kDay, 7, 30);  // 2027-12-01
    RollResult rolled = RollCalendar(calendar_, later);
    EXPECT_EQ(1, rolled.objects);
    EXPECT_EQ(5, rolled.added);    // 2027-11-29 to 12-27
    EXPECT_EQ(3, rolled.removed);  // 2026-12-14 to 12-28
    std::vector<int32_t> starts;
    for (const auto& line : Lines()) starts.push_back(std::get<2>(line));
    std::sort(starts.begin(), starts.end());
    const int32_t nov29 = kDec7 + 51 * 7 * kDay;
    EXPECT_EQ((std::vector<int32_t>{kDec7, nov29, nov29 + 7 * kDay, nov29 + 14 * kDay,
                                    nov29 + 21 * kDay, nov29 + 28 * kDay}),
              starts);
    EXPECT_EQ(6u, calendar_.ItemNamesBeginning(MasterId("weekly@example")).size());

    const auto before = Files();
    RollResult again = RollCalendar(calendar_, later);
    EXPECT_EQ(0, again.objects + again.added + again.removed + again.busy + again.failed);
    EXPECT_EQ(before, Files());
}

// A recurring object whose first instance lies beyond the horizon has one line, and is still
// exported for a range its later instances meet.
TEST_F(EngineTest, ExportFindsRecurringObjectsByTheirSpans) {
    ASSERT_EQ(PutOutcome::kAdded,
              Put(Event("y", "DTSTART:20270116T100000Z\r\nRRULE:FREQ=YEARLY;COUNT=3\r\n"),
                  At(kNow, 7, 30))
                  .outcome);
    ASSERT_EQ(1u, Lines().size());
    ASSERT_EQ(1, cv::AddAppointment(cv::testing::MakeRequest("h1", 1861920000, 1861923600,
                                                             "Y29M01D01", "anna", "po")));
    int objects = 0;
    std::string text = ExportCalendar(calendar_, 1861920000, 1864598400, &objects);  // 2029-01
    EXPECT_EQ(2, objects);
    EXPECT_NE(std::string::npos, text.find("RRULE:FREQ=YEARLY;COUNT=3"));
    EXPECT_NE(std::string::npos, text.find("UID:h1\r\n"));
    ExportCalendar(calendar_, 1864598400, 1893456000, &objects);  // 2029-02 to 2029-12
    EXPECT_EQ(0, objects);
}

}  // namespace
}  // namespace cvical
