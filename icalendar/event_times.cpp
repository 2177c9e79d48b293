#include "icalendar/event_times.h"

#include <algorithm>
#include <climits>

#include "common/civil_time.h"
#include "host/item_dates.h"

namespace cvical {

bool Fits(int64_t seconds) {
    return seconds >= INT32_MIN && seconds <= INT32_MAX;
}

int64_t LocalWall(int year, int month, int day, int hour, int minute, int second) {
    int64_t seconds = -1;
    cv::LocalSeconds(year, month, day, hour, minute, second, &seconds);
    return seconds;
}

int64_t LocalDayStart(int64_t days) {
    cv::CivilTime date = cv::UtcCivilTime(days * kDay);
    return LocalWall(static_cast<int>(date.year), date.month, date.day);
}

int64_t DayNumber(const icaltimetype& t) {
    return cv::DaysFromCivil(t.year, t.month, t.day);
}

icaltimezone* ZoneOf(icalcomponent* calendar, icalproperty* p, const icaltimetype& t) {
    if (icaltime_is_utc(t)) return icaltimezone_get_utc_timezone();
    icalparameter* parameter = icalproperty_get_first_parameter(p, ICAL_TZID_PARAMETER);
    const char* tzid = parameter != nullptr ? icalparameter_get_tzid(parameter) : nullptr;
    if (tzid == nullptr || tzid[0] == '\0') return nullptr;
    icaltimezone* zone = icalcomponent_get_timezone(calendar, tzid);
    return zone != nullptr ? zone : icaltimezone_get_builtin_timezone(tzid);
}

bool Valid(const icaltimetype& t) {
    return !icaltime_is_null_time(t) && t.year > 0 && t.month >= 1 && t.month <= 12 && t.day >= 1 &&
           t.day <= 31;
}

bool PropertyTime(icalcomponent* calendar, icalcomponent* event, icalproperty_kind kind,
                  ZonedTime* out) {
    icalproperty* p = icalcomponent_get_first_property(event, kind);
    if (p == nullptr || icalproperty_get_value(p) == nullptr) return false;
    icaltimetype t = icalvalue_get_datetime(icalproperty_get_value(p));
    if (!Valid(t)) return false;
    out->time = t;
    out->zone = ZoneOf(calendar, p, t);
    return true;
}

int64_t Seconds(const ZonedTime& z) {
    const icaltimetype& t = z.time;
    if (t.is_date) return LocalWall(t.year, t.month, t.day);
    if (z.zone != nullptr) return static_cast<int64_t>(icaltime_as_timet_with_zone(t, z.zone));
    return LocalWall(t.year, t.month, t.day, t.hour, t.minute, t.second);
}

int64_t DurationSeconds(const icaldurationtype& d) {
    int64_t days = static_cast<int64_t>(d.weeks) * 7 + d.days;
    return ((days * 24 + d.hours) * 60 + d.minutes) * 60 + d.seconds;
}

bool EventTiming(icalcomponent* calendar, icalcomponent* event, Timing* out) {
    if (!PropertyTime(calendar, event, ICAL_DTSTART_PROPERTY, &out->start)) return false;
    ZonedTime end;
    bool has_end = PropertyTime(calendar, event, ICAL_DTEND_PROPERTY, &end);
    icalproperty* duration_property =
        icalcomponent_get_first_property(event, ICAL_DURATION_PROPERTY);
    icaldurationtype duration = duration_property != nullptr
                                    ? icalproperty_get_duration(duration_property)
                                    : icaldurationtype_null_duration();
    out->start_seconds = Seconds(out->start);
    if (out->start.time.is_date) {
        // Local days, DTEND exclusive: from the first day's midnight to the last day's end.
        int64_t first = DayNumber(out->start.time);
        int64_t past = first + 1;
        if (has_end) {
            past = DayNumber(end.time);
        } else if (duration_property != nullptr && !duration.is_neg) {
            past = first + DurationSeconds(duration) / kDay;
        }
        // Longer than the store's whole range: enough to be refused, short enough for mktime.
        out->days = std::min<int64_t>(std::max<int64_t>(past - first, 1), 100000);
        out->finish_seconds = LocalDayStart(first + out->days) - 1;
        return true;
    }
    out->finish_seconds = out->start_seconds;
    if (has_end) {
        out->finish_seconds = Seconds(end);
    } else if (duration_property != nullptr && !duration.is_neg) {
        out->finish_seconds += DurationSeconds(duration);
    }
    out->finish_seconds = std::max(out->finish_seconds, out->start_seconds);
    return true;
}

std::string Text(const char* text) {
    return text != nullptr ? text : "";
}

std::vector<ZonedTime> ListedTimes(icalcomponent* calendar, icalcomponent* event,
                                   icalproperty_kind kind) {
    std::vector<ZonedTime> times;
    for (icalproperty* p = icalcomponent_get_first_property(event, kind); p != nullptr;
         p = icalcomponent_get_next_property(event, kind)) {
        icaltimetype t = kind == ICAL_EXDATE_PROPERTY ? icalproperty_get_exdate(p)
                                                      : icalproperty_get_rdate(p).time;
        if (kind == ICAL_RDATE_PROPERTY && icaltime_is_null_time(t)) {
            t = icalproperty_get_rdate(p).period.start;
        }
        if (Valid(t)) times.push_back({t, ZoneOf(calendar, p, t)});
    }
    return times;
}

int64_t RuleStepsEnd(const icalrecurrencetype& rule, int64_t start) {
    static const int64_t kUnit[] = {1, 60, 3600, kDay, 7 * kDay, 31 * kDay, 366 * kDay};
    int64_t unit = rule.freq <= ICAL_YEARLY_RECURRENCE ? kUnit[rule.freq] : kDay;
    return start + kRuleSteps * unit * std::max<int64_t>(rule.interval, 1);
}

bool TameZone(icalcomponent* zone) {
    for (icalcomponent* o = icalcomponent_get_first_component(zone, ICAL_ANY_COMPONENT);
         o != nullptr; o = icalcomponent_get_next_component(zone, ICAL_ANY_COMPONENT)) {
        for (icalproperty* p = icalcomponent_get_first_property(o, ICAL_RRULE_PROPERTY);
             p != nullptr; p = icalcomponent_get_next_property(o, ICAL_RRULE_PROPERTY)) {
            icalrecurrencetype rule = icalproperty_get_rrule(p);
            if (rule.freq != ICAL_YEARLY_RECURRENCE ||
                rule.by_second[0] != ICAL_RECURRENCE_ARRAY_MAX ||
                rule.by_minute[0] != ICAL_RECURRENCE_ARRAY_MAX ||
                rule.by_hour[0] != ICAL_RECURRENCE_ARRAY_MAX) {
                return false;
            }
        }
    }
    return true;
}

}  // namespace cvical
