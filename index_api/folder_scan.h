// A calendar folder's index built from its period files and saved as the folder's "_index.xml":
// the store layer's own scan, which no export reaches (the list enumeration scans a range in
// memory, calendar_scan.h).
#pragma once

#include <cstdint>

#include "include/cvaicp.h"
#include "index/store_index.h"

namespace cv {

// Builds the index into a fresh root of the record's document (made when it has none). With a
// list context: the range scan, then the index is saved. Without one: every period file of the
// folder, saved when there was any; a folder without period files but with "_index.xml" is left
// alone. 0 only when no document could be had.
int ScanCalendarIndex(StoreIndex* index, const ListContext* context);

// The whole-folder scan written to "_index.xml" as it goes, leaving the record's document alone:
// the same file, without the document that a large calendar's index would be. 1 when the file was
// written, with `items` set to the elements it holds. 0, having changed nothing, where this build
// or the folder's texts do not allow it, where the folder has no period file or could not be read
// whole, and when the file could not be written: ScanCalendarIndex then does the work as ever.
int ScanCalendarIndexToFile(StoreIndex* index, int32_t* items);

}  // namespace cv
