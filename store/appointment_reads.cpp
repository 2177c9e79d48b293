// The appointment reads: one line looked up by id, and the walk over a period file, which resumes
// where it stopped on an unchanged file.
#include <cstring>
#include <string_view>

#include "platform/platform.h"
#include "store/appointment_record.h"
#include "store/appointments.h"
#include "store/blocking_file.h"
#include "store/calendar_paths.h"
#include "store/period_file.h"
#include "store/period_search.h"
#include "store/store_state.h"
#include "store/walk_memo.h"

namespace cv {
namespace {

void CopyId(char (&out)[64], const char* id) {
    size_t length = std::strlen(id);
    if (length >= sizeof out) length = sizeof out - 1;  // longer ids do not fit the record
    std::memcpy(out, id, length);
    out[length] = '\0';
}

}  // namespace

int32_t GetAppointment(AppointmentRequest* request) {
    PeriodPaths paths;
    if (!IsUsableRecord(*request)) return 0;
    if (!ResolvePaths(*request, &paths)) return 0;
    WaitWhileLocked(paths);

    PeriodFileReader reader(PeriodFileReader::Purpose::kLookup);
    if (!reader.Open(paths.period)) {
        MakeCalendarFolder(paths);
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
            CopyId(id, ParsePiece(piece).id);
        }
        if (found.empty()) return 0;
    }
    PeriodLine line = ParsePiece(found);
    CopyId(request->ItemId, line.id);
    request->StartTime = line.start;
    request->FinishTime = line.finish;
    return 1;
}

int32_t FindFirstAppointment(AppointmentRequest* request, bool* failed) {
    SetEnumerationSlot(0);
    return FindNextAppointment(request, failed);
}

int32_t FindNextAppointment(AppointmentRequest* request, bool* failed) {
    bool unused;
    if (failed == nullptr) failed = &unused;
    *failed = false;
    PeriodPaths paths;
    if (!IsUsableRecord(*request)) return 0;
    if (!ResolvePaths(*request, &paths)) return 0;
    // The cursor is the number of the last line examined on this thread, whatever file it was in.
    int32_t cursor = GetEnumerationSlot();
    WaitWhileLocked(paths);

    PeriodFileReader reader(PeriodFileReader::Purpose::kWalk);
    if (!reader.Open(paths.period)) {
        uint32_t why = LastSystemError();
        *failed = why != kErrorFileNotFound && why != kErrorPathNotFound;
        MakeCalendarFolder(paths);
        return 0;
    }
    FileState state;
    bool known = reader.file().GetState(&state);
    int32_t line_number = 0;
    uint64_t offset = 0;
    if (known && FindWalkStop(paths.period, state, cursor, &offset)) {
        if (!reader.SeekTo(offset)) {
            *failed = true;
            return 0;
        }
        line_number = cursor;
    }
    const int32_t from_line = line_number;
    int32_t result = 0;
    std::string_view piece;
    while (reader.Next(&piece)) {
        ++line_number;
        if (line_number <= cursor) continue;
        cursor = line_number;
        if (piece.empty()) continue;  // counted, but there is nothing to hand out
        PeriodLine line = ParsePiece(piece);
        if (MatchesId(line.id, request->ItemId)) {
            CopyId(request->ItemId, line.id);
            request->StartTime = line.start;
            request->FinishTime = line.finish;
            result = 1;
            break;
        }
    }
    SetEnumerationSlot(cursor);
    *failed = reader.failed();
    if (known && !reader.failed() && line_number == cursor) {
        RememberWalkStop(paths.period, state, from_line, cursor, reader.position());
    }
    return result;
}

void VisitAllAppointments(const AppointmentRequest& request,
                          const std::function<void(const PeriodLine&)>& visit, bool* failed,
                          const FolderHandle* folder) {
    *failed = false;
    SetEnumerationSlot(0);
    PeriodPaths paths;
    if (!IsUsableRecord(request) || !ResolvePaths(request, &paths)) return;
    WaitWhileLocked(paths);

    PeriodFileReader reader(PeriodFileReader::Purpose::kLookup);
    if (!reader.Open(paths.period, folder)) {
        uint32_t why = LastSystemError();
        *failed = why != kErrorFileNotFound && why != kErrorPathNotFound;
        MakeCalendarFolder(paths);
        return;
    }
    std::string_view text;
    *failed = !reader.ReadRest(&text);
    reader.Close();  // the text stays; a writer cannot replace a file that is still open
    int32_t line_number = 0;
    while (!text.empty()) {
        std::string_view piece;
        text.remove_prefix(CutPiece(text, &piece));
        ++line_number;
        if (!piece.empty()) visit(ParsePiece(piece));  // an empty piece is counted all the same
    }
    SetEnumerationSlot(line_number);
}

}  // namespace cv
