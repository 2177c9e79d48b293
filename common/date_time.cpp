#include "common/date_time.h"

#include <climits>
#include <cstdio>
#include <cstring>

#include "common/civil_time.h"
#include "common/delimited_text.h"
#include "common/text_helpers.h"
#include "platform/platform.h"

namespace cv {
namespace {

// Each text field of a date holds at most 31 characters; longer ones are cut.
constexpr size_t kFieldSize = 32;
constexpr int64_t kLatestTime = INT32_MAX;  // 2038-01-19 03:14:07 UTC
constexpr int64_t kFailed = -1;
constexpr int64_t kSecondsPerDay = 86400;

bool InTimeRange(int64_t t) {
    return t >= 0 && t <= kLatestTime;
}

// Out-of-range numbers never fail a date: they are replaced by a fixed value.
int Checked(int value, int low, int high, int fallback) {
    return value >= low && value <= high ? value : fallback;
}

// Headers written with two-digit years ("05") mean this century; so does any year up to 1900.
int YearFromNumber(int number) {
    return number <= 1900 ? number + 2000 : number;
}

int64_t FloorDivide(int64_t a, int64_t b) {
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}

int64_t FloorModulo(int64_t a, int64_t b) {
    return a - FloorDivide(a, b) * b;
}

// The record's fields counted as seconds since 1970 as if they were UTC. Fields out of their
// usual range carry over as the C library's local conversion lets them.
int64_t FieldsAsUtc(const std::tm& fields) {
    int64_t year = static_cast<int64_t>(fields.tm_year) + 1900;
    year += FloorDivide(fields.tm_mon, 12);
    const int64_t month = FloorModulo(fields.tm_mon, 12) + 1;
    const int64_t days = DaysFromCivil(year, month, 1) + fields.tm_mday - 1;
    return days * kSecondsPerDay + static_cast<int64_t>(fields.tm_hour) * 3600 +
           static_cast<int64_t>(fields.tm_min) * 60 + fields.tm_sec;
}

// The UTC breakdown of seconds since 1970.
std::tm BreakDown(int64_t seconds) {
    const CivilTime t = UtcCivilTime(seconds);
    std::tm record{};
    record.tm_year = static_cast<int>(t.year - 1900);
    record.tm_mon = t.month - 1;
    record.tm_mday = t.day;
    record.tm_hour = t.hour;
    record.tm_min = t.minute;
    record.tm_sec = t.second;
    record.tm_wday = t.weekday;
    record.tm_yday = t.year_day;
    return record;
}

// The machine's zone as the local conversions see it: one standard and one daylight offset, and
// the zone's rules to tell which is in force at an instant. This is how GetTimeZoneInformation
// describes a zone, and it keeps both builds on the same arithmetic.
class LocalZone {
  public:
    explicit LocalZone(const TimeZoneInfo& info)
        : info_(info),
          has_daylight_(info.state == TimeZoneInfo::kStandard ||
                        info.state == TimeZoneInfo::kDaylight),
          standard_offset_(-60 * (static_cast<int64_t>(info.bias) + info.standard_bias)),
          daylight_offset_(-60 * (static_cast<int64_t>(info.bias) + info.daylight_bias)) {}

    bool DaylightAt(int64_t t) const { return has_daylight_ && IsDaylightTimeAt(info_, t); }
    // What the clocks move by when daylight-saving time starts (an hour in nearly every zone).
    int64_t DaylightShift() const { return daylight_offset_ - standard_offset_; }

    // Local fields (counted as seconds) to a time value, as the C library's local conversion
    // does it: read as daylight time when the flag is set, as standard time when it is clear, by
    // the zone's rules when it is negative. kFailed outside the 32-bit range.
    int64_t ToTime(int64_t local, int daylight_flag) const {
        int64_t t = local - (daylight_flag > 0 ? daylight_offset_ : standard_offset_);
        if (daylight_flag < 0 && DaylightAt(t)) t = local - daylight_offset_;
        return InTimeRange(t) ? t : kFailed;
    }

    // The local breakdown of a time value, with its daylight flag.
    std::tm BreakDownLocal(int64_t t) const {
        const bool daylight = DaylightAt(t);
        std::tm record = BreakDown(t + (daylight ? daylight_offset_ : standard_offset_));
        record.tm_isdst = daylight ? 1 : 0;
        return record;
    }

