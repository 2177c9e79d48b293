// The index file on disk: "_index.xml" in a folder's directory, its save, load and stamp, and
// the lock file "_index.blk" that orders its writers. No export reaches these: the store layer's
// own entry points (the folder index that cvcal and the tests open) use them, and the library
// carries none of them.
#pragma once

#include <cstdint>
#include <functional>

#include "index/store_index.h"
#include "index/xml_document.h"
#include "index/xml_stream.h"

namespace cv {

// Writes the index document to FolderPath\_index.xml (creating the folder's last level) and
// notes the file's stamp. 1 when written or when there is no path to write to.
int StoreIndex_Save(StoreIndex* index);
int SaveIndexDocument(XmlDocument& document, const char* path);

// Writes FolderPath\_index.xml as StoreIndex_Save does, but from `write`, which makes the
// document's elements in the stream, instead of from the record's document; notes the file's
// stamp. 0, with the index on disk as it was and nothing reported, when this build does not
// stream, when `write` gives false, or when the file could not be written: the caller saves a
// document then.
int StoreIndex_SaveStreamed(StoreIndex* index, const std::function<bool(XmlStreamFile*)>& write);

// MS-DOS stamp of folder\_index.xml, 0 when it is not there.
uint32_t GetIndexFileStamp(const char* folder);

// Loads the file into the document. A missing file gives 0 silently; any other failure prints
// its report.
int LoadIndexDocument(XmlDocument& document, const char* path);

// The index lock: a file that only one party can create. Taking it waits while it exists, and
// takes over a lock that has stood for over a minute as abandoned.
int LockIndexFile(const char* path);
int UnlockIndexFile(const char* path);
// 1 when folder\_index.xml exists, looked for while holding folder\_index.blk.
int IndexFileExists(const char* folder);

// How the index lock waits its one-second steps. Tests put a function here that does not sleep.
using IndexLockSleep = void (*)(uint32_t milliseconds);
void SetIndexLockSleep(IndexLockSleep sleep);

}  // namespace cv
