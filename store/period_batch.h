// Changes of period files in one step each, for the hosts that write many lines at once (the
// iCalendar engine): no export reaches them, so the DLL does not carry them.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "include/cvaicp.h"

namespace cv {

// A line one change puts in.
struct NewLine {
    int32_t start;
    int32_t finish;
    std::string id;
};

enum class ChangeOutcome {
    kDone,
    kBusy,    // a period could not be taken within the configured waits: nothing changed
    kFailed,  // a file could not be read or written, or a name or id is unusable
};

// One change of the period named by request's Postoffice/Mailbox/PeriodName, under its blocking
// file and through its temporary copy as every change: the lines whose ids are in `remove`
// (letter case ignored) go, then each line of `add` whose id the file does not hold yet is
// appended. kFailed: nothing changed either. An empty file is deleted; a file the change would
// leave as it is is not written. Marks the calendar changed like the single-line changes.
ChangeOutcome ChangePeriodLines(const AppointmentRequest& request,
                                const std::vector<std::string>& remove,
                                const std::vector<NewLine>& add);

// The change of one period among several.
struct PeriodChange {
    std::string period;
    std::vector<std::string> remove;
    std::vector<NewLine> add;
};

// Several periods of the calendar named by request's Postoffice/Mailbox changed as one: every
// period is taken (in the order of their names, so that two such batches never wait for each
// other) and read before any is changed, so that a busy or unreadable one leaves all as they
// were. Then `before_commit`, where given, runs while the periods are held (the engine writes its
// item files there; false gives kFailed with no period changed), and the changes are committed in
// the order given. A commit that fails after others succeeded gives kFailed with those in place.
ChangeOutcome ChangeCalendarPeriods(const AppointmentRequest& request,
                                    const std::vector<PeriodChange>& changes,
                                    const std::function<bool()>& before_commit = nullptr);

}  // namespace cv
