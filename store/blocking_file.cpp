#include "store/blocking_file.h"

#include <cstdint>
#include <cstdio>

#include "common/diagnostics.h"
#include "common/file_helpers.h"
#include "common/text_helpers.h"
#include "platform/platform.h"
#include "platform/registry.h"
#include "store/calendar_paths.h"
#include "store/store_state.h"

namespace cv {
namespace {

// Waiting is counted in seconds, as the configured waits are. The first second is polled every
// millisecond: an owner that a writer waits for leaves the period free for a moment only (see
// GiveWay), and a waiter that slept longer would miss that moment at every change of hands. Then
// the steps double up to a second, so that a long wait still costs no more than one check a
// second. A writer's waits also end when a name in the Calendar folder comes or goes (FolderWatch),
// so that where the system tells of such changes it sees the period freed at once.
//
// The time waited is the clock's, or the sum of the steps slept in full where that is more (the
// fault tests skip the sleeps): a sleep lasts until the system's timer ticks, on Windows every
// 15.6 ms unless some program asks for finer ticks, so a thousand polls of a millisecond counted as
// one second would stretch every configured wait by a quarter of a minute.
class WaitCounter {
  public:
    // Sleeps one step, or less when `watch` tells of a change (the clock counts that sleep).
    void Sleep(FolderWatch* watch = nullptr) {
        bool woken = false;
        if (watch != nullptr) {
            woken = watch->Wait(step_);
        } else {
            SleepMilliseconds(step_);
        }
        if (!woken) slept_ += step_;
        if (waited() >= 1000) step_ = step_ >= 500 ? 1000 : step_ * 2;
    }
    // Whole seconds waited so far.
    uint32_t seconds() const { return static_cast<uint32_t>(waited() / 1000); }

  private:
    uint64_t waited() const {
        uint32_t elapsed = MonotonicMilliseconds() - start_;  // a difference: the clock wraps
        return slept_ > elapsed ? slept_ : elapsed;
    }

