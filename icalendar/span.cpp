// An object's span, read from its text: the rules' ends are found from COUNT and UNTIL rather
// than from the occurrences stored, which the window cuts.
#include "icalendar/span.h"

#include <algorithm>

#include "icalendar/event_times.h"
#include "icalendar/libical.h"

namespace cvical {
namespace {

// Where the last start of one RRULE can lie: its UNTIL, or its COUNT-th instance found within the
// bound of steps; kOpenEnd for a rule with neither, or whose walk meets the bound.
int64_t RuleLastStart(icalproperty* p, const ZonedTime& start, int64_t start_seconds) {
    icalrecurrencetype rule = icalproperty_get_rrule(p);
    if (rule.freq == ICAL_NO_RECURRENCE) return start_seconds;
    if (!icaltime_is_null_time(rule.until)) {
        ZonedTime until{rule.until,
                        icaltime_is_utc(rule.until) ? icaltimezone_get_utc_timezone() : start.zone};
        // A date names its whole day.
        return std::max(start_seconds, Seconds(until) + (rule.until.is_date ? kDay : 0));
    }
    if (rule.count <= 0) return kOpenEnd;
    const int64_t steps_end = RuleStepsEnd(rule, start_seconds);
    // As in the expansion: libical's walk is stopped between matches by an UNTIL of ours.
    rule.until = icaltime_from_timet_with_zone(static_cast<time_t>(steps_end), 0,
                                               icaltimezone_get_utc_timezone());
    const int count = rule.count;
    rule.count = 0;
    icaltimetype first = start.time;
    first.zone = start.zone;
    icalrecur_iterator* it = icalrecur_iterator_new(rule, first);
    if (it == nullptr) return start_seconds;
    int64_t last = start_seconds;
    int n = 0;
    for (; n < count && n < kRuleSteps; ++n) {
        icaltimetype t = icalrecur_iterator_next(it);
        if (icaltime_is_null_time(t)) break;
        last = Seconds(ZonedTime{t, start.zone});
    }
    icalrecur_iterator_free(it);
    return n < count ? kOpenEnd : last;
}

// Widens the span by one event: its own times, and for a master its rules and RDATEs.
void AddEvent(icalcomponent* calendar, icalcomponent* event, bool master, Span* span, bool* any) {
    Timing timing;
    if (!EventTiming(calendar, event, &timing)) return;
    const int64_t length = timing.finish_seconds - timing.start_seconds;
    int64_t first = timing.start_seconds, last = timing.start_seconds;
    if (master) {
        for (const ZonedTime& z : ListedTimes(calendar, event, ICAL_RDATE_PROPERTY)) {
            first = std::min(first, Seconds(z));
            last = std::max(last, Seconds(z));
        }
        for (icalproperty* p = icalcomponent_get_first_property(event, ICAL_RRULE_PROPERTY);
             p != nullptr; p = icalcomponent_get_next_property(event, ICAL_RRULE_PROPERTY)) {
            last = std::max(last, RuleLastStart(p, timing.start, timing.start_seconds));
        }
    }
    // An all-day instance's days are local: a day longer or shorter than the first for a change
    // of the clocks between them.
    const int64_t end = last == kOpenEnd ? kOpenEnd : last + length + (timing.days ? 3600 : 0);
    span->start = *any ? std::min(span->start, first) : first;
    span->end = *any ? std::max(span->end, end) : end;
    *any = true;
}

}  // namespace

Span ObjectSpan(const CalendarObject& object) {
    icalerror_set_errors_are_fatal(0);
    Component calendar(icalparser_parse_string(object.text.c_str()));
    Span span;
    bool any = false;
    if (calendar && icalcomponent_isa(calendar.get()) == ICAL_VCALENDAR_COMPONENT) {
        for (icalcomponent* e =
                 icalcomponent_get_first_component(calendar.get(), ICAL_VEVENT_COMPONENT);
             e != nullptr;
             e = icalcomponent_get_next_component(calendar.get(), ICAL_VEVENT_COMPONENT)) {
            bool master =
                icalcomponent_get_first_property(e, ICAL_RECURRENCEID_PROPERTY) == nullptr;
            AddEvent(calendar.get(), e, master, &span, &any);
        }
    }
    icalmemory_free_ring();
    if (any || object.occurrences.empty()) return span;
    return {object.occurrences.front().start, object.occurrences.front().finish};
}

}  // namespace cvical
