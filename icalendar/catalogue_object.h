// What the catalogue keeps of one object, worked out from the store alone (its master's item file
// and the lines of its appointments), so that every process that works it out gets the same.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "icalendar/engine.h"

namespace cvical {

// The key the catalogue files an appointment under: its object's. An occurrence
// ("<master id>-<start>") belongs to its master; every other id is an object of its own. Ids
// compare without regard to ASCII letter case, as the store's names do.
std::string ObjectKey(const std::string& id);
std::string FoldCase(std::string text);
bool IsMasterId(const std::string& id);

struct ObjectRow {
    std::string key;   // ObjectKey of the master appointment
    std::string id;    // the master appointment's id as its line has it
    std::string href;  // X-CVHref, else "<id>.ics"
    std::string uid;
    std::string etag;  // quoted hex
    int64_t span_start = 0;
    int64_t span_end = 0;  // kOpenEnd for an endless rule
    bool recurring = false;
    // The object's text is one VEVENT whose DTSTART and DTEND are plain UTC times or dates that
    // its master line holds, nothing recurring (a host's appointment, or a plain event so
    // written): [seen_start, seen_end) is then exactly the time a client's time-range filter
    // sees (a date's midnight in UTC; the line holds local days).
    bool exact = false;
    int64_t seen_start = 0;
    int64_t seen_end = 0;
    int64_t modified = 0;  // the master item's last write, seconds since 1970
};

// The object whose appointments have these lines (its master's and its occurrences'; at least
// one), given its master's item file (null when there is none). False when they make no object:
// the key's own appointment has no line, or its item says it is an occurrence of another.
bool DescribeObject(const std::string& key, const std::vector<StoredLine>& lines,
                    const std::string* item, int64_t item_mtime, ObjectRow* row);

// The item's VCALENDAR part; empty for a host's appointment, which has none.
std::string CalendarText(const std::string& item);

// The text a client gets: the item's VCALENDAR part, or for an appointment made without one the
// VEVENT that stands for it (made from its line and headers).
std::string ObjectText(const std::string& item, const StoredLine& master_line);

// A name from the store as UTF-8 (a host may write its own code page).
std::string PrintableName(const std::string& name);

}  // namespace cvical