  private:
    TimeZoneInfo info_;
    bool has_daylight_;
    int64_t standard_offset_;  // seconds east of UTC
    int64_t daylight_offset_;
};

void WriteIso(char* out, int year, int month_number, int day, int hour, int minute, int second) {
    const int two_digit[] = {month_number, day, hour, minute, second};
    bool plain = year >= 1000 && year <= 9999;
    for (int field : two_digit) plain = plain && field >= 0 && field <= 99;
    if (!plain) {
        std::snprintf(out, kIsoDateSize, "%4d-%02d-%02dT%02d:%02d:%02d", year, month_number, day,
                      hour, minute, second);
        return;
    }
    // The common case by hand: a folder scan writes a few dates for every item.
    char* p = out;
    for (int divisor = 1000; divisor > 0; divisor /= 10)
        *p++ = static_cast<char>('0' + year / divisor % 10);
    const char separators[] = {'-', '-', 'T', ':', ':'};
    for (int i = 0; i < 5; ++i) {
        *p++ = separators[i];
        *p++ = static_cast<char>('0' + two_digit[i] / 10);
        *p++ = static_cast<char>('0' + two_digit[i] % 10);
    }
    *p = '\0';
}

void WriteIso(char* out, const std::tm& record) {
    WriteIso(out, record.tm_year + 1900, record.tm_mon + 1, record.tm_mday, record.tm_hour,
             record.tm_min, record.tm_sec);
}

// Whether `text` is laid out exactly as `layout`: '9' a digit, 'a' an ASCII letter, '+' a sign,
// any other character itself, and nothing after. The item files' writers all lay their dates out
// alike, and a date in that layout is taken apart at fixed places instead of searched through for
// each field (a folder scan reads three dates an item); any other text takes the general reading,
// which gives the same fields for this one.
bool HasLayout(const char* text, const char* layout) {
    for (; *layout != '\0'; ++text, ++layout) {
        const char c = *text;
        bool fits;
        switch (*layout) {
            case '9':
                fits = c >= '0' && c <= '9';
                break;
            case 'a':
                fits = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
                break;
            case '+':
                fits = c == '+' || c == '-';
                break;
            default:
                fits = c == *layout;
                break;
        }
        if (!fits) return false;
    }
    return *text == '\0';
}

// A field of `length` characters at `from`, as its own text.
void TakeField(char (&out)[kFieldSize], const char* from, size_t length) {
    std::memcpy(out, from, length);
    out[length] = '\0';
}

// The numbers of a date's text fields, each through its range check, as a broken-down record
// with weekday, day of year and daylight flag 0.
std::tm RecordFromFields(const char* second, const char* minute, const char* hour, const char* day,
                         const char* month, const char* year) {
    std::tm record{};
    record.tm_sec = Checked(ReadDecimal(second), 0, 59, 0);
    record.tm_min = Checked(ReadDecimal(minute), 0, 59, 0);
    record.tm_hour = Checked(ReadDecimal(hour), 0, 24, 0);
    record.tm_mday = Checked(ReadDecimal(day), 1, 31, 1);
    record.tm_mon = Checked(MonthFromName(month), 0, 11, 0);
    record.tm_year =
        static_cast<int>(static_cast<int64_t>(YearFromNumber(ReadDecimal(year))) - 1900);
    return record;
}

// The numeric zone of a message-header date in seconds east of UTC: "+0100" is 3600, "-0530" is
// -19800, "GMT" and names such as "EST" are 0.
int64_t ZoneOffset(const char* zone) {
    if (CompareNoCase(zone, "GMT") == 0) return 0;
    const int64_t number = ReadDecimal(zone);
    return number / 100 * 3600 + number % 100 * 60;
}

}  // namespace

const char* ExtractField(const char* text, const char* start, const char* end, char* out,
                         size_t size) {
    if (text == nullptr) return nullptr;
    const size_t start_length = start ? std::strlen(start) : 0;
    const char* match = start_length ? std::strstr(text, start) : text;
    if (match == nullptr) return nullptr;

    const char* field = match;
    const char* stop = nullptr;
    if (end != nullptr) {
        if (match[0] == '\0') return nullptr;  // nothing left to search one character in
        stop = std::strstr(match + 1, end);
        if (stop == nullptr) return nullptr;
        field = match + start_length;
    }
    size_t length =
        stop ? (stop > field ? static_cast<size_t>(stop - field) : 0) : std::strlen(field);
    if (size != 0 && length >= size) length = size - 1;
    std::memcpy(out, field, length);
    out[length] = '\0';
    return stop ? stop + std::strlen(end) : nullptr;
}

int MonthFromName(const char* name) {
    static const char* const kNames[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov"};
    // Three letters or nothing; compared with ASCII folding, as month names are ASCII.
    if (name == nullptr || name[0] == '\0' || name[1] == '\0' || name[2] == '\0' ||
        name[3] != '\0') {
        return 11;
    }
    for (int i = 0; i < 11; ++i) {
        if (FoldAscii(name[0]) == FoldAscii(kNames[i][0]) &&
            FoldAscii(name[1]) == FoldAscii(kNames[i][1]) &&
            FoldAscii(name[2]) == FoldAscii(kNames[i][2])) {
            return i;
        }
    }
    return 11;
}

int32_t UtcFieldsToTime(const std::tm& fields) {
    return UtcFieldsToTime(fields, GetTimeZoneInfo());
}

int32_t UtcFieldsToTime(const std::tm& fields, const TimeZoneInfo& info) {
    if (info.state == TimeZoneInfo::kInvalid) return 0;
    const LocalZone zone(info);

    // The zone as it stands now goes in with the local conversion and comes out again with the
    // correction, so the fields end up read as UTC.
    int64_t correction = static_cast<int64_t>(info.bias) * 60;
    int daylight_flag = fields.tm_isdst;
    if (info.state == TimeZoneInfo::kDaylight) {
        daylight_flag = 1;
        correction += static_cast<int64_t>(info.daylight_bias) * 60;
    }
    const int64_t local = zone.ToTime(FieldsAsUtc(fields), daylight_flag);
    const int64_t result = local - correction;  // kFailed - correction when the conversion failed
    return result >= INT32_MIN && result <= INT32_MAX ? static_cast<int32_t>(result) : -1;
}

int ParseMessageDate(const char* text, char* out) {
    return ParseMessageDate(text, out, GetTimeZoneInfo());
}

int ParseMessageDate(const char* text, char* out, const TimeZoneInfo& zone_info) {
    if (text == nullptr || out == nullptr) return 0;
    char day[kFieldSize], month[kFieldSize], year[kFieldSize];
    char hour[kFieldSize], minute[kFieldSize], second[kFieldSize], zone_text[kFieldSize];
    if (HasLayout(text, "aaa, 99 aaa 9999 99:99:99 +9999")) {
        TakeField(day, text + 5, 2);
        TakeField(month, text + 8, 3);
        TakeField(year, text + 12, 4);
        TakeField(hour, text + 17, 2);
        TakeField(minute, text + 20, 2);
        TakeField(second, text + 23, 2);
        TakeField(zone_text, text + 26, 5);
    } else {
        // "Tue, 07 Mar 2005 ..." or "7 Mar 2005 ...". Some writers pad a one-digit day with a
        // second space after the comma; the empty field between the two spaces is passed over.
        const char* p;
        if (CountDelimitedFields(text, ",") >= 2) {
            char weekday[kFieldSize];
            p = ExtractField(text, "", ",", weekday, kFieldSize);
            if (p) p = ExtractField(p, " ", " ", day, kFieldSize);
            if (p && day[0] == '\0') p = ExtractField(p, "", " ", day, kFieldSize);
        } else {
            p = ExtractField(text, "", " ", day, kFieldSize);
        }
        if (p) p = ExtractField(p, "", " ", month, kFieldSize);
        if (p) p = ExtractField(p, "", " ", year, kFieldSize);
        if (p) p = ExtractField(p, "", ":", hour, kFieldSize);
        if (p) p = ExtractField(p, "", ":", minute, kFieldSize);
        if (p) p = ExtractField(p, "", " ", second, kFieldSize);
        if (p == nullptr) return 0;
        // The zone ends at the next space ("+0100 (CET)") or with the text.
        if (ExtractField(p, "", " ", zone_text, kFieldSize) == nullptr) {
            ExtractField(p, "", nullptr, zone_text, kFieldSize);
        }
    }

    const std::tm fields = RecordFromFields(second, minute, hour, day, month, year);
    const int64_t as_utc = FieldsAsUtc(fields);

    if (zone_text[0] == '\0') {
        // No zone at all: the fields are taken as UTC. Reading them as local time would make the
        // result depend on where the server stands, and the index only needs a valid date.
        if (InTimeRange(as_utc)) {
            WriteIso(out, BreakDown(as_utc));
        } else {
            WriteIso(out, fields);
        }
        return 1;
    }

    const LocalZone zone(zone_info);
    const int64_t local = zone.ToTime(as_utc, 0);
    if (local == kFailed) {
        // Outside the 32-bit range: the date as written, without a zone shift.
        WriteIso(out, fields);
        return 1;
    }
    // The fields went in as standard time; where the date falls in daylight-saving time, the
    // local breakdown below adds the daylight shift back, so it is taken off here. The local
    // conversion and the local breakdown then cancel, and what remains is the written time less
    // the zone in the text: the UTC time of the instant. Only near a changeover, where the two
    // fall on different sides of it, is the result off by the shift.
    int64_t t = local;
    if (zone.DaylightAt(local)) t -= zone.DaylightShift();
    t -= ZoneOffset(zone_text);
    // A shifted time outside the range keeps the record as the local conversion normalised it.
    WriteIso(out, zone.BreakDownLocal(t > 0 && t <= kLatestTime ? t : local));
    return 1;
}

int ParseShortDate(const char* text, char* out) {
    if (text == nullptr || out == nullptr) return 0;
    char hour[kFieldSize], minute[kFieldSize], day[kFieldSize], month[kFieldSize];
    char year[kFieldSize];
    // "14:30 07 Mar, 2005"; a seconds part ("14:30:45") stays in the minute field, whose number
    // reading stops at the colon.
    const char* p = ExtractField(text, "", ":", hour, kFieldSize);
    if (p) p = ExtractField(p, "", " ", minute, kFieldSize);
    if (p) p = ExtractField(p, "", " ", day, kFieldSize);
    if (p) p = ExtractField(p, "", ", ", month, kFieldSize);
    if (p == nullptr) return 0;
    ExtractField(p, "", nullptr, year, kFieldSize);

    const std::tm fields = RecordFromFields("0", minute, hour, day, month, year);
    WriteIso(out, fields.tm_year + 1900, Checked(fields.tm_mon + 1, 1, 12, 1), fields.tm_mday,
             fields.tm_hour, fields.tm_min, 0);
    return 1;
}

int32_t ParseShortDateToTime(const char* text) {
    return ParseShortDateToTime(text, GetTimeZoneInfo());
}

int32_t ParseShortDateToTime(const char* text, const TimeZoneInfo& zone) {
    if (text == nullptr) return 0;
    // A field that the text does not give reads as 0.
    char hour[kFieldSize] = "0", minute[kFieldSize] = "0", second[kFieldSize] = "0";
    char day[kFieldSize] = "0", month[kFieldSize] = "0", year[kFieldSize] = "0";

    if (HasLayout(text, "99:99:99 99 aaa, 9999")) {
        TakeField(hour, text, 2);
        TakeField(minute, text + 3, 2);
        TakeField(second, text + 6, 2);
        TakeField(day, text + 9, 2);
        TakeField(month, text + 12, 3);
        TakeField(year, text + 17, 4);
    } else if (HasLayout(text, "99:99 99 aaa, 9999")) {
        TakeField(hour, text, 2);
        TakeField(minute, text + 3, 2);
        TakeField(day, text + 6, 2);
        TakeField(month, text + 9, 3);
        TakeField(year, text + 14, 4);
    } else {
        const char* p = ExtractField(text, "", ":", hour, kFieldSize);
        if (p == nullptr) return 0;
        if (std::strchr(p, ':') != nullptr) {
            p = ExtractField(p, "", ":", minute, kFieldSize);
            if (p) p = ExtractField(p, "", " ", second, kFieldSize);
        } else {
            p = ExtractField(p, "", " ", minute, kFieldSize);
        }
        if (p) p = ExtractField(p, "", " ", day, kFieldSize);
        if (p) p = ExtractField(p, "", ", ", month, kFieldSize);
        if (p == nullptr) return 0;
        ExtractField(p, "", nullptr, year, kFieldSize);
    }
    return UtcFieldsToTime(RecordFromFields(second, minute, hour, day, month, year), zone);
}

}  // namespace cv
