// POSIX side of the seam's clock, dates and time zone: the C library's zone data.
#include <time.h>

#include <ctime>

#include "platform/platform.h"
#include "platform/seam_posix.h"

namespace cv {

FileTime CurrentFileTime() {
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    return posix::ToFileTime(now);
}

uint32_t MonotonicMilliseconds() {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint32_t>(static_cast<uint64_t>(now.tv_sec) * 1000 +
                                 static_cast<uint64_t>(now.tv_nsec) / 1000000);
}

uint32_t FileTimeToDosStamp(FileTime time) {
    if (time < kFileTimeUnixEpoch) return 0;
    time_t seconds = static_cast<time_t>((time - kFileTimeUnixEpoch) / 10000000);
    struct tm utc;
    if (gmtime_r(&seconds, &utc) == nullptr) return 0;
    int year = utc.tm_year + 1900;
    if (year < 1980 || year > 2107) return 0;
    uint32_t date =
        static_cast<uint32_t>(((year - 1980) << 9) | ((utc.tm_mon + 1) << 5) | utc.tm_mday);
    uint32_t clock =
        static_cast<uint32_t>((utc.tm_hour << 11) | (utc.tm_min << 5) | (utc.tm_sec / 2));
    return (date << 16) | clock;
}

bool LocalDate(int64_t utc_seconds, int* year, int* month, int* day) {
    if (utc_seconds < 0) return false;  // as the Windows runtime
    const time_t t = static_cast<time_t>(utc_seconds);
    if (static_cast<int64_t>(t) != utc_seconds) return false;
    tzset();  // localtime_r need not look at TZ again by itself
    struct tm local;
    if (localtime_r(&t, &local) == nullptr) return false;
    *year = local.tm_year + 1900;
    *month = local.tm_mon + 1;
    *day = local.tm_mday;
    return true;
}

TimeZoneInfo GetTimeZoneInfo() {
    TimeZoneInfo info;
    tzset();
    time_t now = time(nullptr);
    struct tm local;
    if (localtime_r(&now, &local) == nullptr) return info;
    // timezone: seconds west of UTC in standard time, which is the Win32 Bias in seconds.
    info.bias = static_cast<int32_t>(timezone / 60);
    info.standard_bias = 0;
    info.daylight_bias = 0;
    if (daylight) {
        // The zone's daylight shift: compare a daylight instant's offset with standard time. Look
        // at now when it is in daylight time, else half a year on, else a quarter.
        const time_t probes[] = {now, now + 182 * 86400, now + 91 * 86400, now + 273 * 86400};
        for (time_t probe : probes) {
            struct tm t;
            if (localtime_r(&probe, &t) && t.tm_isdst > 0) {
                info.daylight_bias = static_cast<int32_t>(-(t.tm_gmtoff + timezone) / 60);
                break;
            }
        }
    }
    info.state = local.tm_isdst > 0 ? TimeZoneInfo::kDaylight
                                    : (daylight ? TimeZoneInfo::kStandard : TimeZoneInfo::kUnknown);
    return info;
}

bool IsDaylightTimeAt(const TimeZoneInfo&, int64_t utc_seconds) {
    // The zone was read again (tzset) when the snapshot was taken; reading it for every instant
    // would cost a look at the zone file each time.
    const time_t t = static_cast<time_t>(utc_seconds);
    if (static_cast<int64_t>(t) != utc_seconds) return false;  // beyond a narrow time_t
    struct tm local;
    return localtime_r(&t, &local) != nullptr && local.tm_isdst > 0;
}

}  // namespace cv
