// Blocking files: how writers of a period file keep out of each other's way, across threads and
// processes, with nothing but the file system.
//
// A writer owns a period while the file "<period>.BLK" exists beside it; the atomic create-if-new
// of that file decides between racing writers. A writer that finds it taken marks it as waited for
// (a byte written into it: its owner leaves it empty), and an owner that lets go of a marked file
// stays away for a moment, so that the period goes round the writers that want it rather than
// staying with the one that happens to ask again first. Writers that know nothing of marks see only
// that the file exists, as they always did.
//
// The new content is written to "<period>.TMP" and put in place by CommitPeriod, which keeps the
// previous content as "<period>.BAK". Readers wait while a blocking file exists. A blocking file
// whose owner died is broken after a wait that the registry configures (values under
// kProvidersKey, counted in seconds, read afresh at every comparison so that a change applies at
// once).
//
// Every operation takes the period's paths, composed once by BuildCalendarPaths.
#pragma once

#include <string_view>

#include "store/calendar_paths.h"

namespace cv {

// Takes the period's blocking file, waiting for another writer to finish (and breaking a blocking
// file that outlives "Write Wait Timeout"). 1 when the caller owns the period now, 0 when not.
int LockPeriod(const PeriodPaths& paths);

// Deletes the period's blocking file, retrying for "UnBlock Timeout" when the system refuses; when
// a writer marked it as waited for, gives that writer the time to take the period before returning
// (a few milliseconds at most). 1 when it was deleted; 0 when there was none or it could not be
// deleted.
int UnlockPeriod(const PeriodPaths& paths);

// Returns once no blocking file exists for the period, breaking one that outlives
// "Read Wait Timeout".
void WaitWhileLocked(const PeriodPaths& paths);

// What CommitPeriod does with the period file.
enum class CommitAction {
    kReplace,  // the temporary copy replaces the period file
    kDelete,   // the period is empty now: the period file goes, the temporary copy is discarded
};

// Ends a writer's work under the blocking file it owns: copies the period file to the backup, then
// replaces the period file with the temporary copy in one atomic step (or deletes it), retrying for
// "Apply Timeout" while the system refuses, and releases the blocking file. The period file is
// never missing in between. 1 when the change is in place; 0 when it was dropped, in which case the
// period file keeps its old content and the temporary copy is gone. `content`, where given, is
// every byte of the period file as the writer read it under the blocking file: the backup is
// made from it (CopyHeldFile).
int CommitPeriod(const PeriodPaths& paths, CommitAction action = CommitAction::kReplace,
                 const std::string_view* content = nullptr);

}  // namespace cv
