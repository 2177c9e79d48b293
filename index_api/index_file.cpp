// The folder index on disk: "_index.xml" written through a temporary copy and read back, and its
// lock file "_index.blk". Only the store layer's own entry points save and load an index; the
// list enumeration builds its index in memory.
#include <atomic>
#include <cstring>

#include "common/diagnostics.h"
#include "common/file_helpers.h"
#include "common/text_helpers.h"
#include "index_api/index_file.h"

namespace cv {
namespace {

// What a save reports.
constexpr const char kSaveContext[] = "Context: Saving Index File to Folder\n";
constexpr const char kUnknownError[] = "Error: Unknown Error\n";
// What it hands to the trace.
constexpr const char kCommitFailed[] =
    "StoreIndex_Save::Error - Unable to commit index for folder %s\n";

constexpr const char kIndexFile[] = "\\_index.xml";
constexpr const char kLockFile[] = "\\_index.blk";

// Lock files are retried in one-second steps; a lock that stands through 61 of them is abandoned.
constexpr uint32_t kLockStep = 1000;
constexpr int kLockAttempts = 61;
constexpr int kUnlockAttempts = 81;

void SleepStep(uint32_t milliseconds) {
    SleepMilliseconds(milliseconds);
}
IndexLockSleep g_lock_sleep = SleepStep;

void PrintComError(const XmlError& error) {
    Diagnose("Error:\n");
    Diagnose("Code = %08lx\n", static_cast<unsigned long>(error.code));
    Diagnose("Code meaning = %s\n", error.meaning.c_str());
    Diagnose("Source = %s\n", error.source.c_str());
    Diagnose("Error Description = %s\n", error.description.c_str());
}

// Where a save writes the document before it replaces "_index.xml": a name of this process and
// this save, so that two processes (or threads with records of their own) saving the same folder
// at once never write into one copy.
bool TemporaryIndexPath(char (&out)[kIndexTextSize], const char* folder) {
    static std::atomic<unsigned> saves{0};
    return FormatBounded(out, sizeof out, "%s\\_index.%u.%u.tmp", folder, CurrentProcessId(),
                         saves++);
}

}  // namespace

int SaveIndexDocument(XmlDocument& document, const char* path) {
    try {
        XmlError error;
        if (document.Save(path, &error)) return 1;
        Diagnose("%s", kSaveContext);
        PrintComError(error);
        return 0;
    } catch (...) {
        Diagnose("%s", kUnknownError);
        return 0;
    }
}

int StoreIndex_Save(StoreIndex* index) {
    if (index == nullptr) return 0;
    bool attempted = false;
    bool written = false;
    if (!index->FolderIndex.IsNull() && index->FolderPath[0] != '\0') {
        attempted = true;
        MakeDirectory(index->FolderPath);  // an existing folder is no error
        char file[kIndexTextSize];
        char temporary[kIndexTextSize];
        // A file name cut short would be another file: such a path is not written.
        if (FormatBounded(file, sizeof file, "%s%s", index->FolderPath, kIndexFile) &&
            TemporaryIndexPath(temporary, index->FolderPath)) {
            // The document goes to a copy of its own that then takes the index's place in one
            // step: a save that fails part way leaves the index as it was, never a cut-off file
            // that no opening could load again (and that nothing would rebuild while it exists).
            written = SaveIndexDocument(index->FolderIndex, temporary) != 0 &&
                      ReplaceFileWith(temporary, file);
            if (!written) RemoveFile(temporary);
        }
    }
    if (index->FolderIndex.IsNull()) return 0;
    if (written || !attempted) {
        index->IndexStamp = GetIndexFileStamp(index->FolderPath);
        index->Dirty = 0;
        return 1;
    }
    DiagnosticTrace(DiagnosticLevel::kTraceError, kCommitFailed, index->FolderPath);
    return 0;
}

int StoreIndex_SaveStreamed(StoreIndex* index, const std::function<bool(XmlStreamFile*)>& write) {
    if (index == nullptr || index->FolderPath[0] == '\0') return 0;
    char file[kIndexTextSize];
    char temporary[kIndexTextSize];
    if (!FormatBounded(file, sizeof file, "%s%s", index->FolderPath, kIndexFile) ||
        !TemporaryIndexPath(temporary, index->FolderPath)) {
        return 0;
    }
    MakeDirectory(index->FolderPath);
    bool written = false;
    {
        XmlStreamFile stream;
        if (!stream.Open(temporary, kIndexRootName)) {
            RemoveFile(temporary);  // where the open made the file before it failed
            return 0;
        }
        written = write(&stream) && stream.Finish();
    }
    // As in StoreIndex_Save, the copy takes the index's place in one step.
    written = written && ReplaceFileWith(temporary, file);
    if (!written) {
        RemoveFile(temporary);
        return 0;
    }
    index->IndexStamp = GetIndexFileStamp(index->FolderPath);
    index->Dirty = 0;
    return 1;
}

uint32_t GetIndexFileStamp(const char* folder) {
    char file[kIndexTextSize];
    if (!FormatBounded(file, sizeof file, "%s%s", folder, kIndexFile)) return 0;
    DirectorySearch search;
    FindData entry;
    return search.First(file, &entry) ? FileTimeToDosStamp(entry.last_write) : 0;
}

int LoadIndexDocument(XmlDocument& document, const char* path) {
    try {
        XmlParseError parse_error;
        XmlError error;
        switch (document.Load(path, &parse_error, &error)) {
            case XmlLoadResult::kLoaded:
                return 1;
            case XmlLoadResult::kRejected:
                // A missing file is no error worth a report. Not every DOM says "not found" for
                // it, so the file is looked for as well.
                if (parse_error.code == kXmlFileNotFound || !FileExists(path)) return 0;
                Diagnose("Error:\n");
                Diagnose("Code = 0x%x\n", static_cast<unsigned>(parse_error.code));
                Diagnose("Source = Line : %ld; Char : %ld\n", static_cast<long>(parse_error.line),
                         static_cast<long>(parse_error.position));
                Diagnose("Error Description = %s\n", parse_error.reason.c_str());
                return 0;
            case XmlLoadResult::kFailed:
                PrintComError(error);
                return 0;
        }
        return 0;
    } catch (...) {
        return 0;
    }
}

int LockIndexFile(const char* path) {
    for (int failed = 1;; ++failed) {
        if (CreateNewFile(path)) return 1;
        switch (LastSystemError()) {
            case kErrorAccessDenied:
            case kErrorPathNotFound:
            case kErrorFilenameTooLong:
            case kErrorInvalidName:
                return 0;  // waiting would not change these
            default:
                break;
        }
        g_lock_sleep(kLockStep);
        if (failed == kLockAttempts) break;
    }
    // Whoever made the lock has not removed it in a minute: it is abandoned.
    if (!UnlockIndexFile(path)) return 0;
    return CreateNewFile(path) ? 1 : 0;
}

int UnlockIndexFile(const char* path) {
    for (int attempt = 1;; ++attempt) {
        if (RemoveFile(path)) return 1;
        uint32_t why = LastSystemError();
        if (why == kErrorFileNotFound || why == kErrorPathNotFound) return 0;
        if (attempt == kUnlockAttempts) return 0;
        g_lock_sleep(kLockStep);
    }
}

int IndexFileExists(const char* folder) {
    char lock[kIndexTextSize];
    char file[kIndexTextSize];
    if (!FormatBounded(lock, sizeof lock, "%s%s", folder, kLockFile) ||
        !FormatBounded(file, sizeof file, "%s%s", folder, kIndexFile)) {
        return 0;
    }
    if (!LockIndexFile(lock)) return 0;
    int found = FileExists(file);
    UnlockIndexFile(lock);
    return found;
}

void SetIndexLockSleep(IndexLockSleep sleep) {
    g_lock_sleep = sleep != nullptr ? sleep : SleepStep;
}

}  // namespace cv
