// A calendar folder's index built from its period files and saved as the folder's "_index.xml":
// the store layer's own scan, which no export reaches (the list enumeration scans a range in
// memory, calendar_scan.h).
#pragma once

#include "include/cvaicp.h"
#include "index/store_index.h"

namespace cv {

// Builds the index into a fresh root of the record's document (made when it has none). With a
// list context: the range scan, then the index is saved. Without one: every period file of the
// folder, saved when there was any; a folder without period files but with "_index.xml" is left
// alone. 0 only when no document could be had.
int ScanCalendarIndex(StoreIndex* index, const ListContext* context);

}  // namespace cv
