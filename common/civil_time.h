// Calendar arithmetic on the proleptic Gregorian calendar with 64-bit integers: every date of every
// time the store can hold, the same in both builds, whatever the platform's time_t.
#pragma once

#include <cstdint>

namespace cv {

// Days since 1970-01-01 of a date (month 1-12).
int64_t DaysFromCivil(int64_t year, int64_t month, int64_t day);

// The UTC date and time of seconds since 1970-01-01 00:00.
struct CivilTime {
    int64_t year;
    int month;  // 1-12
    int day;    // 1-31
    int hour;
    int minute;
    int second;
    int weekday;   // 0 Sunday - 6 Saturday
    int year_day;  // 0-365
};
CivilTime UtcCivilTime(int64_t seconds);

}  // namespace cv
