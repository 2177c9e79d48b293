// Period names: which period file an appointment belongs in, from its UTC dates.
#include "store/period_file.h"

#include <cstdio>

#include "common/civil_time.h"

namespace cv {

namespace {

struct UtcDate {
    int64_t year;
    int month;
    int day;
};

UtcDate DateOf(int32_t time) {
    CivilTime t = UtcCivilTime(time);
    return UtcDate{t.year, t.month, t.day};
}

}  // namespace

std::string GetPeriodName(int32_t start, int32_t finish) {
    UtcDate a = DateOf(start);
    UtcDate b = DateOf(finish);
    char name[kPeriodNameSize];
    if (a.year != b.year) {
        std::snprintf(name, sizeof name, "Y");
    } else if (a.month != b.month) {
        std::snprintf(name, sizeof name, "Y%lld", static_cast<long long>(a.year - 2000));
    } else if (a.day != b.day) {
        std::snprintf(name, sizeof name, "Y%02lldM%02d", static_cast<long long>(a.year - 2000),
                      a.month);
    } else {
        std::snprintf(name, sizeof name, "Y%02lldM%02dD%02d", static_cast<long long>(a.year - 2000),
                      a.month, a.day);
    }
    return name;
}

}  // namespace cv
