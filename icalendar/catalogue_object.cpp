#include "icalendar/catalogue_object.h"

#include <algorithm>
#include <cstdio>
#include <string_view>

#include "common/civil_time.h"
#include "icalendar/digest.h"
#include "icalendar/event_times.h"
#include "icalendar/span.h"
#include "index_api/item_properties.h"
#include "platform/code_page.h"

namespace cvical {
namespace {

bool IsHex(char c) {
    return (c >= '0' && c <= '9') || ((c | 0x20) >= 'a' && (c | 0x20) <= 'f');
}

// Whether the item names a calendar part at all: most items of a mailbox are a host's, and the
// search costs a fraction of taking the message apart.
bool MayHoldCalendar(const std::string& item) {
    static const char kType[] = "text/calendar";
    auto same = [](char a, char b) { return (a | 0x20) == b; };
    return std::search(item.begin(), item.end(), kType, kType + sizeof kType - 1, same) !=
           item.end();
}

// The VCALENDAR part of an item, without the line break the part adds after it.
std::string CalendarPart(const std::string& item) {
    std::string text;
    if (!MayHoldCalendar(item) || !cv::ItemMessageValue(item, "VCALENDAR", &text)) {
        return std::string();
    }
    if (text.size() >= 4 && text.compare(text.size() - 4, 4, "\r\n\r\n") == 0) {
        text.resize(text.size() - 2);
    }
    return text;
}

// The UID of a stored object: its item's header, which is the UID unless the header had to cut
// or blank it (longer than a header value holds, or with line breaks or tabs); then its text.
std::string StoredUid(const std::string& item, const std::string& text) {
    std::string uid;
    if (ItemHeader(item, "X-AppointmentUID", &uid) && uid.size() < 1000 &&
        uid.find(' ') == std::string::npos) {
        return uid;
    }
    ParsedCalendar parsed;
    Window window;
    window.max_occurrences = 1;
    if (ParseCalendar(text, window, &parsed) && parsed.objects.size() == 1) {
        return parsed.objects[0].uid;
    }
    return uid;
}

// "YYYYMMDDTHHMMSSZ" (or, for a date, "YYYYMMDD": its midnight in UTC) as seconds since 1970;
// false for any other form or an impossible time.
bool ParseUtcValue(std::string_view value, bool date, int64_t* seconds) {
    if (date ? value.size() != 8 : (value.size() != 16 || value[8] != 'T' || value[15] != 'Z')) {
        return false;
    }
    int field[6] = {};
    const int at[6] = {0, 4, 6, 9, 11, 13};
    const int width[6] = {4, 2, 2, 2, 2, 2};
    for (int i = 0; i < (date ? 3 : 6); ++i) {
        field[i] = 0;
        for (int d = at[i]; d < at[i] + width[i]; ++d) {
            if (value[d] < '0' || value[d] > '9') return false;
            field[i] = field[i] * 10 + (value[d] - '0');
        }
    }
    if (field[1] < 1 || field[1] > 12 || field[2] < 1) return false;
    *seconds = cv::DaysFromCivil(field[0], field[1], field[2]) * 86400 + field[3] * 3600 +
               field[4] * 60 + field[5];
    // A day or time out of range (Feb 30, 24:00, a leap second) does not come back the same.
    const cv::CivilTime back = cv::UtcCivilTime(*seconds);
    return back.day == field[2] && back.month == field[1] && back.hour == field[3] &&
           back.minute == field[4] && back.second == field[5];
}

bool SameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return (x | 0x20) == (y | 0x20);
           });
}

// The DTSTART and DTEND of an object that is one VEVENT at plain UTC times, or on plain dates
// (*all_day; each then its midnight in UTC, as a client's filter reads a date), and nothing else
// that a time-range filter looks at: no rule, overrides, DURATION or other components. For such
// an object the times are exactly what the filter compares, so a range can be decided without
// parsing its text. Anything unusual (other parameters, a second DTSTART, lower-case forms, a
// date beside a time) makes it false: the filter then decides, as for every other object.
bool PlainEventTimes(const std::string& text, int64_t* start, int64_t* end, bool* all_day) {
    // Content lines unfolded: a line that starts with a blank continues the one before.
    std::vector<std::string> lines;
    size_t at = 0;
    while (at < text.size()) {
        size_t stop = text.find('\n', at);
        if (stop == std::string::npos) stop = text.size();
        std::string_view line(text.data() + at, stop - at);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (!line.empty() && (line[0] == ' ' || line[0] == '\t') && !lines.empty()) {
            lines.back().append(line.substr(1));
        } else if (!line.empty()) {
            lines.emplace_back(line);
        }
        at = stop + 1;
    }
    static const char* const kAllowed[] = {"VCALENDAR", "VEVENT",   "VALARM",
                                           "VTIMEZONE", "STANDARD", "DAYLIGHT"};
    static const char* const kRecurrence[] = {"RRULE",  "RDATE",         "EXRULE",
                                              "EXDATE", "RECURRENCE-ID", "DURATION"};
    int events = 0, starts = 0, ends = 0, dates = 0;
    std::vector<std::string_view> open;
    for (const std::string& line : lines) {
        const size_t colon = line.find_first_of(":;");
        if (colon == std::string::npos) return false;
        const std::string_view name(line.data(), colon);
        const std::string_view value =
            line[colon] == ':' ? std::string_view(line).substr(colon + 1) : std::string_view();
        if (SameName(name, "BEGIN") || SameName(name, "END")) {
            if (line[colon] != ':' ||
                std::none_of(std::begin(kAllowed), std::end(kAllowed),
                             [&](const char* c) { return SameName(value, c); })) {
                return false;
            }
            if (SameName(name, "BEGIN")) {
                events += SameName(value, "VEVENT");
                open.push_back(value);
            } else if (open.empty() || !SameName(open.back(), value)) {
                return false;
            } else {
                open.pop_back();
            }
            continue;
        }
        if (open.empty() || !SameName(open.back(), "VEVENT")) continue;
        if (std::any_of(std::begin(kRecurrence), std::end(kRecurrence),
                        [&](const char* r) { return SameName(name, r); })) {
            return false;
        }
        const bool is_start = SameName(name, "DTSTART"), is_end = SameName(name, "DTEND");
        if (!is_start && !is_end) continue;
        const std::string_view expected = is_start ? "DTSTART" : "DTEND";
        const std::string_view whole(line);
        const bool date = whole.substr(0, expected.size()) == expected &&
                          whole.substr(expected.size(), 12) == ";VALUE=DATE:";
        if ((!date && (name != expected || line[colon] != ':')) ||
            !ParseUtcValue(date ? whole.substr(expected.size() + 12) : value, date,
                           is_start ? start : end)) {
            return false;
        }
        (is_start ? starts : ends) += 1;
        dates += date;
    }
    *all_day = dates == 2;
    return events == 1 && starts == 1 && ends == 1 && (dates == 0 || dates == 2) && open.empty();
}

}  // namespace

