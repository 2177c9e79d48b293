// What the appointment operations check and derive from a record, shared by the changes and the
// reads (appointment_changes.cpp, appointment_reads.cpp).
#pragma once

#include <cstring>
#include <string_view>

#include "include/cvaicp.h"
#include "platform/platform.h"
#include "store/calendar_paths.h"
#include "store/period_file.h"

namespace cv {

// The names of a record that reach the file system, and the id it filters on: every one must end
// inside its field; the names must be single path components.
inline bool IsUsableRecord(const AppointmentRequest& request) {
    return HasValidMailbox(request) &&
           IsPathComponent(request.PeriodName, sizeof request.PeriodName) &&
           FieldText(request.ItemId, sizeof request.ItemId) != nullptr;
}

// The Calendar folder is not made here: every operation makes it, but only once it has found it
// missing (it is there for all but the first call on a mailbox, and asking costs a call).
inline bool ResolvePaths(const AppointmentRequest& request, PeriodPaths* paths) {
    return BuildCalendarPaths(request, paths, false) != 0;
}

inline void MakeCalendarFolder(const PeriodPaths& paths) {
    MakeDirectory(paths.folder);  // one level: a missing mailbox folder is not made
}

inline PeriodLine ParsePiece(std::string_view piece) {
    char text[kLineSize];
    size_t length = piece.size() < sizeof text ? piece.size() : sizeof text - 1;
    std::memcpy(text, piece.data(), length);
    text[length] = '\0';
    return ParsePeriodLine(text);
}

}  // namespace cv
