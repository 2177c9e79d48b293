#include "store/blocking_file.h"

#include <cstdio>

#include "common/file_helpers.h"
#include "common/platform.h"
#include "common/registry.h"
#include "common/text_helpers.h"
#include "store/calendar_paths.h"
#include "store/store_state.h"

namespace cv {
namespace {

// Waiting is counted in seconds, as the configured waits are, but polled in steps that start at a
// millisecond and double up to a second: a writer sees a freed period almost at once, and a long
// wait still costs no more than one check a second.
class WaitCounter {
  public:
    void Sleep() {
        SleepMilliseconds(step_);
        waited_ += step_;
        step_ = step_ >= 500 ? 1000 : step_ * 2;
    }
    // Whole seconds waited so far.
    uint32_t seconds() const { return static_cast<uint32_t>(waited_ / 1000); }

  private:
    uint32_t step_ = 1;
    uint64_t waited_ = 0;
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
// and otherwise retrying once a second for as long as "Apply Timeout" allows.
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

}  // namespace

int LockPeriod(const PeriodPaths& paths) {
    WaitCounter counter;
    for (;;) {
        if (CreateNewFile(paths.blocking)) return 1;
        if (IsHopeless(LastSystemError())) return 0;
        counter.Sleep();
        if (counter.seconds() > WriteWait()) break;
    }
    // The owner has held the period longer than any writer should: take it to be dead.
    if (!UnlockPeriod(paths)) return 0;
    return CreateNewFile(paths.blocking) ? 1 : 0;
}

int UnlockPeriod(const PeriodPaths& paths) {
    WaitCounter counter;
    for (;;) {
        if (RemoveFile(paths.blocking)) return 1;
        if (IsMissing(LastSystemError())) return 0;
        counter.Sleep();
        if (counter.seconds() > UnblockWait()) {
            std::printf("Unable to remove blocking file %s\n", paths.blocking);
            std::fflush(stdout);
            return 0;
        }
    }
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
            UnlockPeriod(paths);
            return;
        }
    }
}

int CommitPeriod(const PeriodPaths& paths, CommitAction action) {
    CopyFileTo(paths.period, paths.backup, false);  // no period file yet: no new backup
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
