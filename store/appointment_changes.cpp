// The appointment changes: a line added, removed or replaced in a period file, under the period's
// blocking file and through its temporary copy.
#include <cstring>
#include <string>
#include <string_view>

#include "common/platform.h"
#include "store/appointment_record.h"
#include "store/appointments.h"
#include "store/blocking_file.h"
#include "store/calendar_paths.h"
#include "store/period_file.h"

namespace cv {
namespace {

// An id that is written into a period file: a tab or a line break would split it into extra
// fields or extra lines.
bool IsWritableId(const char (&id)[64]) {
    const char* text = FieldText(id, sizeof id);
    return text != nullptr && std::strpbrk(text, "\t\r\n") == nullptr;
}

// The period a change holds: its blocking file, taken by Take and given back, with any temporary
// copy removed, by whatever way the change ends (an exception included) unless Commit has put the
// change in place, which releases the period itself.
class HeldPeriod {
  public:
    explicit HeldPeriod(const PeriodPaths& paths) : paths_(paths) {}
    ~HeldPeriod() {
        if (!held_) return;
        RemoveFile(paths_.temporary);
        UnlockPeriod(paths_);
    }
    HeldPeriod(const HeldPeriod&) = delete;
    HeldPeriod& operator=(const HeldPeriod&) = delete;

    // Takes the period, making the Calendar folder when the blocking file cannot be made for want
    // of it.
    bool Take() {
        held_ = LockPeriod(paths_) != 0;
        if (!held_ && LastSystemError() == kErrorPathNotFound) {
            MakeCalendarFolder(paths_);
            held_ = LockPeriod(paths_) != 0;
        }
        return held_;
    }

    // Writes the new content as the temporary copy and puts it in place. On a failed write
    // nothing changes: the copy is removed and the period released.
    int32_t Commit(const PeriodFileWriter& writer) {
        if (!writer.WriteTo(paths_.temporary)) return 0;
        return Commit(CommitAction::kReplace);
    }
    int32_t Commit(CommitAction action) {
        held_ = false;
        return CommitPeriod(paths_, action);
    }

  private:
    const PeriodPaths& paths_;
    bool held_ = false;
};

// Takes the period and opens its file. False when the period cannot be had or its file cannot be
// opened (the period is then given back when `period` goes).
bool TakeAndOpen(HeldPeriod* period, const PeriodPaths& paths, PeriodFileReader* reader) {
    return period->Take() && reader->Open(paths.period);
}

// Hands every non-empty line of the file to visit, as read and as seen in place (its id, and
// whether it is written as the writer writes it), after letting go of the file (Windows does not
// replace a file that is open). False, with nothing visited, when the file could not be read
// whole. A line is parsed only where the operation needs its numbers: a file of a thousand lines
// is read at every call.
template <typename Visit>
bool ForEachLine(PeriodFileReader* reader, PeriodFileWriter* writer, Visit visit) {
    std::string_view rest;
    bool whole = reader->ReadRest(&rest);
    reader->Close();
    if (!whole) return false;
    // The new content is about as long as the old, and one line more at most.
    writer->Reserve(rest.size() + kLineSize + 64);
    // Files seldom hold a NUL; one search of the whole text spares one in every line.
    const bool may_hold_nul =
        !rest.empty() && std::memchr(rest.data(), '\0', rest.size()) != nullptr;
    while (!rest.empty()) {
        std::string_view piece;
        PeriodPiece view;
        if (size_t consumed = may_hold_nul ? 0 : CutCommonLine(rest, &piece, &view)) {
            rest.remove_prefix(consumed);
            visit(piece, view);
            continue;
        }
        rest.remove_prefix(CutPiece(rest, &piece));
        if (!piece.empty()) visit(piece, ViewPeriodPiece(piece, may_hold_nul));
    }
    return true;
}

// Whether a line's id is a request's, as MatchesId has it; ids of another length are passed over
// before any byte is compared, since a change looks at every line of the file and most of them
// are other appointments.
class IdMatch {
  public:
    explicit IdMatch(const char* id) : id_(id), length_(std::strlen(id)) {}
    bool operator()(std::string_view line_id) const {
        return length_ == 0 || (line_id.size() == length_ && MatchesId(line_id, id_));
    }

  private:
    const char* id_;
    size_t length_;
};

// Writes a line that stays: its own bytes when they are what the writer would write, else the
// line parsed and written in the normal form.
void Keep(PeriodFileWriter* writer, std::string_view piece, const PeriodPiece& view) {
    if (view.AsWritten()) {
        writer->AddAsWritten(piece);
        return;
    }
    PeriodLine line = ParsePiece(piece);
    writer->Add(line.start, line.finish, line.id);
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
    int32_t committed = period.Commit(writer);
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
        committed = period.Commit(CommitAction::kDelete);
    } else {
        committed = period.Commit(writer);
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
    int32_t committed = period.Commit(writer);
    if (committed) MarkCalendarChanged(paths);
    return committed;
}

}  // namespace cv
