#include "provider/appointments.h"

#include <cstring>
#include <string>
#include <string_view>

#include "common/platform.h"
#include "filelock/blocking_file.h"
#include "provider/calendar_paths.h"
#include "provider/forwarding.h"
#include "provider/module.h"
#include "provider/period_file.h"
#include "provider/period_search.h"

namespace cv {
namespace {

// The names of a record that reach the file system, and the id it filters on: every one must end
// inside its field; the names must be single path components.
bool IsUsableRecord(const AppointmentRequest& request) {
    return HasValidMailbox(request) &&
           IsPathComponent(request.PeriodName, sizeof request.PeriodName) &&
           FieldText(request.ItemId, sizeof request.ItemId) != nullptr;
}

// An id that is written into a period file: a tab or a line break would split it into extra
// fields or extra lines.
bool IsWritableId(const char (&id)[64]) {
    const char* text = FieldText(id, sizeof id);
    return text != nullptr && std::strpbrk(text, "\t\r\n") == nullptr;
}

// The paths one operation works on.
struct PeriodPaths {
    char period_path[kPeriodPathSize];
    char period[kPathSize];
    char temporary[kPathSize];
};

// The Calendar folder is not made here: every operation makes it, but only once it has found it
// missing (it is there for all but the first call on a mailbox, and asking costs a call).
bool ResolvePaths(const AppointmentRequest& request, PeriodPaths* paths) {
    return BuildCalendarPaths(request, paths->period_path, false) &&
           PeriodFilePath(paths->period, paths->period_path, ".CAL") &&
           PeriodFilePath(paths->temporary, paths->period_path, ".TMP");
}

void MakeCalendarFolder(const AppointmentRequest& request) {
    char period_path[kPeriodPathSize];
    BuildCalendarPaths(request, period_path, true);
}

// Takes the period, making the Calendar folder when the blocking file cannot be made for want of
// it.
bool LockPeriodOf(const AppointmentRequest& request, const PeriodPaths& paths) {
    if (LockPeriod(paths.period_path)) return true;
    if (LastSystemError() != kErrorPathNotFound) return false;
    MakeCalendarFolder(request);
    return LockPeriod(paths.period_path) != 0;
}

PeriodLine Parse(std::string_view piece) {
    char text[kLineSize];
    size_t length = piece.size() < sizeof text ? piece.size() : sizeof text - 1;
    std::memcpy(text, piece.data(), length);
    text[length] = '\0';
    return ParsePeriodLine(text);
}

void CopyId(char (&out)[64], const char* id) {
    size_t length = std::strlen(id);
    if (length >= sizeof out) length = sizeof out - 1;  // longer ids do not fit the record
    std::memcpy(out, id, length);
    out[length] = '\0';
}

// Writes the new content as the temporary copy and puts it in place. On a failed write nothing
// changes: the copy is removed and the period released.
int WriteAndCommit(const PeriodPaths& paths, const PeriodFileWriter& writer) {
    if (!writer.WriteTo(paths.temporary)) {
        RemoveFile(paths.temporary);
        UnlockPeriod(paths.period_path);
        return 0;
    }
    return CommitPeriod(paths.period_path, CommitAction::kReplace);
}

// Takes the period and opens its file. False, with the period released, when the period cannot be
// had or its file cannot be opened.
bool LockAndOpen(const AppointmentRequest& request, const PeriodPaths& paths,
                 PeriodFileReader* reader) {
    if (!LockPeriodOf(request, paths)) return false;
    if (reader->Open(paths.period)) return true;
    UnlockPeriod(paths.period_path);
    return false;
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
    PeriodLine line = Parse(piece);
    writer->Add(line.start, line.finish, line.id);
}

// A period file that could not be read whole is not rewritten: the period is released unchanged.
int32_t Abandon(const PeriodPaths& paths) {
    UnlockPeriod(paths.period_path);
    return 0;
}

// Where the last walk on this thread stopped: the file, as it was then, and the byte offset after
// the cursor's line. A walk that goes on over the same, unchanged file starts there instead of
// reading from the first line again, so walking a file costs its length once, not its square.
struct WalkPosition {
    bool valid = false;
    char path[kPathSize];
    uint64_t identity = 0;
    int64_t size = -1;
    FileTime written = 0;
    int32_t line = 0;
    uint64_t offset = 0;
};
thread_local WalkPosition t_walk;

// Whether the last walk step on this thread stopped because the period file could not be read,
// rather than at its end or because there is no such file.
thread_local bool t_walk_failed = false;

}  // namespace

int32_t AddAppointment(const AppointmentRequest& request) {
    PeriodPaths paths;
    if (!IsUsableRecord(request) || !IsWritableId(request.ItemId)) return 0;
    if (!ResolvePaths(request, &paths) || !LockPeriodOf(request, paths)) return 0;

    PeriodFileReader reader(PeriodFileReader::Purpose::kChange);
    PeriodFileWriter writer;
    if (!reader.Open(paths.period)) {
        // Only a period file that is really not there is started anew; one that exists but cannot
        // be read must not be overwritten.
        if (LastSystemError() != kErrorFileNotFound) {
            UnlockPeriod(paths.period_path);
            return 0;
        }
        writer.Add(request.StartTime, request.FinishTime, request.ItemId);
        int32_t created = WriteAndCommit(paths, writer);
        if (created) MarkCalendarChanged(request);
        return created;
    }

    bool duplicate = false;
    IdMatch matches(request.ItemId);
    bool whole =
        ForEachLine(&reader, &writer, [&](std::string_view piece, const PeriodPiece& view) {
            if (matches(view.id)) duplicate = true;
            Keep(&writer, piece, view);
        });
    if (!whole) return Abandon(paths);
    if (!duplicate) writer.Add(request.StartTime, request.FinishTime, request.ItemId);
    // A duplicate still rewrites the file, so that it is normalised and backed up as any change.
    int32_t committed = WriteAndCommit(paths, writer);
    return committed && !duplicate ? 1 : 0;
}

int32_t RemoveAppointment(const AppointmentRequest& request) {
    PeriodPaths paths;
    if (!IsUsableRecord(request)) return 0;
    PeriodFileReader reader(PeriodFileReader::Purpose::kChange);
    if (!ResolvePaths(request, &paths) || !LockAndOpen(request, paths, &reader)) return 0;
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
    if (!whole) return Abandon(paths);
    int32_t committed;
    if (found && writer.lines() == 0) {
        // The period is empty now: its file goes while the period is still blocked, so that a
        // writer coming next starts a new file rather than losing its line to a late delete.
        committed = CommitPeriod(paths.period_path, CommitAction::kDelete);
    } else {
        committed = WriteAndCommit(paths, writer);
    }
    MarkCalendarChanged(request);
    return found && committed ? 1 : 0;
}

int32_t EditAppointment(const AppointmentRequest& old_request,
                        const AppointmentRequest& new_request) {
    PeriodPaths paths;
    if (!IsUsableRecord(old_request) || !IsWritableId(new_request.ItemId)) return 0;
    PeriodFileReader reader(PeriodFileReader::Purpose::kChange);
    if (!ResolvePaths(old_request, &paths) || !LockAndOpen(old_request, paths, &reader)) return 0;
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
    if (!whole) return Abandon(paths);
    int32_t committed = WriteAndCommit(paths, writer);
    if (committed) MarkCalendarChanged(old_request);
    return committed;
}

int32_t GetAppointment(AppointmentRequest* request) {
    PeriodPaths paths;
    if (!IsUsableRecord(*request)) return 0;
    if (!ResolvePaths(*request, &paths)) return 0;
    WaitWhileLocked(paths.period_path);

    PeriodFileReader reader(PeriodFileReader::Purpose::kLookup);
    if (!reader.Open(paths.period)) {
        MakeCalendarFolder(*request);
        return 0;
    }
    std::string_view text;
    bool whole = reader.ReadRest(&text);
    reader.Close();
    // A file read in part would answer with whatever line the part held: none is given.
    if (!whole) return 0;
    std::string_view found;
    if (request->ItemId[0] != '\0') {
        // The last line with the id wins.
        if (!FindLastPieceWithId(text, request->ItemId, &found)) return 0;
    } else {
        // An empty id takes the first line, and then the later lines that have that line's id.
        char id[sizeof request->ItemId] = "";
        while (!text.empty()) {
            std::string_view piece;
            text.remove_prefix(CutPiece(text, &piece));
            if (piece.empty() || !MatchesId(ViewPeriodPiece(piece).id, id)) continue;
            found = piece;
            CopyId(id, Parse(piece).id);
        }
        if (found.empty()) return 0;
    }
    PeriodLine line = Parse(found);
    CopyId(request->ItemId, line.id);
    request->StartTime = line.start;
    request->FinishTime = line.finish;
    return 1;
}

bool LastWalkStepFailed() {
    return t_walk_failed;
}

int32_t FindFirstAppointment(AppointmentRequest* request) {
    SetEnumerationSlot(0);
    return FindNextAppointment(request);
}

int32_t FindNextAppointment(AppointmentRequest* request) {
    t_walk_failed = false;
    PeriodPaths paths;
    if (!IsUsableRecord(*request)) return 0;
    if (!ResolvePaths(*request, &paths)) return 0;
    // The cursor is the number of the last line examined on this thread, whatever file it was in.
    int32_t cursor = GetEnumerationSlot();
    WaitWhileLocked(paths.period_path);

    PeriodFileReader reader(PeriodFileReader::Purpose::kWalk);
    if (!reader.Open(paths.period)) {
        uint32_t why = LastSystemError();
        t_walk_failed = why != kErrorFileNotFound && why != kErrorPathNotFound;
        MakeCalendarFolder(*request);
        return 0;
    }
    FileState state;
    bool known = reader.file().GetState(&state);
    int32_t line_number = 0;
    bool resume = known && t_walk.valid && t_walk.line == cursor &&
                  std::strcmp(t_walk.path, paths.period) == 0 &&
                  t_walk.identity == state.identity && t_walk.size == state.size &&
                  t_walk.written == state.written;
    if (resume) {
        if (!reader.SeekTo(t_walk.offset)) {
            t_walk_failed = true;
            return 0;
        }
        line_number = cursor;
    }
    int32_t result = 0;
    std::string_view piece;
    while (reader.Next(&piece)) {
        ++line_number;
        if (line_number <= cursor) continue;
        cursor = line_number;
        if (piece.empty()) continue;  // counted, but there is nothing to hand out
        PeriodLine line = Parse(piece);
        if (MatchesId(line.id, request->ItemId)) {
            CopyId(request->ItemId, line.id);
            request->StartTime = line.start;
            request->FinishTime = line.finish;
            result = 1;
            break;
        }
    }
    SetEnumerationSlot(cursor);
    t_walk_failed = reader.failed();
    t_walk.valid = known && !reader.failed() && line_number == cursor;
    if (t_walk.valid) {
        std::memcpy(t_walk.path, paths.period, sizeof t_walk.path);
        t_walk.identity = state.identity;
        t_walk.size = state.size;
        t_walk.written = state.written;
        t_walk.line = cursor;
        t_walk.offset = reader.position();
    }
    return result;
}

}  // namespace cv

