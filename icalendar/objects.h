// iCalendar objects as the store keeps them (docs/ICALENDAR.md): an object's ids, its expansion
// into appointments, the item files that carry it, and the VEVENTs an export makes of what is
// stored. Nothing here touches the store: these functions only compose and take apart texts (the
// engine, engine.h, does the writing).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "icalendar/window.h"

namespace cvical {

// "IC" and two FNV-1a hashes of the UID: the name of the object's first appointment and item.
std::string MasterId(const std::string& uid);
// "<master id>-<start>": a further occurrence's appointment and item.
std::string OccurrenceId(const std::string& master_id, int32_t start);

// One appointment of an object, with the texts of the VEVENT it comes from.
struct Occurrence {
    int32_t start = 0;
    int32_t finish = 0;
    bool all_day = false;
    std::string summary;
    std::string location;
    std::string description;
    int64_t stamp = -1;  // DTSTAMP in seconds since 1970; -1 when the VEVENT has none
};

struct CalendarObject {
    std::string uid;
    std::string text;  // the object's own VCALENDAR, lines ended by CR LF
    bool recurring = false;
    std::vector<Occurrence> occurrences;  // in time order; the first is the master's
};

struct RefusedObject {
    std::string uid;  // empty when the VEVENT has none
    std::string reason;
};

struct ParsedCalendar {
    std::vector<CalendarObject> objects;
    std::vector<RefusedObject> refused;
    int ignored = 0;  // components that are neither events nor time zones
};

// Splits an iCalendar text into objects by UID, each with its own VCALENDAR text as libical writes
// it (VERSION, our PRODID, the VTIMEZONEs its events name, its VEVENTs), and expands each within
// the window. False when the text holds no VCALENDAR.
bool ParseCalendar(const std::string& ics, const Window& window, ParsedCalendar* out);

// A header value: CR, LF and TAB as spaces, cut to 1000 bytes at a UTF-8 character boundary.
std::string HeaderValue(const std::string& text);

// The item files of an object's appointments. `href` is the CalDAV resource name, empty when no
// client chose one; `now` dates an item whose VEVENT has no DTSTAMP.
std::string MasterItemText(const CalendarObject& object, const std::string& href, int64_t now);
std::string OccurrenceItemText(const CalendarObject& object, size_t index,
                               const std::string& master_id, int64_t now);

// The value of a header of an item file (the first line of that name, letter case ignored).
bool ItemHeader(const std::string& item, const char* name, std::string* value);
// "09:00:00 07 Dec, 2026" (UTC) and "Mon, 07 Dec 2026 09:00:00 +0000", read back.
bool ParseShortDate(const std::string& text, int64_t* seconds);
bool ParseMessageDate(const std::string& text, int64_t* seconds);

// One VCALENDAR made of stored objects: their VEVENTs, and their VTIMEZONEs once per TZID.
class CalendarWriter {
  public:
    CalendarWriter();
    ~CalendarWriter();
    CalendarWriter(const CalendarWriter&) = delete;
    CalendarWriter& operator=(const CalendarWriter&) = delete;

    // An object's stored VCALENDAR text; false (nothing added) when it holds no VEVENT.
    bool AddObject(const std::string& vcalendar);
    // An appointment that has no calendar part: a VEVENT made from its line and its item file.
    void AddAppointment(const std::string& id, int32_t start, int32_t finish,
                        const std::string& item);
    std::string Text() const;

  private:
    struct State;
    std::unique_ptr<State> state_;
};

// The VCALENDAR that stands for an appointment made without a calendar part (by a host or by
// cvcal add): the VEVENT that CalendarWriter::AddAppointment makes, alone.
std::string HostAppointmentText(const std::string& id, int32_t start, int32_t finish,
                                const std::string& item);

}  // namespace cvical
