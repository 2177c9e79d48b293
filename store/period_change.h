// What every change of a period file shares (appointment_changes.cpp, period_batch.cpp): the
// period held under its blocking file, its lines handed out as read, and the lines that stay
// written back.
#pragma once

#include <cstring>
#include <optional>
#include <string_view>

#include "platform/platform.h"
#include "store/appointment_record.h"
#include "store/blocking_file.h"
#include "store/calendar_paths.h"
#include "store/period_file.h"

namespace cv {

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
        // Once the period is taken, no other writer makes, replaces or removes its files: the
        // names they go under need not be looked up afresh for each of them. The scope begins
        // before the blocking file is made, so that the look-up that follows its making (for a
        // twin of it under another case) counts as the fresh one.
        names_.emplace();
        held_ = LockPeriod(paths_) != 0;
        if (!held_ && LastSystemError() == kErrorPathNotFound) {
            MakeCalendarFolder(paths_);
            held_ = LockPeriod(paths_) != 0;
        }
        if (!held_) names_.reset();
        return held_;
    }

    // Writes the new content as the temporary copy and puts it in place. On a failed write
    // nothing changes: the copy is removed and the period released. `read`, where given, read the
    // period file whole under the blocking file: the backup is written from what it holds.
    int32_t Commit(const PeriodFileWriter& writer, const PeriodFileReader* read = nullptr) {
        if (!writer.WriteTo(paths_.temporary)) return 0;
        return Commit(CommitAction::kReplace, read);
    }
    int32_t Commit(CommitAction action, const PeriodFileReader* read = nullptr) {
        held_ = false;
        const int32_t committed =
            CommitPeriod(paths_, action, read != nullptr ? read->whole() : nullptr);
        names_.reset();
        return committed;
    }

  private:
    const PeriodPaths& paths_;
    bool held_ = false;
    std::optional<HeldNamesScope> names_;  // declared last: it ends after the period is given back
};

// Takes the period and opens its file. False when the period cannot be had or its file cannot be
// opened (the period is then given back when `period` goes).
inline bool TakeAndOpen(HeldPeriod* period, const PeriodPaths& paths, PeriodFileReader* reader) {
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
inline void Keep(PeriodFileWriter* writer, std::string_view piece, const PeriodPiece& view) {
    if (view.AsWritten()) {
        writer->AddAsWritten(piece);
        return;
    }
    PeriodLine line = ParsePiece(piece);
    writer->Add(line.start, line.finish, line.id);
}

}  // namespace cv