using cv::RemoteExport;
using cv::RemoteOrLocal;

extern "C" {

// Each export turns away a missing record, offers the call to the remote host, and otherwise does
// its local work.

int32_t CVAPI AppointmentAdd(AppointmentRequest* request) {
    if (request == nullptr) return 0;
    return RemoteOrLocal(RemoteExport::kAppointmentAdd, request, nullptr,
                         [&] { return cv::AddAppointment(*request); });
}

int32_t CVAPI AppointmentRemove(AppointmentRequest* request) {
    if (request == nullptr) return 0;
    return RemoteOrLocal(RemoteExport::kAppointmentRemove, request, nullptr,
                         [&] { return cv::RemoveAppointment(*request); });
}

int32_t CVAPI AppointmentEdit(AppointmentRequest* old_request, AppointmentRequest* new_request) {
    if (old_request == nullptr || new_request == nullptr) return 0;
    return RemoteOrLocal(RemoteExport::kAppointmentEdit, old_request, new_request,
                         [&] { return cv::EditAppointment(*old_request, *new_request); });
}

int32_t CVAPI AppointmentGet(AppointmentRequest* request) {
    if (request == nullptr) return 0;
    return RemoteOrLocal(RemoteExport::kAppointmentGet, request, nullptr,
                         [&] { return cv::GetAppointment(request); });
}

int32_t CVAPI AppointmentFindFirst(AppointmentRequest* request) {
    if (request == nullptr) return 0;
    return RemoteOrLocal(RemoteExport::kAppointmentFindFirst, request, nullptr,
                         [&] { return cv::FindFirstAppointment(request); });
}

int32_t CVAPI AppointmentFindNext(AppointmentRequest* request) {
    if (request == nullptr) return 0;
    return RemoteOrLocal(RemoteExport::kAppointmentFindNext, request, nullptr,
                         [&] { return cv::FindNextAppointment(request); });
}

}  // extern "C"
