#include "host/item_dates.h"

#include <cstdio>
#include <ctime>

#include "common/civil_time.h"
#include "platform/platform.h"

namespace cv {
namespace {

const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                               "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
const char* const kWeekdays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};

}  // namespace

std::string ShortDateText(int32_t seconds) {
    CivilTime f = UtcCivilTime(seconds);
    char text[64];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d %02d %s, %04lld", f.hour, f.minute, f.second,
                  f.day, kMonths[f.month - 1], static_cast<long long>(f.year));
    return text;
}

std::string MessageDateText(int64_t seconds) {
    CivilTime f = UtcCivilTime(seconds);
    char text[64];
    std::snprintf(text, sizeof text, "%s, %02d %s %04lld %02d:%02d:%02d +0000",
                  kWeekdays[f.weekday], f.day, kMonths[f.month - 1], static_cast<long long>(f.year),
                  f.hour, f.minute, f.second);
    return text;
}

std::string LocalPeriodName(int32_t start, int32_t end) {
    int ay = 0, am = 0, ad = 0, by = 0, bm = 0, bd = 0;
    LocalDate(start, &ay, &am, &ad);
    LocalDate(end, &by, &bm, &bd);
    char name[64];
    if (ay != by) {
        std::snprintf(name, sizeof name, "Y");
    } else if (am != bm) {
        std::snprintf(name, sizeof name, "Y%d", ay - 2000);
    } else if (ad != bd) {
        std::snprintf(name, sizeof name, "Y%02dM%02d", ay - 2000, am);
    } else {
        std::snprintf(name, sizeof name, "Y%02dM%02dD%02d", ay - 2000, am, ad);
    }
    return name;
}

bool LocalSeconds(int year, int month, int day, int hour, int minute, int second, int64_t* out) {
    std::tm local = {};
    local.tm_year = year - 1900;
    local.tm_mon = month - 1;
    local.tm_mday = day;
    local.tm_hour = hour;
    local.tm_min = minute;
    local.tm_sec = second;
    local.tm_isdst = -1;
    std::time_t t = std::mktime(&local);
    if (t == static_cast<std::time_t>(-1)) return false;
    *out = static_cast<int64_t>(t);
    return true;
}

}  // namespace cv
