// Win32 side of the seam's clock, dates and time zone: the rules GetTimeZoneInformation reports.
#include "platform/platform.h"

#include <windows.h>

#include <cstring>
#include <ctime>

#include "platform/seam_win32.h"

namespace cv {
using win32::ToFileTime;

FileTime CurrentFileTime() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return ToFileTime(now);
}

uint32_t MonotonicMilliseconds() {
    return GetTickCount();
}

uint32_t FileTimeToDosStamp(FileTime time) {
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(time);
    ft.dwHighDateTime = static_cast<DWORD>(time >> 32);
    WORD date = 0;
    WORD clock = 0;
    if (!FileTimeToDosDateTime(&ft, &date, &clock)) return 0;
    return (static_cast<uint32_t>(date) << 16) | clock;
}

bool LocalDate(int64_t utc_seconds, int* year, int* month, int* day) {
    _tzset();  // the runtime reads TZ (or the system's zone) again
    const __time64_t t = utc_seconds;
    struct tm local;
    if (_localtime64_s(&local, &t) != 0) return false;
    *year = local.tm_year + 1900;
    *month = local.tm_mon + 1;
    *day = local.tm_mday;
    return true;
}

TimeZoneInfo GetTimeZoneInfo() {
    TIME_ZONE_INFORMATION zone;
    TimeZoneInfo info;
    DWORD state = GetTimeZoneInformation(&zone);
    switch (state) {
        case TIME_ZONE_ID_UNKNOWN:
            info.state = TimeZoneInfo::kUnknown;
            break;
        case TIME_ZONE_ID_STANDARD:
            info.state = TimeZoneInfo::kStandard;
            break;
        case TIME_ZONE_ID_DAYLIGHT:
            info.state = TimeZoneInfo::kDaylight;
            break;
        default:
            return info;
    }
    info.bias = zone.Bias;
    info.standard_bias = zone.StandardBias;
    info.daylight_bias = zone.DaylightBias;
    static_assert(sizeof zone.StandardDate == sizeof info.standard_date, "SYSTEMTIME's size");
    std::memcpy(info.standard_date, &zone.StandardDate, sizeof info.standard_date);
    std::memcpy(info.daylight_date, &zone.DaylightDate, sizeof info.daylight_date);
    return info;
}

bool IsDaylightTimeAt(const TimeZoneInfo& info, int64_t utc_seconds) {
    if (info.state != TimeZoneInfo::kStandard && info.state != TimeZoneInfo::kDaylight)
        return false;
    TIME_ZONE_INFORMATION zone = {};
    zone.Bias = info.bias;
    zone.StandardBias = info.standard_bias;
    zone.DaylightBias = info.daylight_bias;
    std::memcpy(&zone.StandardDate, info.standard_date, sizeof zone.StandardDate);
    std::memcpy(&zone.DaylightDate, info.daylight_date, sizeof zone.DaylightDate);
    if (zone.DaylightDate.wMonth == 0 || zone.DaylightBias == zone.StandardBias) return false;
    constexpr int64_t kTicksPerSecond = 10000000;
    constexpr int64_t kEarliest = -static_cast<int64_t>(kFileTimeUnixEpoch / kTicksPerSecond);
    constexpr int64_t kLatest = 28000LL * 365 * 86400;  // well inside what SYSTEMTIME can hold
    if (utc_seconds < kEarliest || utc_seconds > kLatest) return false;
    const uint64_t utc_ticks = kFileTimeUnixEpoch + utc_seconds * kTicksPerSecond;
    FILETIME utc_file;
    utc_file.dwLowDateTime = static_cast<DWORD>(utc_ticks);
    utc_file.dwHighDateTime = static_cast<DWORD>(utc_ticks >> 32);
    SYSTEMTIME utc, local;
    FILETIME local_file;
    if (!FileTimeToSystemTime(&utc_file, &utc) ||
        !SystemTimeToTzSpecificLocalTime(&zone, &utc, &local) ||
        !SystemTimeToFileTime(&local, &local_file)) {
        return false;
    }
    // The system applies the zone's rules; the offset it chose tells which time was in force.
    const int64_t offset_minutes =
        (static_cast<int64_t>(ToFileTime(local_file)) - static_cast<int64_t>(utc_ticks)) /
        (60 * kTicksPerSecond);
    return offset_minutes == -(static_cast<int64_t>(zone.Bias) + zone.DaylightBias);
}
}  // namespace cv
