// An iCalendar text taken apart into objects, and each object's appointments: its recurrence set
// (RRULE and RDATE less EXDATE, overrides by RECURRENCE-ID) within bounds that hostile rules
// cannot stretch.
#include <algorithm>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <map>
#include <set>

#include "common/civil_time.h"
#include "common/item_dates.h"
#include "icalendar/libical.h"
#include "icalendar/objects.h"

namespace cvical {
namespace {

constexpr int64_t kDay = 86400;
// How many of its steps (each INTERVAL units of its FREQ) a rule is followed. libical walks a
// rule step by step until its parts match, so a rule that never matches (FREQ=SECONDLY;
// BYMONTHDAY=30;BYMONTH=2) would walk to 2038: 20000 steps of a second are under six hours, of a
// minute two weeks, of an hour two years, of a day fifty years.
constexpr int64_t kRuleSteps = 20000;

bool Fits(int64_t seconds) {
    return seconds >= INT32_MIN && seconds <= INT32_MAX;
}

// Wall-clock fields in the process's zone, as seconds since 1970 (-1 when the system cannot say,
// which the range checks then refuse).
int64_t LocalWall(int year, int month, int day, int hour = 0, int minute = 0, int second = 0) {
    int64_t seconds = -1;
    cv::LocalSeconds(year, month, day, hour, minute, second, &seconds);
    return seconds;
}

// The local midnight that begins a day counted from 1970-01-01.
int64_t LocalDayStart(int64_t days) {
    cv::CivilTime date = cv::UtcCivilTime(days * kDay);
    return LocalWall(static_cast<int>(date.year), date.month, date.day);
}

int64_t DayNumber(const icaltimetype& t) {
    return cv::DaysFromCivil(t.year, t.month, t.day);
}

// A date or date-time value with the zone it is read in (null: floating, the process's zone).
struct ZonedTime {
    icaltimetype time = icaltime_null_time();
    icaltimezone* zone = nullptr;
};

// The zone of a property's value: UTC, else its TZID through the object's own VTIMEZONE, else the
// system's zone of that name, else none.
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

// libical's own sum is an int, which a duration of many weeks overflows.
int64_t DurationSeconds(const icaldurationtype& d) {
    int64_t days = static_cast<int64_t>(d.weeks) * 7 + d.days;
    return ((days * 24 + d.hours) * 60 + d.minutes) * 60 + d.seconds;
}

// An event's own times: start and finish in seconds, and for an all-day event its length in days.
struct Timing {
    ZonedTime start;
    int64_t start_seconds = 0;
    int64_t finish_seconds = 0;
    int64_t days = 0;  // all-day events only
};

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

void TakeTexts(icalcomponent* event, Occurrence* o) {
    o->summary = Text(icalcomponent_get_summary(event));
    o->location = Text(icalcomponent_get_location(event));
    o->description = Text(icalcomponent_get_description(event));
    icaltimetype stamp = icalcomponent_get_dtstamp(event);
    o->stamp = Valid(stamp) ? static_cast<int64_t>(icaltime_as_timet_with_zone(
                                  stamp, icaltimezone_get_utc_timezone()))
                            : -1;
}

// The occurrences of one RRULE, in the zone of the start, until the window's end.
void RuleStarts(icalproperty* p, const ZonedTime& start, int64_t start_seconds, int64_t window_end,
                size_t budget, std::vector<ZonedTime>* out) {
    icalrecurrencetype rule = icalproperty_get_rrule(p);
    if (rule.freq == ICAL_NO_RECURRENCE) return;
    static const int64_t kUnit[] = {1, 60, 3600, kDay, 7 * kDay, 31 * kDay, 366 * kDay};
    int64_t unit = rule.freq <= ICAL_YEARLY_RECURRENCE ? kUnit[rule.freq] : kDay;
    int64_t steps_end = start_seconds + kRuleSteps * unit * std::max<int64_t>(rule.interval, 1);
    // UNTIL stops libical's walk between matches, where COUNT does not: the rule ends at the
    // earlier of its own UNTIL and our bounds (the horizon a day later, for times read in a local
    // zone), and its COUNT is counted here.
    int64_t end = std::min(window_end + kDay, steps_end);
    icaltimetype bound =
        icaltime_from_timet_with_zone(static_cast<time_t>(end), 0, icaltimezone_get_utc_timezone());
    if (icaltime_is_null_time(rule.until) || icaltime_compare(bound, rule.until) < 0) {
        rule.until = bound;
    }
    const int count = rule.count;
    rule.count = 0;
    icaltimetype first = start.time;
    first.zone = start.zone;
    icalrecur_iterator* it = icalrecur_iterator_new(rule, first);
    if (it == nullptr) return;
    for (int n = 0; out->size() < budget && (count <= 0 || n < count); ++n) {
        icaltimetype t = icalrecur_iterator_next(it);
        if (icaltime_is_null_time(t)) break;
        ZonedTime z{t, start.zone};
        if (Seconds(z) > window_end) break;
        out->push_back(z);
    }
    icalrecur_iterator_free(it);
}

// The times of a multi-valued date property (EXDATE, RDATE) in seconds.
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

// Whether libical can expand a VTIMEZONE in reasonable time: it walks every observance rule from
// the observance's DTSTART to the year it needs, so each rule must give at most a day's changes a
// year (FREQ=YEARLY, nothing by the hour, minute or second).
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

struct Candidate {
    int64_t original;  // the start the recurrence set gives, which RECURRENCE-ID names
    int64_t start;
    int64_t finish;
    bool all_day;
    icalcomponent* texts;  // the VEVENT whose texts it takes
};

bool ExpandObject(icalcomponent* calendar, const Window& window, CalendarObject* object,
                  std::string* reason) {
    const size_t most = window.max_occurrences;
    for (icalcomponent* z = icalcomponent_get_first_component(calendar, ICAL_VTIMEZONE_COMPONENT);
         z != nullptr; z = icalcomponent_get_next_component(calendar, ICAL_VTIMEZONE_COMPONENT)) {
        if (!TameZone(z)) {
            *reason = "a VTIMEZONE with a rule that is not yearly";
            return false;
        }
    }
    icalcomponent* master = nullptr;
    std::vector<icalcomponent*> overrides;
    for (icalcomponent* e = icalcomponent_get_first_component(calendar, ICAL_VEVENT_COMPONENT);
         e != nullptr; e = icalcomponent_get_next_component(calendar, ICAL_VEVENT_COMPONENT)) {
        if (icalcomponent_get_first_property(e, ICAL_RECURRENCEID_PROPERTY) != nullptr) {
            overrides.push_back(e);
        } else if (master != nullptr) {
            *reason = "two VEVENTs without RECURRENCE-ID";
            return false;
        } else {
            master = e;
        }
    }
    const int64_t window_end = window.now + window.horizon_days * kDay;
    std::vector<Candidate> list;
    if (master != nullptr) {
        Timing timing;
        if (!EventTiming(calendar, master, &timing)) {
            *reason = "no DTSTART";
            return false;
        }
        std::vector<ZonedTime> starts{timing.start};
        std::vector<ZonedTime> excluded = ListedTimes(calendar, master, ICAL_EXDATE_PROPERTY);
        const size_t budget = most + excluded.size() + 1;
        for (icalproperty* p = icalcomponent_get_first_property(master, ICAL_RRULE_PROPERTY);
             p != nullptr; p = icalcomponent_get_next_property(master, ICAL_RRULE_PROPERTY)) {
            RuleStarts(p, timing.start, timing.start_seconds, window_end, budget, &starts);
        }
        std::vector<ZonedTime> rdates = ListedTimes(calendar, master, ICAL_RDATE_PROPERTY);
        starts.insert(starts.end(), rdates.begin(), rdates.end());
        object->recurring = starts.size() > 1 || !overrides.empty() ||
                            icalcomponent_get_first_property(master, ICAL_RRULE_PROPERTY);
        std::set<int64_t> exclusions;  // and the instances already taken
        for (const ZonedTime& z : excluded) exclusions.insert(Seconds(z));
        for (const ZonedTime& z : starts) {
            int64_t start = Seconds(z);
            // DTSTART comes back from the rule too: each instance once, for its override to
            // replace.
            if (!exclusions.insert(start).second) continue;
            bool all_day = z.time.is_date != 0;
            int64_t days = std::max<int64_t>(timing.days, 1);
            int64_t finish = all_day ? LocalDayStart(DayNumber(z.time) + days) - 1
                                     : start + (timing.finish_seconds - timing.start_seconds);
            list.push_back({start, start, finish, all_day, master});
        }
    } else {
        object->recurring = true;
    }
    for (icalcomponent* e : overrides) {
        Timing timing;
        ZonedTime id;
        if (!EventTiming(calendar, e, &timing) ||
            !PropertyTime(calendar, e, ICAL_RECURRENCEID_PROPERTY, &id)) {
            *reason = "an overridden instance without DTSTART";
            return false;
        }
        Candidate moved{Seconds(id), timing.start_seconds, timing.finish_seconds,
                        timing.start.time.is_date != 0, e};
        auto same = std::find_if(list.begin(), list.end(),
                                 [&](const Candidate& c) { return c.original == moved.original; });
        if (same != list.end()) {
            *same = moved;
        } else {
            list.push_back(moved);
        }
    }
    if (list.empty()) {
        *reason = "every instance is excluded";
        return false;
    }
    std::stable_sort(list.begin(), list.end(),
                     [](const Candidate& a, const Candidate& b) { return a.start < b.start; });
    if (!Fits(list.front().start) || !Fits(list.front().finish)) {
        *reason = "times outside 1901-12-13 to 2038-01-19";
        return false;
    }
    for (const Candidate& c : list) {
        if (object->occurrences.size() >= most) break;
        bool first = object->occurrences.empty();
        if (!first && (c.start > window_end || !Fits(c.start) || !Fits(c.finish) ||
                       c.start == object->occurrences.back().start)) {
            continue;
        }
        Occurrence o;
        o.start = static_cast<int32_t>(c.start);
        o.finish = static_cast<int32_t>(c.finish);
        o.all_day = c.all_day;
        TakeTexts(c.texts, &o);
        object->occurrences.push_back(o);
    }
    return true;
}

// The TZIDs that an event's properties name.
void NamedZones(icalcomponent* event, std::set<std::string>* tzids) {
    for (icalproperty* p = icalcomponent_get_first_property(event, ICAL_ANY_PROPERTY); p != nullptr;
         p = icalcomponent_get_next_property(event, ICAL_ANY_PROPERTY)) {
        icalparameter* parameter = icalproperty_get_first_parameter(p, ICAL_TZID_PARAMETER);
        const char* tzid = parameter != nullptr ? icalparameter_get_tzid(parameter) : nullptr;
        if (tzid != nullptr) tzids->insert(tzid);
    }
}

struct Source {
    icalcomponent* calendar;
    icalcomponent* event;
};

// An object's own VCALENDAR: VERSION, our PRODID, the VTIMEZONEs its events name, then the
// events. Nothing of the file around it is kept, so that an object exported and imported again
// has the same text and is left unchanged.
Component ObjectCalendar(const std::vector<Source>& sources) {
    Component calendar(icalcomponent_new(ICAL_VCALENDAR_COMPONENT));
    icalcomponent_add_property(calendar.get(), icalproperty_new_version("2.0"));
    icalcomponent_add_property(calendar.get(), icalproperty_new_prodid(kProductId));
    std::set<std::string> tzids;
    for (const Source& s : sources) NamedZones(s.event, &tzids);
    for (const Source& s : sources) {
        for (icalcomponent* z =
                 icalcomponent_get_first_component(s.calendar, ICAL_VTIMEZONE_COMPONENT);
             z != nullptr;
             z = icalcomponent_get_next_component(s.calendar, ICAL_VTIMEZONE_COMPONENT)) {
            icalproperty* tzid = icalcomponent_get_first_property(z, ICAL_TZID_PROPERTY);
            if (tzid == nullptr || tzids.erase(Text(icalproperty_get_tzid(tzid))) == 0) continue;
            icalcomponent_add_component(calendar.get(), icalcomponent_new_clone(z));
        }
    }
    for (const Source& s : sources) {
        icalcomponent_add_component(calendar.get(), icalcomponent_new_clone(s.event));
    }
    return calendar;
}

}  // namespace

std::string ComponentText(icalcomponent* component) {
    char* text = icalcomponent_as_ical_string_r(component);
    std::string out = text != nullptr ? text : "";
    std::free(text);
    return out;
}

bool ParseCalendar(const std::string& ics, const Window& window, ParsedCalendar* out) {
    icalerror_set_errors_are_fatal(0);
    Component root(icalparser_parse_string(ics.c_str()));
    if (!root) return false;
    std::vector<icalcomponent*> calendars;
    if (icalcomponent_isa(root.get()) == ICAL_VCALENDAR_COMPONENT) {
        calendars.push_back(root.get());
    } else if (icalcomponent_isa(root.get()) == ICAL_XROOT_COMPONENT) {
        for (icalcomponent* c =
                 icalcomponent_get_first_component(root.get(), ICAL_VCALENDAR_COMPONENT);
             c != nullptr;
             c = icalcomponent_get_next_component(root.get(), ICAL_VCALENDAR_COMPONENT)) {
            calendars.push_back(c);
        }
    }
    if (calendars.empty()) return false;

    std::vector<std::pair<std::string, std::vector<Source>>> groups;
    std::map<std::string, size_t> group_of;
    for (icalcomponent* calendar : calendars) {
        for (icalcomponent* c = icalcomponent_get_first_component(calendar, ICAL_ANY_COMPONENT);
             c != nullptr; c = icalcomponent_get_next_component(calendar, ICAL_ANY_COMPONENT)) {
            icalcomponent_kind kind = icalcomponent_isa(c);
            if (kind == ICAL_VTIMEZONE_COMPONENT) continue;
            if (kind != ICAL_VEVENT_COMPONENT) {
                ++out->ignored;
                continue;
            }
            std::string uid = Text(icalcomponent_get_uid(c));
            if (uid.empty()) {
                out->refused.push_back({"", "no UID"});
                continue;
            }
            auto found = group_of.emplace(uid, groups.size());
            if (found.second) groups.push_back({uid, {}});
            groups[found.first->second].second.push_back({calendar, c});
        }
    }
    for (const auto& group : groups) {
        Component calendar = ObjectCalendar(group.second);
        CalendarObject object;
        object.uid = group.first;
        object.text = ComponentText(calendar.get());
        std::string reason;
        if (ExpandObject(calendar.get(), window, &object, &reason)) {
            out->objects.push_back(std::move(object));
        } else {
            out->refused.push_back({group.first, reason});
        }
    }
    // libical keeps its temporary texts in a ring of the thread's own: given back here, not at
    // the thread's end, which for the main thread never comes.
    icalmemory_free_ring();
    return true;
}

}  // namespace cvical
