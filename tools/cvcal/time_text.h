// Times as a person types and reads them: ISO 8601 ("2026-12-07T09:00", local unless it ends in
// "Z" or an offset such as "+01:00") or seconds since 1970; and the header forms the item files
// use.
#pragma once

#include <cstdint>
#include <string>

namespace cvcal {

// False (with a reason) for text that is neither form or a time outside 1970..2038.
bool ParseTimeArgument(const std::string& text, int32_t* seconds, std::string* reason);

// "2026-12-07 09:00" in local time (seconds shown when not zero).
std::string LocalTimeText(int32_t seconds);

// The item headers' short date form, "09:00:00 07 Dec, 2026", in UTC.
std::string ShortDateText(int32_t seconds);

// A message date, "Mon, 07 Dec 2026 09:00:00 +0000", in UTC.
std::string MessageDateText(int64_t seconds);

}  // namespace cvcal
