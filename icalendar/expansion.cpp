// An iCalendar text taken apart into objects, and each object's appointments: its recurrence set
// (RRULE and RDATE less EXDATE, overrides by RECURRENCE-ID) within the window, and within bounds
// that hostile rules cannot stretch.
#include <algorithm>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <map>
#include <set>

#include "common/civil_time.h"
#include "host/item_dates.h"
#include "icalendar/event_times.h"
#include "icalendar/libical.h"
#include "icalendar/objects.h"

namespace cvical {
namespace {

void TakeTexts(icalcomponent* event, Occurrence* o) {
    o->summary = Text(icalcomponent_get_summary(event));
    o->location = Text(icalcomponent_get_location(event));
    o->description = Text(icalcomponent_get_description(event));
    icaltimetype stamp = icalcomponent_get_dtstamp(event);
    o->stamp = Valid(stamp) ? static_cast<int64_t>(icaltime_as_timet_with_zone(
                                  stamp, icaltimezone_get_utc_timezone()))
                            : -1;
}

// The starts of one RRULE, in the zone of the start, walked from DTSTART: the first `leading`
// wherever they lie (the object's first instance is among them, whatever EXDATE and overrides take
// away), then those that begin in [from, until), at most `budget` of those.
void RuleStarts(icalproperty* p, const ZonedTime& start, int64_t start_seconds, int64_t from,
                int64_t until, size_t leading, size_t budget, std::vector<ZonedTime>* out) {
    icalrecurrencetype rule = icalproperty_get_rrule(p);
    if (rule.freq == ICAL_NO_RECURRENCE) return;
    // UNTIL stops libical's walk between matches, where COUNT does not: the rule ends at the
    // earlier of its own UNTIL and our bounds (the window's end a day later, for times read in a
    // local zone), and its COUNT is counted here.
    int64_t end = std::min(until + kDay, RuleStepsEnd(rule, start_seconds));
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
    size_t inside = 0;
    for (size_t n = 0;
         (count <= 0 || n < static_cast<size_t>(count)) && (n < leading || inside < budget); ++n) {
        icaltimetype t = icalrecur_iterator_next(it);
        if (icaltime_is_null_time(t)) break;
        ZonedTime z{t, start.zone};
        int64_t seconds = Seconds(z);
        if (seconds >= until) break;
        bool in_window = seconds >= from && inside < budget;
        if (in_window) ++inside;
        if (in_window || n < leading) out->push_back(z);
    }
    icalrecur_iterator_free(it);
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
    const int64_t from = window.back_edge(), until = window.horizon_edge();
    std::vector<Candidate> list;
    if (master != nullptr) {
        Timing timing;
        if (!EventTiming(calendar, master, &timing)) {
            *reason = "no DTSTART";
            return false;
        }
        std::vector<ZonedTime> starts{timing.start};
        std::vector<ZonedTime> excluded = ListedTimes(calendar, master, ICAL_EXDATE_PROPERTY);
        // Enough instances that the first of the set is among them, and enough in the window
        // that the most it may hold are left once exclusions and overrides have taken theirs.
        const size_t leading = excluded.size() + overrides.size() + 1;
        const size_t budget = most + excluded.size() + overrides.size();
        for (icalproperty* p = icalcomponent_get_first_property(master, ICAL_RRULE_PROPERTY);
             p != nullptr; p = icalcomponent_get_next_property(master, ICAL_RRULE_PROPERTY)) {
            RuleStarts(p, timing.start, timing.start_seconds, from, until, leading, budget,
                       &starts);
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
    // The first instance carries the object wherever it lies; the others are those that begin
    // in the window.
    for (const Candidate& c : list) {
        if (object->occurrences.size() >= std::max<size_t>(most, 1)) break;
        bool first = object->occurrences.empty();
        if (!first && (c.start < from || c.start >= until || !Fits(c.start) || !Fits(c.finish) ||
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
