// Times as a person types and reads them: ISO 8601 ("2026-12-07T09:00", local unless it ends in
// "Z" or an offset such as "+01:00"), seconds since 1970, or words relative to today ("today",
// "tomorrow", "+7d"); the period names that local dates give; and the header forms the item files
// use.
#pragma once

#include <cstdint>
#include <string>

namespace cvcal {

// What a time without a time of day means: the start of that day, or (for the end of a range,
// which people give as the last day they want) its last second.
enum class DayPart { kStart, kEnd };

// False (with a reason) for text that is neither form, a date that does not exist (2026-02-30),
// an offset beyond 14 hours or a time outside 1970..2038.
bool ParseTimeArgument(const std::string& text, int32_t* seconds, std::string* reason,
                       DayPart part = DayPart::kStart);

// The period file name for a start and an end by their local dates, the dates the library's list
// reads by: "Y", "Y<yy>", "Y<yy>M<mm>" or "Y<yy>M<mm>D<dd>".
std::string LocalPeriodName(int32_t start, int32_t end);

// Local wall-clock fields as seconds since 1970, by the process's zone. mktime moves days past a
// month's end on, which the relative forms rely on. False when the system cannot say.
bool LocalSeconds(int year, int month, int day, int hour, int minute, int second, int64_t* out);

// The local midnight of the day that holds the time (the next day's with days = 1).
int32_t LocalDayStart(int32_t seconds, int days = 0);

// "2026-12-07 09:00" in local time (seconds shown when not zero).
std::string LocalTimeText(int32_t seconds);

// "2026-12-07T09:00:00+01:00": local time with its offset, for programs.
std::string IsoTimeText(int32_t seconds);

// The item headers' short date form, "09:00:00 07 Dec, 2026", in UTC.
std::string ShortDateText(int32_t seconds);

// A message date, "Mon, 07 Dec 2026 09:00:00 +0000", in UTC.
std::string MessageDateText(int64_t seconds);

}  // namespace cvcal
