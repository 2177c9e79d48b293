#include "index_api/calendar_folder_index.h"

#include <atomic>
#include <string>
#include <vector>

#include "common/diagnostics.h"
#include "common/file_helpers.h"
#include "common/text_helpers.h"
#include "index/calendar_scan.h"
#include "index_api/folder_scan.h"
#include "index_api/index_file.h"
#include "platform/platform.h"
#include "platform/registry.h"
#include "store/calendar_paths.h"

namespace cv {
namespace {

constexpr const char kNoDom[] =
    "Corvane Folder Indexing Library is not compatible with the version of XML installed on this "
    "computer\n";

std::atomic<bool> g_mode_read{false};
std::atomic<uint32_t> g_mode{0};

// Deletes the folder's dirty markers; how many went.
int RemoveDirtyMarkers(const char* folder) {
    char pattern[kPathSize];
    if (!FormatBounded(pattern, sizeof pattern, "%s\\_*.DTY", folder)) return 0;
    // Names first, deletions after, so that the search never walks a changing folder.
    std::vector<std::string> names;
    DirectorySearch search;
    FindData entry;
    for (bool found = search.First(pattern, &entry); found; found = search.Next(&entry)) {
        if ((entry.attributes & kAttributeDirectory) == 0) names.push_back(entry.name);
    }
    search.Close();
    int removed = 0;
    for (const std::string& name : names) {
        char path[kPathSize];
        if (FormatBounded(path, sizeof path, "%s\\%s", folder, name.c_str()) && RemoveFile(path)) {
            ++removed;
        }
    }
    return removed;
}

bool HasRoot(const XmlDocument& document) {
    XmlNode root;
    return !document.IsNull() && document.DocumentElement(&root);
}

// The folder's names may only name folders below the mail root.
bool HasValidNames(const StoreIndex& folder) {
    return IsPathComponent(folder.PostofficeName, sizeof folder.PostofficeName) &&
           IsPathComponent(folder.MailboxName, sizeof folder.MailboxName) &&
           (folder.FolderName[0] == '\0' ||
            IsPathComponent(folder.FolderName, sizeof folder.FolderName));
}

}  // namespace

uint32_t CalendarReIndexMode() {
    if (!g_mode_read.load()) {
        uint32_t mode = 0;
        if (!GetRegistryDword(kStoreKey, "Calendar ReIndex Mode", &mode)) mode = 0;
        g_mode.store(mode);
        g_mode_read.store(true);
    }
    return g_mode.load();
}

void ForgetCalendarReIndexMode() {
    g_mode_read.store(false);
}

StoreIndex* OpenCalendarFolderIndex(StoreIndex* folder, bool reuse, CalendarIndexOpenReport* report,
                                    CalendarIndexUse use) {
    CalendarIndexOpenReport ignored;
    if (report == nullptr) report = &ignored;
    *report = CalendarIndexOpenReport();
    if (folder == nullptr) return nullptr;
    if (reuse && HasRoot(folder->FolderIndex)) {
        report->opening = CalendarIndexOpening::kReused;
        return folder;
    }
    if (folder->FolderPath[0] == '\0') {
        if (!HasValidNames(*folder)) return nullptr;
        StoreIndex_SetPaths(folder);
    }

    // A document left from an earlier opening would take the scan's elements under its old root.
    folder->FolderIndex.Reset();
    if (!XmlDocument::Create(&folder->FolderIndex)) {
        Diagnose("%s", kNoDom);
        return nullptr;
    }

    char index_file[kPathSize];
    if (!FormatBounded(index_file, sizeof index_file, "%s\\_index.xml", folder->FolderPath)) {
        return nullptr;
    }
    // Store names compare without regard to case: "_INDEX.XML" is "_index.xml". Asked before the
    // markers are searched for: a look-up that misses keeps the folder's listing, from which
    // that search then takes its few names instead of reading every name of the folder again.
    const bool index_there = FileExists(index_file);
    report->dirty_markers = RemoveDirtyMarkers(folder->FolderPath);
    const bool due = report->dirty_markers > 0 || !index_there;
    if (due && (!IndexFileExists(folder->FolderPath) || CalendarReIndexMode() != 0)) {
        folder->Dirty = 0;
        int32_t written = 0;
        if (use == CalendarIndexUse::kFile && ScanCalendarIndexToFile(folder, &written)) {
            SetFileTimes(index_file, CurrentFileTime());
            report->opening = CalendarIndexOpening::kRebuilt;
            report->written_items = written;
            return folder;
        }
        if (!ScanCalendarIndex(folder, nullptr)) return nullptr;
        // The markers are gone, but the rebuilt index has not replaced the one on disk (it could
        // not be written, or the scan could not read the whole folder): the folder is marked
        // again, so that the next opening scans it again instead of loading the stale file.
        if (folder->Dirty != 0 && report->dirty_markers > 0) MarkFolderChanged(folder->FolderPath);
        // Only a folder that could not be searched leaves the document empty: then the index on
        // disk is loaded.
        if (HasRoot(folder->FolderIndex)) {
            SetFileTimes(index_file, CurrentFileTime());
            report->opening = CalendarIndexOpening::kRebuilt;
            return folder;
        }
    }
    if (!LoadIndexDocument(folder->FolderIndex, index_file)) return nullptr;
    report->opening = CalendarIndexOpening::kLoaded;
    return folder;
}

}  // namespace cv
