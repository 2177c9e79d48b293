#include "tools/cvcal/time_text.h"

#include "common/civil_time.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace cvcal {
namespace {

const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                               "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
const char* const kWeekdays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};

bool Digits(const std::string& text, size_t at, size_t count, int* value) {
    if (at + count > text.size()) return false;
    int v = 0;
    for (size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        v = v * 10 + (text[i] - '0');
    }
    *value = v;
    return true;
}

bool Fits(int64_t value) {
    return value >= 0 && value <= INT32_MAX;
}

}  // namespace

bool ParseTimeArgument(const std::string& text, int32_t* seconds, std::string* reason) {
    // Plain seconds since 1970.
    if (!text.empty() && text.find_first_not_of("0123456789") == std::string::npos) {
        if (text.size() > 10 || !Fits(std::strtoll(text.c_str(), nullptr, 10))) {
            *reason = "seconds out of range";
            return false;
        }
        *seconds = static_cast<int32_t>(std::strtoll(text.c_str(), nullptr, 10));
        return true;
    }
    int year, month, day, hour = 0, minute = 0, second = 0;
    if (!Digits(text, 0, 4, &year) || text.size() < 10 || text[4] != '-' ||
        !Digits(text, 5, 2, &month) || text[7] != '-' || !Digits(text, 8, 2, &day) || month < 1 ||
        month > 12 || day < 1 || day > 31) {
        *reason = "expected YYYY-MM-DD[THH:MM[:SS]][Z|+HH:MM] or seconds since 1970";
        return false;
    }
    size_t at = 10;
    if (at < text.size() && (text[at] == 'T' || text[at] == ' ')) {
        if (!Digits(text, at + 1, 2, &hour) || at + 3 >= text.size() || text[at + 3] != ':' ||
            !Digits(text, at + 4, 2, &minute) || hour > 23 || minute > 59) {
            *reason = "expected a time as HH:MM after the date";
            return false;
        }
        at += 6;
        if (at < text.size() && text[at] == ':') {
            if (!Digits(text, at + 1, 2, &second) || second > 59) {
                *reason = "expected seconds as :SS";
                return false;
            }
            at += 3;
        }
    }
    std::string zone = text.substr(at);
    int64_t fields_as_utc =
        cv::DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
    int64_t value;
    if (zone == "Z" || zone == "z") {
        value = fields_as_utc;
    } else if (!zone.empty()) {
        int offset_hours, offset_minutes = 0;
        bool colon = zone.size() == 6 && zone[3] == ':';
        bool ok = (zone[0] == '+' || zone[0] == '-') && Digits(zone, 1, 2, &offset_hours) &&
                  (zone.size() == 3 || (colon && Digits(zone, 4, 2, &offset_minutes)) ||
                   (zone.size() == 5 && Digits(zone, 3, 2, &offset_minutes)));
        if (!ok) {
            *reason = "expected Z or an offset such as +01:00 after the time";
            return false;
        }
        int offset = (offset_hours * 60 + offset_minutes) * 60;
        value = fields_as_utc - (zone[0] == '-' ? -offset : offset);
    } else {
        std::tm local = {};
        local.tm_year = year - 1900;
        local.tm_mon = month - 1;
        local.tm_mday = day;
        local.tm_hour = hour;
        local.tm_min = minute;
        local.tm_sec = second;
        local.tm_isdst = -1;
        std::time_t t = std::mktime(&local);
        if (t == static_cast<std::time_t>(-1)) {
            *reason = "not a local time this machine can convert";
            return false;
        }
        value = static_cast<int64_t>(t);
    }
    if (!Fits(value)) {
        *reason = "outside 1970-01-01 to 2038-01-19";
        return false;
    }
    *seconds = static_cast<int32_t>(value);
    return true;
}

std::string LocalTimeText(int32_t seconds) {
    std::time_t t = seconds;
    std::tm* local = std::localtime(&t);  // cvcal runs on one thread
    char text[64];
    if (local == nullptr) {
        std::snprintf(text, sizeof text, "%d", seconds);
    } else if (local->tm_sec != 0) {
        std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", local);
    } else {
        std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", local);
    }
    return text;
}

std::string ShortDateText(int32_t seconds) {
    cv::CivilTime f = cv::UtcCivilTime(seconds);
    char text[64];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d %02d %s, %04lld", f.hour, f.minute, f.second,
                  f.day, kMonths[f.month - 1], static_cast<long long>(f.year));
    return text;
}

std::string MessageDateText(int64_t seconds) {
    cv::CivilTime f = cv::UtcCivilTime(seconds);
    char text[64];
    std::snprintf(text, sizeof text, "%s, %02d %s %04lld %02d:%02d:%02d +0000",
                  kWeekdays[f.weekday], f.day, kMonths[f.month - 1], static_cast<long long>(f.year),
                  f.hour, f.minute, f.second);
    return text;
}

}  // namespace cvcal
