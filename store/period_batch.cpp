// Period files changed in batches: every period of the batch taken and its new content written
// as the temporary copy before the first is put in place.
#include "store/period_batch.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <memory>
#include <optional>
#include <string_view>
#include <unordered_set>

#include "platform/platform.h"
#include "store/appointment_record.h"
#include "store/calendar_paths.h"
#include "store/period_change.h"
#include "store/period_file.h"

namespace cv {
namespace {

// An id as the period files compare ids: letter case ignored, as the C runtime maps it.
std::string Folded(std::string_view id) {
    std::string folded(id);
    for (char& c : folded) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return folded;
}

// An id that can be a line's: one that ends inside a record's field (the walk hands ids out
// through one), with no NUL, tab or line break to cut it or split the line.
bool IsWritableId(const std::string& id) {
    return !id.empty() && id.size() < sizeof(AppointmentRequest{}.ItemId) &&
           id.find_first_of(std::string_view("\0\t\r\n", 4)) == std::string::npos;
}

// One period of a batch: its paths, held once they are composed, and whether its new content
// differs from the old.
struct HeldChange {
    explicit HeldChange(const PeriodChange& c) : change(c) {}
    const PeriodChange& change;
    PeriodPaths paths;
    std::optional<HeldPeriod> held;
    bool changed = false;
    bool empty = false;
};

// Why a period could not be taken: another writer holds it (its blocking file is there), or the
// file system refused (no folder, no room, a name it cannot have).
ChangeOutcome TakeFailure(const PeriodPaths& paths) {
    return EntryExists(paths.blocking) ? ChangeOutcome::kBusy : ChangeOutcome::kFailed;
}

// Reads the held period's file and writes its new content as the temporary copy. False when the
// file exists but cannot be read whole, or the copy cannot be written.
bool Prepare(HeldChange* held) {
    const PeriodChange& change = held->change;
    std::unordered_set<std::string> gone, present;
    for (const std::string& id : change.remove) gone.insert(Folded(id));
    PeriodFileReader reader(PeriodFileReader::Purpose::kChange);
    PeriodFileWriter writer;
    if (reader.Open(held->paths.period)) {
        bool whole =
            ForEachLine(&reader, &writer, [&](std::string_view piece, const PeriodPiece& view) {
                std::string id = Folded(view.id);
                if (gone.count(id) != 0) {
                    held->changed = true;
                    return;
                }
                if (!change.add.empty()) present.insert(std::move(id));
                Keep(&writer, piece, view);
            });
        if (!whole) return false;
    } else if (LastSystemError() != kErrorFileNotFound) {
        return false;  // there, but not to be read: never overwritten
    }
    for (const NewLine& line : change.add) {
        if (!present.insert(Folded(line.id)).second) continue;
        writer.Add(line.start, line.finish, line.id.c_str());
        held->changed = true;
    }
    if (!held->changed) return true;
    held->empty = writer.lines() == 0;
    return held->empty || writer.WriteTo(held->paths.temporary);
}

}  // namespace

ChangeOutcome ChangePeriodLines(const AppointmentRequest& request,
                                const std::vector<std::string>& remove,
                                const std::vector<NewLine>& add) {
    const char* period = FieldText(request.PeriodName, sizeof request.PeriodName);
    if (period == nullptr) return ChangeOutcome::kFailed;
    return ChangeCalendarPeriods(request, {PeriodChange{period, remove, add}});
}

ChangeOutcome ChangeCalendarPeriods(const AppointmentRequest& request,
                                    const std::vector<PeriodChange>& changes,
                                    const std::function<bool()>& before_commit) {
    if (!HasValidMailbox(request)) return ChangeOutcome::kFailed;
    // Each period once, and held in the order of its name (letter case ignored, as the names of
    // the files are), so that two batches over the same periods cannot each hold what the other
    // waits for.
    std::vector<std::unique_ptr<HeldChange>> held;
    for (const PeriodChange& change : changes) {
        for (const NewLine& line : change.add) {
            if (!IsWritableId(line.id)) return ChangeOutcome::kFailed;
        }
        AppointmentRequest named = request;
        if (change.period.size() >= sizeof named.PeriodName) return ChangeOutcome::kFailed;
        std::memcpy(named.PeriodName, change.period.c_str(), change.period.size() + 1);
        auto one = std::make_unique<HeldChange>(change);
        if (!IsUsableRecord(named) || !ResolvePaths(named, &one->paths)) {
            return ChangeOutcome::kFailed;
        }
        one->held.emplace(one->paths);
        held.push_back(std::move(one));
    }
    std::vector<HeldChange*> order;
    for (auto& one : held) order.push_back(one.get());
    std::sort(order.begin(), order.end(), [](const HeldChange* a, const HeldChange* b) {
        return Folded(a->change.period) < Folded(b->change.period);
    });
    for (size_t i = 1; i < order.size(); ++i) {
        if (Folded(order[i]->change.period) == Folded(order[i - 1]->change.period)) {
            return ChangeOutcome::kFailed;  // one period twice: its changes would overwrite
        }
    }
    for (HeldChange* one : order) {
        if (!one->held->Take()) return TakeFailure(one->paths);
        if (!Prepare(one)) return ChangeOutcome::kFailed;
    }
    if (before_commit && !before_commit()) return ChangeOutcome::kFailed;
    // After a failed commit the later periods stay as they were: the last (an object's master
    // line) must not come without the others. They, and the periods that need no change, are
    // given back as `held` goes.
    bool marked = false;
    for (auto& one : held) {
        if (!one->changed) continue;
        if (!marked) marked = MarkCalendarChanged(one->paths) != 0;
        if (!one->held->Commit(one->empty ? CommitAction::kDelete : CommitAction::kReplace)) {
            return ChangeOutcome::kFailed;
        }
    }
    return ChangeOutcome::kDone;
}

}  // namespace cv
