#include "index/store_index.h"

#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <new>

#include "common/file_helpers.h"
#include "common/registry.h"
#include "common/text_helpers.h"
#include "common/xMutexLock.h"
#include "store/store_state.h"

namespace cv {
namespace {

// What the index prints on standard output.
constexpr const char kNoCom[] = "CoInitialize not called\n";
constexpr const char kSetPathsWithoutRecord[] =
    "WARNING!: StoreIndex is NULL when passed to StoreIndex_SetPaths\n";
constexpr const char kSaveContext[] = "Context: Saving Index File to Folder\n";
constexpr const char kUnknownError[] = "Error: Unknown Error\n";
constexpr const char kReleaseFailed[] = "FORCE_MSXML_SMART_POINTER_RELEASE Failed: %s\n";
// What it hands to the diagnostic trace.
constexpr const char kReleaseWithoutRecord[] =
    "StoreIndex_Release::WARNING!: StoreIndex is NULL when passed to StoreIndex_Release on folder "
    "%s\n";
constexpr const char kCommitFailed[] =
    "StoreIndex_Save::Error - Unable to commit index for folder %s\n";
constexpr int kTraceWarning = 8;
constexpr int kTraceError = 9;

constexpr const char kIndexFile[] = "\\_index.xml";
constexpr const char kLockFile[] = "\\_index.blk";
constexpr const char kRootName[] = "BASEELEMENT";

// Lock files are retried in one-second steps; a lock that stands through 61 of them is abandoned.
constexpr uint32_t kLockStep = 1000;
constexpr int kLockAttempts = 61;
constexpr int kUnlockAttempts = 81;

// The provider's index is made when the module loads and never destroyed: a destructor would give
// back its XML objects while the module unloads, under the loader lock and perhaps after the host's
// last CoUninitialize has unloaded the XML engine. Listings give their objects back when they end
// or are closed; those of a listing left open at unload are left to the process.
alignas(StoreIndex) unsigned char g_provider_index_storage[sizeof(StoreIndex)];
StoreIndex* const g_provider_index = new (g_provider_index_storage) StoreIndex();

void SleepStep(uint32_t milliseconds) {
    SleepMilliseconds(milliseconds);
}
IndexLockSleep g_lock_sleep = SleepStep;

// The trace that warnings and errors of the index are handed to; this library keeps none.
int DiagnosticTrace(int level, const char* text) {
    (void)level;
    (void)text;
    return 1;
}

void PrintComError(const XmlError& error) {
    std::printf("Error:\n");
    std::printf("Code = %08lx\n", static_cast<unsigned long>(error.code));
    std::printf("Code meaning = %s\n", error.meaning.c_str());
    std::printf("Source = %s\n", error.source.c_str());
    std::printf("Error Description = %s\n", error.description.c_str());
}

// Where a save writes the document before it replaces "_index.xml": a name of this process and
// this save, so that two processes (or threads with records of their own) saving the same folder
// at once never write into one copy.
bool TemporaryIndexPath(char (&out)[kIndexTextSize], const char* folder) {
    static std::atomic<unsigned> saves{0};
    return FormatBounded(out, sizeof out, "%s\\_index.%u.%u.tmp", folder, CurrentProcessId(),
                         saves++);
}

void CreateWhenMissing(const char* path) {
    if (!FolderExists(path)) MakeDirectory(path);  // one level; a failure shows at the first use
}

// Releases one reference; whatever goes wrong inside, the reference counts as given back.
template <typename Reference>
void ReleaseGuarded(Reference& reference, const char* name) {
    try {
        reference.Reset();
    } catch (...) {
        std::printf(kReleaseFailed, name);
    }
}

}  // namespace

int32_t IndexNodeSlot::ClassNumber() const {
    int32_t number;
    std::memcpy(&number, StoreState + 4, sizeof number);
    return number;
}

void IndexNodeSlot::SetClassNumber(int32_t number) {
    std::memcpy(StoreState + 4, &number, sizeof number);
}

StoreIndex::~StoreIndex() {
    ReleaseGuarded(CurrentSortedIndexNode.IndexNode,
                   "StoreIndex->CurrentSortedIndexNode.IndexNode");
    ReleaseGuarded(IndexNode.IndexNode, "StoreIndex->IndexNode");
    ReleaseGuarded(SortedIndex, "StoreIndex->SortedIndex");
    ReleaseGuarded(FolderIndex, "StoreIndex->FolderIndex");
}

StoreIndex& ProviderStoreIndex() {
    return *g_provider_index;
}

uint32_t IsPublicFoldersEnabled() {
    uint32_t enabled = 0;
    return GetRegistryDword(kStoreKey, "Public Folders Enabled", &enabled) ? enabled : 1;
}

int StoreIndex_SetPaths(StoreIndex* index) {
    if (index == nullptr) {
        std::fputs(kSetPathsWithoutRecord, stdout);
        return 0;
    }
    if (index->FolderPath[0] != '\0') return 1;

    // Paths are cut to fit without notice.
    char* path = index->FolderPath;
    const size_t size = sizeof index->FolderPath;
    const char* folder = index->FolderName;
    auto begin = [&](const char* tail) {
        CopyBounded(path, MailRoot(), size);
        AppendBounded(path, "\\", size);
        AppendBounded(path, index->PostofficeName, size);
        AppendBounded(path, "\\", size);
        AppendBounded(path, tail, size);
    };

    const char* named = folder;
    while (*named == '/' || *named == '\\') ++named;

    if (StartsWithNoCase(folder, "$VCFROOT/")) {
        begin("VCFROOT\\");
        AppendBounded(path, folder + 9, size);
        CreateWhenMissing(path);
    } else if (StartsWithNoCase(folder, "$VCFROOT")) {
        begin("VCFROOT");
        CreateWhenMissing(path);
    } else if (StartsWithNoCase(folder, "$FILEROOT")) {
        begin("FILEROOT\\");
        CreateWhenMissing(path);
        AppendBounded(path, index->MailboxName, size);
        CreateWhenMissing(path);
        if (StartsWithNoCase(folder, "$FILEROOT/")) {
            AppendBounded(path, "\\", size);
            AppendBounded(path, folder + 10, size);
            CreateWhenMissing(path);
        }
    } else if (StartsWithNoCase(named, "Public") && IsPublicFoldersEnabled() != 0) {
        begin("PUBROOT");
        // "PublicX" is "Public" with nothing after it.
        const char* rest = named + 6;
        if (*rest == '/' || *rest == '\\') {
            AppendBounded(path, "\\", size);
            AppendBounded(path, rest + 1, size);
        }
        CreateWhenMissing(path);
    } else {
        begin("MAILROOT\\");
        AppendBounded(path, index->MailboxName, size);
        AppendBounded(path, "\\", size);
        AppendBounded(path, folder[0] != '\0' ? folder : "INBOX", size);
    }
    return 1;
}

int CreateIndexDocument(XmlDocument* document) {
    if (!document->IsNull()) return 1;
    if (!XmlDocument::Create(document)) {
        // The DOM needs COM on the calling thread, and only the host can start it there.
        std::fputs(kNoCom, stdout);
        return 0;
    }
    return document->IsNull() ? 0 : 1;
}

int CreateIndexDocument(StoreIndex* index) {
    return index != nullptr ? CreateIndexDocument(&index->FolderIndex) : 0;
}

int CreateIndexRoot(XmlDocument& document) {
    try {
        XmlNode document_node;
        XmlNode root;
        if (!document.AsNode(&document_node)) return 0;
        if (!document.CreateNode(XmlNodeType::kElement, kRootName, &root)) return 0;
        if (!document_node.AppendChild(root)) return 0;  // a second root is refused
        return root.IsNull() ? 0 : 1;
    } catch (...) {
        return 0;
    }
}

int SaveIndexDocument(XmlDocument& document, const char* path) {
    try {
        XmlError error;
        if (document.Save(path, &error)) return 1;
        std::fputs(kSaveContext, stdout);
        PrintComError(error);
        return 0;
    } catch (...) {
        std::fputs(kUnknownError, stdout);
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
            xMutexLock lock(index->LockHandle, kIndexLockWait);
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
    char text[kIndexTextSize + 128];
    std::snprintf(text, sizeof text, kCommitFailed, index->FolderPath);
    DiagnosticTrace(kTraceError, text);
    return 0;
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
                std::printf("Error:\n");
                std::printf("Code = 0x%x\n", static_cast<unsigned>(parse_error.code));
                std::printf("Source = Line : %ld; Char : %ld\n",
                            static_cast<long>(parse_error.line),
                            static_cast<long>(parse_error.position));
                std::printf("Error Description = %s\n", parse_error.reason.c_str());
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

int StoreIndex_Release(StoreIndex* index) {
    if (index == nullptr) {
        char text[sizeof kReleaseWithoutRecord + 16];
        std::snprintf(text, sizeof text, kReleaseWithoutRecord, "");
        DiagnosticTrace(kTraceWarning, text);
        return 0;
    }
    ReleaseGuarded(index->IndexNode.IndexNode, "StoreIndex->IndexNode");
    ReleaseGuarded(index->CurrentSortedIndexNode.IndexNode,
                   "StoreIndex->CurrentSortedIndexNode.IndexNode");
    ReleaseGuarded(index->FolderIndex, "StoreIndex->FolderIndex");
    ReleaseGuarded(index->SortedIndex, "StoreIndex->SortedIndex");
    index->IndexStamp = 0;
    return 1;
}

int StoreIndex_Close(StoreIndex* index) {
    StoreIndex_Release(index);
    if (index != nullptr && index->LockHandle != nullptr) {
        CloseMutexHandle(index->LockHandle);
        index->LockHandle = nullptr;
    }
    return 1;
}

void SetIndexLockSleep(IndexLockSleep sleep) {
    g_lock_sleep = sleep != nullptr ? sleep : SleepStep;
}

}  // namespace cv
