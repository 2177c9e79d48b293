#include "tools/cvcal/time_text.h"

#include "common/civil_time.h"
#include "host/item_dates.h"
#include "platform/platform.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace cvcal {
namespace {

constexpr int kMaxOffsetMinutes = 14 * 60;  // the widest offset any zone uses

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

int DaysInMonth(int year, int month) {
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : kDays[month - 1];
}

// "today", "tomorrow", "yesterday", "now", "+7d", "-2w", "+3h": false when the text is none of
// them. Days and weeks count whole local days from today, so "--to +7d" takes in all of that day.
bool RelativeTime(const std::string& text, DayPart part, int64_t* value) {
    std::time_t now_t = std::time(nullptr);
    int64_t now = static_cast<int64_t>(now_t);
    if (text == "now") {
        *value = now;
        return true;
    }
    int days = 0;
    if (text == "today") {
        days = 0;
    } else if (text == "tomorrow") {
        days = 1;
    } else if (text == "yesterday") {
        days = -1;
    } else if (text.size() >= 3 && (text[0] == '+' || text[0] == '-')) {
        char unit = text.back();
        std::string number = text.substr(1, text.size() - 2);
        if (number.empty() || number.size() > 5 ||
            number.find_first_not_of("0123456789") != std::string::npos ||
            (unit != 'd' && unit != 'w' && unit != 'h')) {
            return false;
        }
        int n = std::atoi(number.c_str()) * (text[0] == '-' ? -1 : 1);
        if (unit == 'h') {
            *value = now + static_cast<int64_t>(n) * 3600;
            return true;
        }
        days = unit == 'w' ? n * 7 : n;
    } else {
        return false;
    }
    int year = 0, month = 0, day = 0;
    if (!cv::LocalDate(now, &year, &month, &day)) return false;
    if (part == DayPart::kEnd) return cv::LocalSeconds(year, month, day + days, 23, 59, 59, value);
    return cv::LocalSeconds(year, month, day + days, 0, 0, 0, value);
}

// The local offset from UTC at an instant, in seconds (east positive).
int64_t LocalOffset(int32_t seconds) {
    std::time_t t = seconds;
    std::tm* local = std::localtime(&t);  // cvcal runs on one thread
    if (local == nullptr) return 0;
    int64_t fields =
        cv::DaysFromCivil(local->tm_year + 1900, local->tm_mon + 1, local->tm_mday) * 86400 +
        local->tm_hour * 3600 + local->tm_min * 60 + local->tm_sec;
    return fields - seconds;
}

}  // namespace

bool ParseTimeArgument(const std::string& text, int32_t* seconds, std::string* reason,
                       DayPart part) {
    const char* kForms =
        "expected YYYY-MM-DD[THH:MM[:SS]][Z|+HH:MM], seconds since 1970, today, tomorrow, "
        "yesterday, now or +Nd/-Nd (also w for weeks, h for hours)";
    int64_t value = 0;
    // Plain seconds since 1970.
    if (!text.empty() && text.find_first_not_of("0123456789") == std::string::npos) {
        if (text.size() > 10 || !Fits(std::strtoll(text.c_str(), nullptr, 10))) {
            *reason = "seconds out of range";
            return false;
        }
        *seconds = static_cast<int32_t>(std::strtoll(text.c_str(), nullptr, 10));
        return true;
    }
    if (RelativeTime(text, part, &value)) {
        if (!Fits(value)) {
            *reason = "outside 1970-01-01 to 2038-01-19";
            return false;
        }
        *seconds = static_cast<int32_t>(value);
        return true;
    }
    int year, month, day, hour = 0, minute = 0, second = 0;
    if (!Digits(text, 0, 4, &year) || text.size() < 10 || text[4] != '-' ||
        !Digits(text, 5, 2, &month) || text[7] != '-' || !Digits(text, 8, 2, &day) || month < 1 ||
        month > 12 || day < 1) {
        *reason = kForms;
        return false;
    }
    if (day > DaysInMonth(year, month)) {
        *reason = "no such date: " + text.substr(0, 10);
        return false;
    }
    size_t at = 10;
    bool has_time = false;
    if (at < text.size() && (text[at] == 'T' || text[at] == ' ')) {
        if (!Digits(text, at + 1, 2, &hour) || at + 3 >= text.size() || text[at + 3] != ':' ||
            !Digits(text, at + 4, 2, &minute) || hour > 23 || minute > 59) {
            *reason = "expected a time as HH:MM after the date";
            return false;
        }
        has_time = true;
        at += 6;
        if (at < text.size() && text[at] == ':') {
            if (!Digits(text, at + 1, 2, &second) || second > 59) {
                *reason = "expected seconds as :SS";
                return false;
            }
            at += 3;
        }
    }
    if (!has_time && part == DayPart::kEnd) {
        hour = 23;
        minute = 59;
        second = 59;
    }
    std::string zone = text.substr(at);
    int64_t fields_as_utc =
        cv::DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
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
        int offset_total = offset_hours * 60 + offset_minutes;
        if (offset_minutes > 59 || offset_total > kMaxOffsetMinutes) {
            *reason = "offset " + zone + " beyond -14:00 to +14:00";
            return false;
        }
        int offset = offset_total * 60;
        value = fields_as_utc - (zone[0] == '-' ? -offset : offset);
    } else if (!cv::LocalSeconds(year, month, day, hour, minute, second, &value)) {
        *reason = "not a local time this machine can convert";
        return false;
    }
    if (!Fits(value)) {
        *reason = "outside 1970-01-01 to 2038-01-19";
        return false;
    }
    *seconds = static_cast<int32_t>(value);
    return true;
}

int32_t LocalDayStart(int32_t seconds, int days) {
    int year = 0, month = 0, day = 0;
    int64_t value = seconds;
    if (cv::LocalDate(seconds, &year, &month, &day)) {
        cv::LocalSeconds(year, month, day + days, 0, 0, 0, &value);
    }
    return Fits(value) ? static_cast<int32_t>(value) : INT32_MAX;
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

std::string IsoTimeText(int32_t seconds) {
    int64_t offset = LocalOffset(seconds);
    cv::CivilTime f = cv::UtcCivilTime(seconds + offset);
    int64_t minutes = (offset < 0 ? -offset : offset) / 60;
    char text[64];
    std::snprintf(text, sizeof text, "%04lld-%02d-%02dT%02d:%02d:%02d%c%02lld:%02lld",
                  static_cast<long long>(f.year), f.month, f.day, f.hour, f.minute, f.second,
                  offset < 0 ? '-' : '+', static_cast<long long>(minutes / 60),
                  static_cast<long long>(minutes % 60));
    return text;
}

}  // namespace cvcal
