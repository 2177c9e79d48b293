#include "icalendar/engine.h"

namespace cvical {

WalkedLines::WalkedLines(const MailboxCalendar&) : complete_(false) {}

std::vector<StoredLine> WalkedLines::ObjectLines(const std::string&) const {
    return {};
}

PutResult PutObject(const MailboxCalendar&, const CalendarObject&, const std::string&,
                    const Window&, const LineLookup*) {
    return {PutOutcome::kRefused, "", "not written yet"};
}

DeleteOutcome DeleteObject(const MailboxCalendar&, const std::string&, const LineLookup*) {
    return DeleteOutcome::kFailed;
}

RollResult RollCalendar(const MailboxCalendar&, const Window&, const LineLookup*) {
    return {};
}

std::string ExportCalendar(const MailboxCalendar&, int32_t, int32_t, int* objects) {
    if (objects != nullptr) *objects = 0;
    return {};
}

}  // namespace cvical
