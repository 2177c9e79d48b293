// How the store layer opens a calendar folder's index: rebuilt from the period files by the full
// scan, or loaded from "_index.xml", as the folder's dirty markers and "Calendar ReIndex Mode"
// decide.
#pragma once

#include <cstdint>

#include "index/store_index.h"

namespace cv {

// "Calendar ReIndex Mode" (HKEY_LOCAL_MACHINE, under the store's key), read on first use and kept
// for the life of the process; 0 when missing. 0: a calendar index is rebuilt only when it is
// missing; not 0: also whenever the folder carries a dirty marker.
uint32_t CalendarReIndexMode();
// Forgets the kept value, so that the next use reads the registry again. For tests.
void ForgetCalendarReIndexMode();

// What an opening did.
enum class CalendarIndexOpening {
    kNone,     // no index: the DOM could not be had, or the rebuild or load failed
    kReused,   // the index the record already held
    kRebuilt,  // scanned from the period files
    kLoaded,   // read from "_index.xml"
};

struct CalendarIndexOpenReport {
    CalendarIndexOpening opening = CalendarIndexOpening::kNone;
    int dirty_markers = 0;  // dirty markers deleted
    // A rebuild written to "_index.xml" without a document (CalendarIndexUse::kFile): the elements
    // it wrote. -1 otherwise.
    int32_t written_items = -1;
};

// What the caller does with the index it opens.
enum class CalendarIndexUse {
    kDocument,  // reads or changes the record's document
    kFile,      // wants "_index.xml" up to date: a rebuild may leave the record without a document
};

// Opens the index of the calendar folder that the record names (its postoffice, mailbox and
// folder names; or its FolderPath when that is set already). With reuse, an index the record holds
// already is handed back as it is. Otherwise every dirty marker ("_*.DTY") of the folder is
// deleted, and the index is rebuilt by the full scan when it is due (a marker was deleted, or
// there is no "_index.xml") and either the index file cannot be confirmed under the index lock or
// the reindex mode is not 0; in every other case "_index.xml" is loaded. The record, or null when
// there is no index to use. A rebuilt or loaded index starts from a fresh document; with kFile, a
// rebuild that could write the file as it scanned leaves that document without a root.
StoreIndex* OpenCalendarFolderIndex(StoreIndex* folder, bool reuse,
                                    CalendarIndexOpenReport* report = nullptr,
                                    CalendarIndexUse use = CalendarIndexUse::kDocument);

}  // namespace cv
