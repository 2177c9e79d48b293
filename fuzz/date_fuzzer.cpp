// The header date parsers. The first byte picks the machine's time zone and the parser; the rest
// is the header value. Whatever the text: the ISO outputs are well-formed dates within their
// buffer and untouched on failure, the short forms do not depend on the machine's zone, and the
// field extractor and month names do what their contracts say.
#include <cctype>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <strings.h>

#include "fuzz/fuzz_check.h"
#include "common/date_time.h"

namespace {

// Zones in the POSIX TZ form, so that no zone database is read: UTC, both hemispheres with their
// daylight-saving rules, odd offsets, half-hour shifts and the far ends of the clock.
const char* const kZones[] = {
    "UTC0",
    "CET-1CEST,M3.5.0,M10.5.0/3",
    "EST5EDT,M3.2.0,M11.1.0",
    "AEST-10AEDT,M10.1.0,M4.1.0/3",
    "<+0545>-5:45",
    "<-0930>9:30",
    "LHST-10:30LHDT-11,M10.1.0,M4.1.0",
    "<+14>-14",
};

void UseZone(const char* zone) {
    setenv("TZ", zone, 1);
    tzset();
}

// "YYYY-MM-DDTHH:MM:SS" (the year as "%4d" writes it: padded with spaces to four characters,
// perhaps wider or signed); the numbers in fields.
bool IsIsoDate(const char* text, int fields[6]) {
    const size_t length = strnlen(text, cv::kIsoDateSize);
    if (length >= cv::kIsoDateSize || length < 19) return false;
    const char* tail = text + length - 15;  // "-MM-DDTHH:MM:SS"
    for (int i = 0; i < 15; ++i) {
        const char shape = "-99-99T99:99:99"[i];
        if (shape == '9' ? !std::isdigit(static_cast<unsigned char>(tail[i])) : tail[i] != shape)
            return false;
    }
    const char* p = text + std::strspn(text, " ");
    p += p < tail && *p == '-';
    if (p == tail || tail - text < 4 || std::strspn(p, "0123456789") != size_t(tail - p))
        return false;
    for (int i = 0; i < 5; ++i) fields[i + 1] = std::atoi(tail + 1 + 3 * i);
    fields[0] = std::atoi(text);
    return true;
}

// Runs the parser on an output full of 0x5A: a well-formed date when it answers 1, else untouched.
bool Parse(int (*parse)(const char*, char*), const char* text, char out[cv::kIsoDateSize],
           int fields[6]) {
    std::memset(out, 0x5A, cv::kIsoDateSize);
    const bool parsed = parse(text, out) != 0;
    if (parsed) FUZZ_CHECK(IsIsoDate(out, fields));
    for (size_t i = 0; !parsed && i < cv::kIsoDateSize; ++i) FUZZ_CHECK(out[i] == 0x5A);
    return parsed;
}

void ShortDate(const char* text, const char* zone) {
    char out[cv::kIsoDateSize], again[cv::kIsoDateSize];
    int fields[6];
    if (!Parse(cv::ParseShortDate, text, out, fields)) return;
    // Every field went through its range check, and the seconds are never taken.
    FUZZ_CHECK(fields[1] >= 1 && fields[1] <= 12 && fields[2] >= 1 && fields[2] <= 31);
    FUZZ_CHECK(fields[3] >= 0 && fields[3] <= 24 && fields[4] >= 0 && fields[4] <= 59);
    FUZZ_CHECK(fields[5] == 0);
    // Copied field by field: no zone comes into it.
    UseZone("UTC0");
    FUZZ_CHECK(cv::ParseShortDate(text, again) == 1 && std::strcmp(out, again) == 0);
    UseZone(zone);
}

void ShortDateToTime(const char* text, const char* zone) {
    const int32_t here = cv::ParseShortDateToTime(text);
    UseZone("UTC0");
    const int32_t utc = cv::ParseShortDateToTime(text);
    UseZone(zone);
    // The fields are read as UTC whatever the zone and its season, except where the local
    // conversion itself leaves the 32-bit range.
    constexpr int32_t kMargin = 2 * 86400;
    if (utc >= kMargin && utc <= INT32_MAX - kMargin) FUZZ_CHECK(here == utc);
}

// text, start and end separated by 0x01 bytes; without a second separator there is no end.
void Field(const std::string& input) {
    constexpr size_t npos = std::string::npos;
    const size_t a = input.find('\x01'), b = a == npos ? a : input.find('\x01', a + 1);
    const std::string text = input.substr(0, a).c_str();
    const std::string start = a == npos ? "" : input.substr(a + 1, b - a - 1).c_str();
    const bool has_end = b != npos;
    const std::string end = has_end ? input.substr(b + 1).c_str() : "";
    // The field runs from the match of start to the first end searched from one character past
    // the match; without an end, it is all the rest from the match.
    const size_t match = start.empty() ? 0 : text.find(start), field = match + start.size();
    const size_t stop =
        !has_end || match == npos || match >= text.size() ? npos : text.find(end, match + 1);
    const bool written = match != npos && (!has_end || stop != npos);
    const std::string expected = !written   ? ""
                                 : !has_end ? text.substr(match)
                                            : text.substr(field, stop > field ? stop - field : 0);
    const char* after = has_end && stop != npos ? text.c_str() + stop + end.size() : nullptr;
    for (size_t size : {size_t{0}, size_t{8}}) {
        char out[1024];
        std::memset(out, 0x5A, sizeof out);
        FUZZ_CHECK(cv::ExtractField(text.c_str(), start.c_str(), has_end ? end.c_str() : nullptr,
                                    out, size) == after);
        if (written) FUZZ_CHECK(expected.substr(0, size ? size - 1 : npos) == out);
        for (size_t i = 0; !written && i < sizeof out; ++i) FUZZ_CHECK(out[i] == 0x5A);
    }
}

void Month(const char* text) {
    static const char* const kNames[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                         "jul", "aug", "sep", "oct", "nov"};
    int expected = 11;
    for (int i = 0; i < 11; ++i) expected = strcasecmp(text, kNames[i]) == 0 ? i : expected;
    FUZZ_CHECK(cv::MonthFromName(text) == expected);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const char* zone = kZones[data[0] % 8];
    const int parser = (data[0] >> 3) % 5;
    const std::string input(reinterpret_cast<const char*>(data + 1), size - 1);
    const char* text = input.c_str();  // a header value ends at a NUL
    UseZone(zone);
    char out[cv::kIsoDateSize];
    int fields[6];
    switch (parser) {
        case 0:
            Parse(cv::ParseMessageDate, text, out, fields);
            break;
        case 1:
            ShortDate(text, zone);
            break;
        case 2:
            ShortDateToTime(text, zone);
            break;
        case 3:
            Field(input);
            break;
        default:
            Month(text);
            break;
    }
    return 0;
}
