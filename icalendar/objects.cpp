// The ids and item files of iCalendar objects (docs/ICALENDAR.md).
#include "icalendar/objects.h"

#include <cstdio>
#include <cstring>

#include "common/civil_time.h"
#include "common/text_helpers.h"
#include "host/item_dates.h"

namespace cvical {
namespace {

const char kMonths[] = "JanFebMarAprMayJunJulAugSepOctNovDec";
// The boundary the store's own writer gives an item that gets a calendar part, so that an item
// we write is the item that writer would have made.
const char kBoundary[] = "----------677C251E373B0A";
constexpr size_t kMaxHeaderValue = 1000;

uint64_t Fnv1a(const std::string& bytes) {
    uint64_t hash = 0xcbf29ce484222325ULL;
    for (unsigned char c : bytes) {
        hash ^= c;
        hash *= 0x100000001b3ULL;
    }
    return hash;
}

// The text with every line ended by CR LF, as the store's writer puts a body into its part.
std::string CrLfLines(const std::string& text) {
    std::string out;
    size_t at = 0;
    while (at < text.size()) {
        size_t feed = text.find('\n', at);
        size_t end = feed == std::string::npos ? text.size() : feed;
        size_t length = end - at;
        if (length > 0 && text[end - 1] == '\r') --length;
        out.append(text, at, length).append("\r\n");
        at = feed == std::string::npos ? text.size() : feed + 1;
    }
    return out;
}

std::string Headers(const CalendarObject& object, const Occurrence& o) {
    std::string h;
    h += "Subject: " + HeaderValue(o.summary) + "\r\n";
    h += "X-Location: " + HeaderValue(o.location) + "\r\n";
    h += "X-StartTime: " + cv::ShortDateText(o.start) + "\r\n";
    h += "X-FinishTime: " + cv::ShortDateText(o.finish) + "\r\n";
    h += std::string("X-AllDayEvent: ") + (o.all_day ? "1" : "0") + "\r\n";
    h += std::string("X-IsRecurring: ") + (object.recurring ? "1" : "0") + "\r\n";
    h += "X-AppointmentUID: " + HeaderValue(object.uid) + "\r\n";
    return h;
}

std::string DateHeader(const Occurrence& o, int64_t now) {
    return "Date: " + cv::MessageDateText(o.stamp >= 0 ? o.stamp : now) + "\r\n";
}

int MonthNumber(const char* name) {
    for (int m = 0; m < 12; ++m) {
        if (std::strncmp(kMonths + 3 * m, name, 3) == 0) return m + 1;
    }
    return 0;
}

bool CivilSeconds(int year, int month, int day, int hour, int minute, int second,
                  int64_t* seconds) {
    if (month < 1 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60) return false;
    *seconds = cv::DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
    return true;
}

}  // namespace

std::string MasterId(const std::string& uid) {
    char id[40];
    std::snprintf(id, sizeof id, "IC%016llX%016llX", static_cast<unsigned long long>(Fnv1a(uid)),
                  static_cast<unsigned long long>(Fnv1a("cvaicp:" + uid)));
    return id;
}

std::string OccurrenceId(const std::string& master_id, int32_t start) {
    return master_id + "-" + std::to_string(start);
}

std::string HeaderValue(const std::string& text) {
    std::string value = text;
    for (char& c : value) {
        if (c == '\r' || c == '\n' || c == '\t') c = ' ';
    }
    // The store's reader takes the first header line that holds boundary=" as the one naming the
    // message's boundary; a value must not be that line.
    const std::string marker = "boundary=\"";
    for (size_t at = 0; at + marker.size() <= value.size(); ++at) {
        if (cv::CompareNoCase(value.substr(at, marker.size()).c_str(), marker.c_str()) == 0) {
            value[at + marker.size() - 1] = '\'';
        }
    }
    if (value.size() > kMaxHeaderValue) {
        size_t cut = kMaxHeaderValue;
        // Back to the first byte of the character that would be split.
        while (cut > 0 && (static_cast<unsigned char>(value[cut]) & 0xC0) == 0x80) --cut;
        value.resize(cut);
    }
    return value;
}

std::string MasterItemText(const CalendarObject& object, const std::string& href, int64_t now) {
    const Occurrence& master = object.occurrences.front();
    const std::string separator = std::string("--") + kBoundary + "\r\n";
    std::string item = Headers(object, master);
    if (!href.empty()) item += "X-CVHref: " + HeaderValue(href) + "\r\n";
    item += DateHeader(master, now);
    item += "Content-Type: multipart/mixed;\r\n";
    item += std::string("\tboundary=\"") + kBoundary + "\"\r\n\r\n";
    item += separator;
    item += "Content-Type: text/plain; charset=utf-8\r\nContent-Transfer-Encoding: 7bit\r\n\r\n";
    item += CrLfLines(master.description);
    item += separator;
    item += "Content-Type: text/calendar; charset=utf-8\r\nContent-Transfer-Encoding: 7bit\r\n\r\n";
    item += object.text + "\r\n";
    item += std::string("--") + kBoundary + "--\r\n";
    return item;
}

std::string OccurrenceItemText(const CalendarObject& object, size_t index,
                               const std::string& master_id, int64_t now) {
    const Occurrence& o = object.occurrences[index];
    std::string item = Headers(object, o);
    item += "X-CVOccurrenceOf: " + master_id + "\r\n";
    item += DateHeader(o, now);
    item += "\r\n" + CrLfLines(o.description);
    return item;
}

bool ItemHeader(const std::string& item, const char* name, std::string* value) {
    const size_t name_length = std::strlen(name);
    size_t at = 0;
    while (at < item.size()) {
        size_t feed = item.find('\n', at);
        size_t end = feed == std::string::npos ? item.size() : feed;
        std::string line = item.substr(at, end - at);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) return false;  // the end of the headers
        if (line.size() > name_length && line[name_length] == ':' &&
            cv::CompareNoCase(line.substr(0, name_length).c_str(), name) == 0) {
            // "Name: value": one space, so that a value's own leading spaces stay its own.
            size_t first = name_length + 1;
            if (first < line.size() && line[first] == ' ') ++first;
            *value = line.substr(first);
            return true;
        }
        at = end + 1;
    }
    return false;
}

bool ParseShortDate(const std::string& text, int64_t* seconds) {
    int hour, minute, second, day, year;
    char month[4] = {};
    if (std::sscanf(text.c_str(), "%2d:%2d:%2d %2d %3[A-Za-z], %4d", &hour, &minute, &second, &day,
                    month, &year) != 6) {
        return false;
    }
    return CivilSeconds(year, MonthNumber(month), day, hour, minute, second, seconds);
}

bool ParseMessageDate(const std::string& text, int64_t* seconds) {
    int day, year, hour, minute, second;
    char weekday[4] = {}, month[4] = {}, zone[6] = {};
    if (std::sscanf(text.c_str(), "%3[A-Za-z], %2d %3[A-Za-z] %4d %2d:%2d:%2d %5[-+0-9]", weekday,
                    &day, month, &year, &hour, &minute, &second, zone) != 8 ||
        std::strlen(zone) != 5) {
        return false;
    }
    if (!CivilSeconds(year, MonthNumber(month), day, hour, minute, second, seconds)) return false;
    int offset = ((zone[1] - '0') * 10 + (zone[2] - '0')) * 3600 +
                 ((zone[3] - '0') * 10 + (zone[4] - '0')) * 60;
    *seconds -= zone[0] == '-' ? -offset : offset;
    return true;
}

}  // namespace cvical
