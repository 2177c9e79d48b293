// The times of an event as libical gives them, read the way the store keeps them (expansion.cpp,
// span.cpp): zones by the object's VTIMEZONEs, all-day events as local days, floating times as
// local, and the bound of steps that a rule is followed for.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "icalendar/libical.h"

namespace cvical {

constexpr int64_t kDay = 86400;
// How many of its steps (each INTERVAL units of its FREQ) a rule is followed. libical walks a
// rule step by step until its parts match, so a rule that never matches (FREQ=SECONDLY;
// BYMONTHDAY=30;BYMONTH=2) would walk to 2038: 20000 steps of a second are under six hours, of a
// minute two weeks, of an hour two years, of a day fifty years.
constexpr int64_t kRuleSteps = 20000;

// Whether a time fits the store's 32-bit fields.
bool Fits(int64_t seconds);

// Wall-clock fields in the process's zone, as seconds since 1970 (-1 when the system cannot say,
// which the range checks then refuse).
int64_t LocalWall(int year, int month, int day, int hour = 0, int minute = 0, int second = 0);

// The local midnight that begins a day counted from 1970-01-01.
int64_t LocalDayStart(int64_t days);

// The day of a date, counted from 1970-01-01.
int64_t DayNumber(const icaltimetype& t);

// A date or date-time value with the zone it is read in (null: floating, the process's zone).
struct ZonedTime {
    icaltimetype time = icaltime_null_time();
    icaltimezone* zone = nullptr;
};

// The zone of a property's value: UTC, else its TZID through the object's own VTIMEZONE, else the
// system's zone of that name, else none.
icaltimezone* ZoneOf(icalcomponent* calendar, icalproperty* p, const icaltimetype& t);

// A date that libical parsed into something usable.
bool Valid(const icaltimetype& t);

// The first property of that kind as a zoned time; false when it is missing or unusable.
bool PropertyTime(icalcomponent* calendar, icalcomponent* event, icalproperty_kind kind,
                  ZonedTime* out);

// Seconds since 1970: a date at its local midnight, a floating time as local.
int64_t Seconds(const ZonedTime& z);

// libical's own sum is an int, which a duration of many weeks overflows.
int64_t DurationSeconds(const icaldurationtype& d);

// An event's own times: start and finish in seconds, and for an all-day event its length in days.
struct Timing {
    ZonedTime start;
    int64_t start_seconds = 0;
    int64_t finish_seconds = 0;
    int64_t days = 0;  // all-day events only
};

// False when the event has no usable DTSTART.
bool EventTiming(icalcomponent* calendar, icalcomponent* event, Timing* out);

// The times of a multi-valued date property (EXDATE, RDATE); an RDATE period by its start.
std::vector<ZonedTime> ListedTimes(icalcomponent* calendar, icalcomponent* event,
                                   icalproperty_kind kind);

// A rule's step in seconds (a month and a year at their longest), times its INTERVAL: the end of
// kRuleSteps steps after `start` is where a walk of it stops.
int64_t RuleStepsEnd(const icalrecurrencetype& rule, int64_t start);

// Whether libical can expand a VTIMEZONE in reasonable time: it walks every observance rule from
// the observance's DTSTART to the year it needs, so each rule must give at most a day's changes a
// year (FREQ=YEARLY, nothing by the hour, minute or second).
bool TameZone(icalcomponent* zone);

std::string Text(const char* text);

}  // namespace cvical
