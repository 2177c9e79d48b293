#include "icalendar/span.h"

namespace cvical {

// For now the widest answer that is never wrong: from the first occurrence on, open.
Span ObjectSpan(const CalendarObject& object) {
    if (object.occurrences.empty()) return {};
    return {object.occurrences.front().start, kOpenEnd};
}

}  // namespace cvical