std::string FoldCase(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + ('a' - 'A'));
    }
    return text;
}

bool IsMasterId(const std::string& id) {
    if (id.size() != 34 || (id[0] | 0x20) != 'i' || (id[1] | 0x20) != 'c') return false;
    return std::all_of(id.begin() + 2, id.end(), IsHex);
}

std::string ObjectKey(const std::string& id) {
    const size_t dash = id.find('-');
    if (dash == 34 && IsMasterId(id.substr(0, 34))) {
        size_t digits = dash + 1 + (dash + 1 < id.size() && id[dash + 1] == '-');
        if (digits < id.size() && std::all_of(id.begin() + static_cast<long>(digits), id.end(),
                                              [](char c) { return c >= '0' && c <= '9'; })) {
            return FoldCase(id.substr(0, 34));
        }
    }
    return FoldCase(id);
}

std::string PrintableName(const std::string& name) {
    return cv::CodePageToUtf8(name);
}

bool DescribeObject(const std::string& key, const std::vector<StoredLine>& lines,
                    const std::string* item, int64_t item_mtime, ObjectRow* row) {
    const StoredLine* master = nullptr;
    for (const StoredLine& line : lines) {
        if (FoldCase(line.id) == key && (master == nullptr || line.start < master->start)) {
            master = &line;
        }
    }
    std::string occurrence_of;
    if (master == nullptr ||
        (item != nullptr && ItemHeader(*item, "X-CVOccurrenceOf", &occurrence_of))) {
        return false;
    }
    *row = ObjectRow();
    row->key = key;
    row->id = master->id;
    row->modified = item != nullptr ? item_mtime : 0;
    row->span_start = master->start;
    row->span_end = master->finish;
    const std::string text = item != nullptr ? CalendarPart(*item) : std::string();
    std::string value;
    if (!text.empty()) {
        row->uid = StoredUid(*item, text);
        row->recurring = ItemHeader(*item, "X-IsRecurring", &value) && value == "1";
        int64_t start = 0, end = 0;
        bool all_day = false;
        if (!row->recurring && lines.size() == 1 && PlainEventTimes(text, &start, &end, &all_day)) {
            // Unless a host has moved it since: then its line is not what the text says. A line
            // holds an all-day event's local days, from midnight to the last second.
            const bool same = all_day
                                  ? start < end && master->start == LocalDayStart(start / kDay) &&
                                        master->finish == LocalDayStart(end / kDay) - 1
                                  : start == master->start && end == master->finish;
            if (same) {
                row->exact = true;
                row->seen_start = start;
                row->seen_end = end;
            }
        }
        if (row->recurring) {
            CalendarObject object;
            object.uid = row->uid;
            object.text = text;
            Span span = ObjectSpan(object);
            row->span_start = std::min<int64_t>(span.start, master->start);
            row->span_end = std::max<int64_t>(span.end, master->finish);
        }
    } else {
        row->uid = PrintableName(master->id);
        row->exact = true;
        row->seen_start = master->start;
        row->seen_end = master->finish;
    }
    if (item != nullptr && ItemHeader(*item, "X-CVHref", &value) && !value.empty()) {
        row->href = PrintableName(value);
    } else {
        row->href = PrintableName(master->id) + ".ics";
    }
    // The etag covers what a client sees (the item) and where the store has the appointments
    // (the lines), so that a host moving an appointment changes it too.
    std::vector<const StoredLine*> sorted;
    for (const StoredLine& line : lines) sorted.push_back(&line);
    std::sort(sorted.begin(), sorted.end(), [](const StoredLine* a, const StoredLine* b) {
        if (a->start != b->start) return a->start < b->start;
        if (a->finish != b->finish) return a->finish < b->finish;
        return a->period < b->period;
    });
    Sha256 digest;
    if (item != nullptr) digest.Add(*item);
    for (const StoredLine* line : sorted) {
        char text_line[64];
        int size =
            std::snprintf(text_line, sizeof text_line, "\n%d\t%d\t", line->start, line->finish);
        digest.Add(std::string_view(text_line, static_cast<size_t>(size))).Add(line->period);
    }
    row->etag = "\"" + HexText(digest.Finish()) + "\"";
    return true;
}

std::string CalendarText(const std::string& item) {
    return CalendarPart(item);
}

std::string ObjectText(const std::string& item, const StoredLine& master_line) {
    std::string text = CalendarPart(item);
    if (!text.empty()) return text;
    return HostAppointmentText(master_line.id, master_line.start, master_line.finish, item);
}

}  // namespace cvical
