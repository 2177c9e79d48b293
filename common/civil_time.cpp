#include "common/civil_time.h"

namespace cv {
namespace {

int64_t FloorDivide(int64_t a, int64_t b) {
    return a / b - (a % b != 0 && (a < 0) != (b < 0));
}

}  // namespace

int64_t DaysFromCivil(int64_t year, int64_t month, int64_t day) {
    year -= month <= 2;
    const int64_t era = FloorDivide(year, 400);
    const int64_t year_of_era = year - era * 400;
    const int64_t day_of_year = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int64_t day_of_era =
        year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
    return era * 146097 + day_of_era - 719468;
}

CivilTime UtcCivilTime(int64_t seconds) {
    const int64_t days = FloorDivide(seconds, 86400);
    const int64_t rest = seconds - days * 86400;
    const int64_t shifted = days + 719468;
    const int64_t era = FloorDivide(shifted, 146097);
    const int64_t day_of_era = shifted - era * 146097;
    const int64_t year_of_era =
        (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
    const int64_t day_of_year =
        day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
    const int64_t mp = (5 * day_of_year + 2) / 153;
    CivilTime t;
    t.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    t.year = year_of_era + era * 400 + (t.month <= 2);
    t.day = static_cast<int>(day_of_year - (153 * mp + 2) / 5 + 1);
    t.hour = static_cast<int>(rest / 3600);
    t.minute = static_cast<int>(rest % 3600 / 60);
    t.second = static_cast<int>(rest % 60);
    t.weekday = static_cast<int>((days % 7 + 11) % 7);  // 1970-01-01 was a Thursday
    t.year_day = static_cast<int>(days - DaysFromCivil(t.year, 1, 1));
    return t;
}

}  // namespace cv
