// The engine: iCalendar objects put into, deleted from, rolled in and exported from one mailbox's
// calendar, in the layout of docs/ICALENDAR.md, through the store floor's own code (item files by
// the paths and bytes the item exports write, period lines by ChangeCalendarPeriods).
//
// Writes: item files first, then the lines, every period involved taken before any is changed
// (so that a busy one leaves the calendar as it was) and the master's period committed last;
// removals: the lines, then the item files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "icalendar/mailbox_calendar.h"
#include "icalendar/objects.h"
#include "icalendar/window.h"

namespace cvical {

// One line of a period file.
struct StoredLine {
    std::string id;
    std::string period;
    int32_t start = 0;
    int32_t finish = 0;
};

// Where a caller knows the calendar's lines (the catalogue), it tells them, and the engine walks
// no period file to find them.
class LineLookup {
  public:
    virtual ~LineLookup() = default;
    // The lines of the appointment `id` and of every appointment whose id is `id` followed by
    // "-" (an object's occurrences), letter case ignored; in any order.
    virtual std::vector<StoredLine> ObjectLines(const std::string& id) const = 0;
    // The item files named as occurrences of `id` (its id, "-" and more, letter case ignored), as
    // the caller last saw the Calendar folder, sorted; false when it keeps no such record, and
    // the folder is searched instead.
    virtual bool OccurrenceItems(const std::string& id, std::vector<std::string>* names) const {
        (void)id;
        (void)names;
        return false;
    }
};

// Every line of a calendar, read once by walking its period files: for a caller that puts many
// objects in a row (cvcal import) and has no catalogue.
class WalkedLines : public LineLookup {
  public:
    explicit WalkedLines(const MailboxCalendar& calendar);
    std::vector<StoredLine> ObjectLines(const std::string& id) const override;
    // False when a period file could not be read whole: the lines are not all there are.
    bool complete() const { return complete_; }
    const std::vector<StoredLine>& lines() const { return lines_; }  // by id, letter case ignored

  private:
    std::vector<StoredLine> lines_;
    std::vector<std::string> folded_;  // the lines' ids in lower case, for the look-ups
    bool complete_ = true;
};

enum class PutOutcome { kAdded, kReplaced, kUnchanged, kRefused, kBusy };

struct PutResult {
    PutOutcome outcome = PutOutcome::kRefused;
    std::string master_id;
    std::string reason;  // why it was refused or busy
};

// Stores an object (as ParseCalendar made it, expanded within `window`) under its master id:
// - kUnchanged when the master item holds the same VCALENDAR text and its line is there (the
//   occurrences are then brought to what the window gives now, as a roll would);
// - kReplaced when it replaces an object of the same UID, or a host's appointment whose id is
//   the UID; a replacement keeps the X-CVHref of the item it replaces when `href` is empty;
// - kRefused when the master id's item belongs to another UID, or the store refused a write;
// - kBusy when a period could not be taken: nothing changed.
// `known`, where given, tells the existing lines; else the engine walks the periods.
PutResult PutObject(const MailboxCalendar& calendar, const CalendarObject& object,
                    const std::string& href, const Window& window,
                    const LineLookup* known = nullptr);

enum class DeleteOutcome { kDeleted, kNotFound, kBusy, kFailed };

// Removes an object by its master id, or a host's appointment by its id: every line (one change
// per period), then the item files. An occurrence's id is not an object: kNotFound.
DeleteOutcome DeleteObject(const MailboxCalendar& calendar, const std::string& id,
                           const LineLookup* known = nullptr);

struct RollResult {
    int objects = 0;  // recurring objects whose occurrences changed
    int added = 0;    // occurrences added
    int removed = 0;  // occurrences removed
    int busy = 0;     // objects left as they were for a busy period (a later roll retries)
    int failed = 0;   // objects that could not be read or written
};

// Brings every recurring object's occurrences to what the window gives now: the missing ones
// added (items, then lines), those before the back edge removed (lines, then items). A second
// roll with the same window changes and writes nothing.
RollResult RollCalendar(const MailboxCalendar& calendar, const Window& window,
                        const LineLookup* known = nullptr);

// One VCALENDAR of every object that meets [from, to]: stored objects as they are (by their
// spans, so also those whose occurrences there are not stored), host appointments as VEVENTs.
// `objects`, where given, is set to how many it holds.
std::string ExportCalendar(const MailboxCalendar& calendar, int32_t from, int32_t to,
                           int* objects = nullptr);

}  // namespace cvical
