// The times an object's instances can cover, for the catalogue's time-range queries: a recurring
// object may have a single stored line (its first instance beyond the horizon, or only its first
// within it), so its lines alone cannot tell which ranges it meets.
#pragma once

#include <cstdint>
#include <string>

#include "icalendar/objects.h"

namespace cvical {

constexpr int64_t kOpenEnd = INT64_MAX;

struct Span {
    int64_t start = 0;
    int64_t end = 0;  // kOpenEnd for a rule without COUNT or UNTIL
};

// From the first instance's start to the finish of the last (RRULE COUNT or UNTIL, RDATEs,
// overrides), open when a rule has neither. An UNTIL rule is not walked: its span ends at UNTIL
// plus the event's length. A COUNT rule is walked within the expansion's bound of steps, and is
// open when that bound is hit. Only the object's text is read; an object whose text holds no
// event spans its first occurrence, or nothing ({0, 0}) when it has none.
Span ObjectSpan(const CalendarObject& object);

}  // namespace cvical
