// The folder index: an XML document with one element per item of a folder, kept in the file
// "_index.xml" in the folder's directory, and the lock file "_index.blk" beside it.
//
// The document's only top-level node is the root element "BASEELEMENT"; each item is a child
// "ELEMENT" with an attribute "ID" and one child element per property.
#pragma once

#include <cstddef>
#include <cstdint>

#include "index/xml_document.h"
#include "platform/platform.h"

namespace cv {

constexpr size_t kIndexTextSize = 1024;

// A node of an index document with the store's state for it. Of that state only the item's class
// number is used (by the property map, as "!CLASS"); the rest is an opaque, zeroed block.
struct IndexNodeSlot {
    XmlNode IndexNode;
    unsigned char StoreState[4104] = {};

    int32_t ClassNumber() const;
    void SetClassNumber(int32_t number);
};

struct StoreIndex {
    StoreIndex() = default;
    // Gives back the references still held: the current node, the sorted view, the index
    // document.
    ~StoreIndex();
    StoreIndex(const StoreIndex&) = delete;
    StoreIndex& operator=(const StoreIndex&) = delete;

    char PostofficeName[kIndexTextSize] = {};
    char MailboxName[kIndexTextSize] = {};
    char FolderName[kIndexTextSize] = {};
    XmlDocument FolderIndex;
    XmlDocument SortedIndex;  // the sorted view that the list enumeration makes and walks
    char FolderPath[kIndexTextSize] = {};
    int32_t Dirty = 0;        // set by a scan that changed the index, cleared by a save
    uint32_t IndexStamp = 0;  // MS-DOS stamp of the last write of "_index.xml", 0 when unknown
    IndexNodeSlot CurrentSortedIndexNode;
};

// The provider's one folder index, made when the library loads and gone when it unloads.
StoreIndex& ProviderStoreIndex();

// Resolves FolderPath from the mail root and the three names, once: a path already set is kept.
// Creates the directories that the folder's form calls for. 0 only without a record.
int StoreIndex_SetPaths(StoreIndex* index);

// Makes a new, empty document when *document holds none. 0 (after "CoInitialize not called") when
// the DOM cannot be had on this thread.
int CreateIndexDocument(XmlDocument* document);
int CreateIndexDocument(StoreIndex* index);

// The index document's root element.
constexpr const char kIndexRootName[] = "BASEELEMENT";
// Appends an empty root element "BASEELEMENT". 0 when the document refuses it (it has a root).
int CreateIndexRoot(XmlDocument& document);

// Gives back the record's references (each once) and forgets the stamp; names and FolderPath stay.
int StoreIndex_Release(StoreIndex* index);
// StoreIndex_Release, for a record that is done with: 1 always.
int StoreIndex_Close(StoreIndex* index);

// "Public Folders Enabled", 1 when it cannot be read.
uint32_t IsPublicFoldersEnabled();

}  // namespace cv
