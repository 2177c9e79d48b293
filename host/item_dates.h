// The dates that item files and period names are made of, for the hosts that write appointments
// the way the mail server's own hosts do (cvcal, the iCalendar engine): the item headers' UTC
// forms and the period names of local dates.
#pragma once

#include <cstdint>
#include <string>

namespace cv {

// The item headers' short date form, "09:00:00 07 Dec, 2026", in UTC.
std::string ShortDateText(int32_t seconds);

// A message date, "Mon, 07 Dec 2026 09:00:00 +0000", in UTC.
std::string MessageDateText(int64_t seconds);

// The period file name for a start and an end by their local dates, the dates the library's list
// reads by: "Y", "Y<yy>", "Y<yy>M<mm>" or "Y<yy>M<mm>D<dd>".
std::string LocalPeriodName(int32_t start, int32_t end);

// Local wall-clock fields as seconds since 1970, by the process's zone. mktime moves days past a
// month's end on, which callers that count days rely on. False when the system cannot say.
bool LocalSeconds(int year, int month, int day, int hour, int minute, int second, int64_t* out);

}  // namespace cv