    const uint32_t start_ = MonotonicMilliseconds();
    uint32_t step_ = 1;
    uint64_t slept_ = 0;
};

// A configured wait in seconds, read each time it is compared.
uint32_t ConfiguredWait(const char* name, uint32_t fallback) {
    uint32_t value = fallback;
    if (!GetRegistryDword(kProvidersKey, name, &value)) return fallback;
    return value;
}

uint32_t WriteWait() {
    return ConfiguredWait("Write Wait Timeout", 80);
}
uint32_t ReadWait() {
    return ConfiguredWait("Read Wait Timeout", 60);
}
uint32_t UnblockWait() {
    return ConfiguredWait("UnBlock Timeout", 80);
}
uint32_t ApplyWait() {
    return ConfiguredWait("Apply Timeout", 20);
}

bool IsMissing(uint32_t error) {
    return error == kErrorFileNotFound || error == kErrorPathNotFound;
}

// Errors that no amount of waiting mends: the folder is missing or the name is unusable.
bool IsHopeless(uint32_t error) {
    return error == kErrorPathNotFound || error == kErrorInvalidName ||
           error == kErrorFilenameTooLong;
}

// Runs a file operation until it succeeds, stopping at once when the file or its folder is missing
// and otherwise retrying in the counter's steps for as long as "Apply Timeout" allows.
template <typename Operation>
bool RetryForApply(Operation operation) {
    WaitCounter counter;
    for (;;) {
        if (operation()) return true;
        if (IsMissing(LastSystemError())) return false;
        if (counter.seconds() > ApplyWait()) return false;
        counter.Sleep();
    }
}

// Deletes the blocking file, retrying for "UnBlock Timeout" while the system refuses. 1 when it
// was deleted; 0 when there was none or it could not be deleted.
int DeleteBlockingFile(const PeriodPaths& paths) {
    WaitCounter counter;
    for (;;) {
        if (RemoveFile(paths.blocking)) return 1;
        if (IsMissing(LastSystemError())) return 0;
        counter.Sleep();
        if (counter.seconds() > UnblockWait()) {
            Diagnose("Unable to remove blocking file %s\n", paths.blocking);
            FlushDiagnostics();
            return 0;
        }
    }
}

// A writer that finds the period taken says that it waits: it writes into the blocking file when
// it began to wait, unless a writer that began earlier has written its own time there already.
// The owner sees by the file's size that it is waited for when it lets go (GiveWay), and the
// waiters see by the time in it whether one of them has waited longer (see LockPeriod). The
// file is only opened, never made, so a mark that comes too late leaves no blocking file behind;
// it is opened so that the owner may still delete it. Two waiters that mark at once may leave
// the later time: a mark is only a courtesy, and one that is lost leaves one turn unfair.
// Writers that know nothing of marks see the file exist, as they always did, and ignore its size.
//
// The time is the system's millisecond counter, as ten digits; a mark that is not such a number
// (an older writer's single byte) counts as no time. Returns the time of the earliest waiter
// known, this writer's own when it is the earliest.
constexpr size_t kMarkDigits = 10;

uint32_t MarkWaitedFor(const PeriodPaths& paths, uint32_t since) {
    char text[kMarkDigits + 1] = "";
    File file;
    int64_t got = file.Open(paths.blocking, File::Mode::kRead) ? file.Read(text, kMarkDigits) : 0;
    file.Close();
    bool marked = got == static_cast<int64_t>(kMarkDigits);
    uint64_t earliest = 0;
    for (size_t i = 0; marked && i < kMarkDigits; ++i) {
        marked = text[i] >= '0' && text[i] <= '9';
        earliest = earliest * 10 + static_cast<uint64_t>(text[i] - '0');
    }
    marked = marked && earliest <= UINT32_MAX;
    // Differences, not values: the counter wraps every 49 days.
    if (marked && static_cast<int32_t>(static_cast<uint32_t>(earliest) - since) <= 0) {
        return static_cast<uint32_t>(earliest);
    }
    char mark[kMarkDigits + 1];
    std::snprintf(mark, sizeof mark, "%010u", since);
    if (file.Open(paths.blocking, File::Mode::kWriteExisting)) file.Write(mark, kMarkDigits);
    return since;
}

// The owner of a period that another writer waits for steps aside once it has let go of it: its
// next change would otherwise take the period back microseconds later, before any waiter has woken,
// and one writer would keep the period for long runs of changes while the others waited ever
// longer. It waits until another writer has the period (a waiter wakes at once where the folder is
// watched, within a millisecond early in its wait where not), a few milliseconds at most: a waiter
// that has died meanwhile costs no more than that.
void GiveWay(const PeriodPaths& paths) {
    for (int step = 0; step < 3; ++step) {
        SleepMilliseconds(1);
        if (EntryExists(paths.blocking)) return;
    }
}

}  // namespace

int LockPeriod(const PeriodPaths& paths) {
    WaitCounter counter;
    FolderWatch watch;
    const uint32_t since = MonotonicMilliseconds();
    for (bool watching = false;;) {
        if (CreateNewFile(paths.blocking)) return 1;
        if (IsHopeless(LastSystemError())) return 0;
        if (!watching) {
            // Watched from before the next look, so that no change between the two goes unseen;
            // a lone writer never gets here.
            watching = true;
            watch.Start(paths.blocking);
            continue;
        }
        const uint32_t earliest = MarkWaitedFor(paths, since);
        counter.Sleep(&watch);
        if (counter.seconds() > WriteWait()) break;
        // Woken with the period free, a writer that another has waited longer for lets that one
        // take it first: the waiters all wake at the same change, and whichever ran first would
        // win it, so under a busy processor one writer could lose turn after turn. A moment only:
        // a writer that has died meanwhile costs the others no more than that.
        if (earliest != since && !EntryExists(paths.blocking)) SleepMilliseconds(1);
    }
    // The owner has held the period longer than any writer should: take it to be dead.
    if (!DeleteBlockingFile(paths)) return 0;
    return CreateNewFile(paths.blocking) ? 1 : 0;
}

int UnlockPeriod(const PeriodPaths& paths) {
    int64_t size = 0;
    const bool waited_for = FileSizeByName(paths.blocking, &size) && size > 0;
    if (!DeleteBlockingFile(paths)) return 0;
    if (waited_for) GiveWay(paths);
    return 1;
}

void WaitWhileLocked(const PeriodPaths& paths) {
    WaitCounter counter;
    // Checked by name, not by a directory search: this runs before every read, and a search costs
    // as much as the folder is large (every item file of the mailbox).
    while (EntryExists(paths.blocking)) {
        counter.Sleep();
        if (counter.seconds() > ReadWait()) {
            // A reader takes no lock, so it need not wait for a blocking file that cannot be
            // removed either: one attempt to break it, then it reads.
            DeleteBlockingFile(paths);
            return;
        }
    }
}

int CommitPeriod(const PeriodPaths& paths, CommitAction action, const std::string_view* content) {
    // The backup is the period file as it was: none is made before there is a period file.
    if (content != nullptr) {
        CopyHeldFile(paths.period, *content, paths.backup);
    } else {
        CopyFileTo(paths.period, paths.backup, false);
    }
    bool applied;
    if (action == CommitAction::kReplace) {
        applied = RetryForApply([&] { return ReplaceFileWith(paths.temporary, paths.period); });
    } else {
        applied = RetryForApply([&] { return RemoveFile(paths.period); });
    }
    // A copy that replaced the period file is gone already; one that did not, or a stale one
    // beside a deleted period, goes now.
    if (!applied || action == CommitAction::kDelete) RemoveFile(paths.temporary);
    UnlockPeriod(paths);
    return applied ? 1 : 0;
}

}  // namespace cv
