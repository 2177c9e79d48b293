// Times as a person types and reads them: ISO 8601 ("2026-12-07T09:00", local unless it ends in
// "Z" or an offset such as "+01:00"), seconds since 1970, or words relative to today ("today",
// "tomorrow", "+7d". The period names and item header dates are host/item_dates.h.
#pragma once

#include <cstdint>
#include <string>

namespace cvcal {

// What a time without a time of day means: the start of that day, or (for the end of a range,
// which people give as the last day they want) its last second.
enum class DayPart { kStart, kEnd };

// False (with a reason) for text that is neither form, a date that does not exist (2026-02-30),
// an offset beyond 14 hours or a time outside 1970..2038.
bool ParseTimeArgument(const std::string& text, int32_t* seconds, std::string* reason,
                       DayPart part = DayPart::kStart);

// The local midnight of the day that holds the time (the next day's with days = 1).
int32_t LocalDayStart(int32_t seconds, int days = 0);

// "2026-12-07 09:00" in local time (seconds shown when not zero).
std::string LocalTimeText(int32_t seconds);

// "2026-12-07T09:00:00+01:00": local time with its offset, for programs.
std::string IsoTimeText(int32_t seconds);

}  // namespace cvcal
