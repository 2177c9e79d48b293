#include "icalendar/window.h"

namespace cvical {
namespace {

constexpr int64_t kDay = 86400;

// 00:00 UTC of the day that holds the time (before 1970 too).
int64_t DayStart(int64_t seconds) {
    int64_t days = seconds / kDay;
    if (seconds % kDay < 0) --days;
    return days * kDay;
}

}  // namespace

int64_t Window::back_edge() const {
    return DayStart(now) - static_cast<int64_t>(back_days) * kDay;
}

int64_t Window::horizon_edge() const {
    return DayStart(now) + (static_cast<int64_t>(horizon_days) + 1) * kDay;
}

}  // namespace cvical
