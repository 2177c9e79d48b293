#include "index/store_index.h"

#include <atomic>
#include <cctype>
#include <cstring>
#include <new>

#include "common/diagnostics.h"
#include "common/file_helpers.h"
#include "common/text_helpers.h"
#include "common/xMutexLock.h"
#include "platform/registry.h"
#include "store/store_state.h"

namespace cv {
namespace {

// What the index reports.
constexpr const char kNoCom[] = "CoInitialize not called\n";
constexpr const char kSetPathsWithoutRecord[] =
    "WARNING!: StoreIndex is NULL when passed to StoreIndex_SetPaths\n";
constexpr const char kReleaseFailed[] = "FORCE_MSXML_SMART_POINTER_RELEASE Failed: %s\n";
// What it hands to the trace.
constexpr const char kReleaseWithoutRecord[] =
    "StoreIndex_Release::WARNING!: StoreIndex is NULL when passed to StoreIndex_Release on folder "
    "%s\n";

// The provider's index is made when the module loads and never destroyed: a destructor would give
// back its XML objects while the module unloads, under the loader lock and perhaps after the host's
// last CoUninitialize has unloaded the XML engine. Listings give their objects back when they end
// or are closed; those of a listing left open at unload are left to the process.
alignas(StoreIndex) unsigned char g_provider_index_storage[sizeof(StoreIndex)];
StoreIndex* const g_provider_index = new (g_provider_index_storage) StoreIndex();

void CreateWhenMissing(const char* path) {
    if (!FolderExists(path)) MakeDirectory(path);  // one level; a failure shows at the first use
}

// Releases one reference; whatever goes wrong inside, the reference counts as given back.
template <typename Reference>
void ReleaseGuarded(Reference& reference, const char* name) {
    try {
        reference.Reset();
    } catch (...) {
        Diagnose(kReleaseFailed, name);
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
        Diagnose("%s", kSetPathsWithoutRecord);
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
        Diagnose("%s", kNoCom);
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
        if (!document.CreateNode(XmlNodeType::kElement, kIndexRootName, &root)) return 0;
        if (!document_node.AppendChild(root)) return 0;  // a second root is refused
        return root.IsNull() ? 0 : 1;
    } catch (...) {
        return 0;
    }
}

int StoreIndex_Release(StoreIndex* index) {
    if (index == nullptr) {
        DiagnosticTrace(DiagnosticLevel::kTraceWarning, kReleaseWithoutRecord, "");
        return 0;
    }
    ReleaseGuarded(index->CurrentSortedIndexNode.IndexNode,
                   "StoreIndex->CurrentSortedIndexNode.IndexNode");
    ReleaseGuarded(index->FolderIndex, "StoreIndex->FolderIndex");
    ReleaseGuarded(index->SortedIndex, "StoreIndex->SortedIndex");
    index->IndexStamp = 0;
    return 1;
}

int StoreIndex_Close(StoreIndex* index) {
    StoreIndex_Release(index);
    return 1;
}

}  // namespace cv
