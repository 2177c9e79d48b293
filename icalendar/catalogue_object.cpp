#include "icalendar/catalogue_object.h"

#include <algorithm>
#include <cstdio>

#include "icalendar/digest.h"
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

std::string ObjectText(const std::string& item, const StoredLine& master_line) {
    std::string text = CalendarPart(item);
    if (!text.empty()) return text;
    return HostAppointmentText(master_line.id, master_line.start, master_line.finish, item);
}

}  // namespace cvical
