// The appointment changes: a line added, removed or replaced in a period file, under the period's
// blocking file and through its temporary copy.
#include <cstring>
#include <string>
#include <string_view>

#include "platform/platform.h"
#include "store/appointment_record.h"
#include "store/appointments.h"
#include "store/calendar_paths.h"
#include "store/period_change.h"
#include "store/period_file.h"

namespace cv {
namespace {

// An id that is written into a period file: a tab or a line break would split it into extra
// fields or extra lines.
bool IsWritableId(const char (&id)[64]) {
    const char* text = FieldText(id, sizeof id);
    return text != nullptr && std::strpbrk(text, "\t\r\n") == nullptr;
}

}  // namespace

int32_t AddAppointment(const AppointmentRequest& request) {
    PeriodPaths paths;
    if (!IsUsableRecord(request) || !IsWritableId(request.ItemId)) return 0;
    if (!ResolvePaths(request, &paths)) return 0;
    HeldPeriod period(paths);
    if (!period.Take()) return 0;

    PeriodFileReader reader(PeriodFileReader::Purpose::kChange);
    PeriodFileWriter writer;
    if (!reader.Open(paths.period)) {
        // Only a period file that is really not there is started anew; one that exists but cannot
        // be read must not be overwritten.
        if (LastSystemError() != kErrorFileNotFound) return 0;
        writer.Add(request.StartTime, request.FinishTime, request.ItemId);
        int32_t created = period.Commit(writer);
        if (created) MarkCalendarChanged(paths);
        return created;
    }

    bool duplicate = false;
    IdMatch matches(request.ItemId);
    bool whole =
        ForEachLine(&reader, &writer, [&](std::string_view piece, const PeriodPiece& view) {
            if (matches(view.id)) duplicate = true;
            Keep(&writer, piece, view);
        });
    // A period file that could not be read whole is not rewritten.
    if (!whole) return 0;
    if (!duplicate) writer.Add(request.StartTime, request.FinishTime, request.ItemId);
    // A duplicate still rewrites the file, so that it is normalised and backed up as any change.
    int32_t committed = period.Commit(writer, &reader);
    return committed && !duplicate ? 1 : 0;
}

int32_t RemoveAppointment(const AppointmentRequest& request) {
    PeriodPaths paths;
    if (!IsUsableRecord(request) || !ResolvePaths(request, &paths)) return 0;
    HeldPeriod period(paths);
    PeriodFileReader reader(PeriodFileReader::Purpose::kChange);
    if (!TakeAndOpen(&period, paths, &reader)) return 0;
    PeriodFileWriter writer;
    bool found = false;
    IdMatch matches(request.ItemId);
    bool whole =
        ForEachLine(&reader, &writer, [&](std::string_view piece, const PeriodPiece& view) {
            if (matches(view.id)) {
                found = true;
            } else {
                Keep(&writer, piece, view);
            }
        });
    if (!whole) return 0;
    int32_t committed;
    if (found && writer.lines() == 0) {
        // The period is empty now: its file goes while the period is still blocked, so that a
        // writer coming next starts a new file rather than losing its line to a late delete.
        committed = period.Commit(CommitAction::kDelete, &reader);
    } else {
        committed = period.Commit(writer, &reader);
    }
    MarkCalendarChanged(paths);
    return found && committed ? 1 : 0;
}

int32_t EditAppointment(const AppointmentRequest& old_request,
                        const AppointmentRequest& new_request) {
    PeriodPaths paths;
    if (!IsUsableRecord(old_request) || !IsWritableId(new_request.ItemId)) return 0;
    if (!ResolvePaths(old_request, &paths)) return 0;
    HeldPeriod period(paths);
    PeriodFileReader reader(PeriodFileReader::Purpose::kChange);
    if (!TakeAndOpen(&period, paths, &reader)) return 0;
    PeriodFileWriter writer;
    IdMatch matches(old_request.ItemId);
    bool whole =
        ForEachLine(&reader, &writer, [&](std::string_view piece, const PeriodPiece& view) {
            if (matches(view.id)) {
                writer.Add(new_request.StartTime, new_request.FinishTime, new_request.ItemId);
            } else {
                Keep(&writer, piece, view);
            }
        });
    if (!whole) return 0;
    int32_t committed = period.Commit(writer, &reader);
    if (committed) MarkCalendarChanged(paths);
    return committed;
}

}  // namespace cv
