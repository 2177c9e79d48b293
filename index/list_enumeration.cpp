#include "index/list_enumeration.h"

#include <cstring>
#include <string>

#include "common/spin_lock.h"
#include "common/text_helpers.h"
#include "index/calendar_scan.h"
#include "index/store_index.h"
#include "index/stylesheet_policy.h"
#include "store/calendar_paths.h"
#include "store/store_state.h"

namespace cv {
namespace {

// The list index is one object for the whole process. Callers run one listing at a time; the lock
// makes sure that two threads that do not cannot free each other's documents mid-call.
SpinLock g_list_guard;

// The node handed out last, and its position, so that the next call steps to its sibling instead
// of walking the children from the first (which makes a long listing quadratic).
int32_t g_cached_position = -1;

constexpr size_t kItemXmlLimit = 2047;  // ItemXml carries at most this many bytes and a NUL

bool IsUsableContext(const ListContext& context) {
    return IsPathComponent(context.Postoffice, sizeof context.Postoffice) &&
           IsPathComponent(context.Mailbox, sizeof context.Mailbox) &&
           FieldText(context.Stylesheet, sizeof context.Stylesheet) != nullptr;
}

void ForgetPosition(StoreIndex& index) {
    index.CurrentSortedIndexNode.IndexNode.Reset();
    g_cached_position = -1;
}

// A listing that answers 0 is over: its documents go at once, on the thread that made them, since
// hosts seldom close a listing that has ended, and what is still held when the module unloads
// cannot be given back safely then.
int32_t EndListing(StoreIndex& index) {
    ForgetPosition(index);
    StoreIndex_Release(&index);
    return 0;
}

// The SortedIndex: the scanned index itself, or what the stylesheet makes of it.
bool ApplyStylesheet(StoreIndex& index, const char* stylesheet) {
    if (stylesheet[0] == '\0') {
        index.SortedIndex = index.FolderIndex;
        return true;
    }
    if (index.SortedIndex.IsNull() && !CreateIndexDocument(&index.SortedIndex)) return false;
    XmlDocument sheet;
    return LoadConfinedStylesheet(stylesheet, &sheet) &&
           index.FolderIndex.TransformInto(sheet, &index.SortedIndex);
}

// The child at a position: a walk from the first child. A listing steps from the node it handed
// out last, so this runs only when a listing resumes somewhere else.
bool ChildAtPosition(const XmlNode& parent, int32_t position, XmlNode* child) {
    bool more = parent.FirstChild(child);
    for (int32_t i = 0; more && i < position; ++i) more = child->NextSibling(child);
    return more;
}

void CopyText(char* field, size_t size, const std::string& text) {
    size_t length = text.size() < size ? text.size() : size - 1;
    std::memcpy(field, text.data(), length);
    field[length] = '\0';
}

int32_t NextItem(ListItem* item) {
    StoreIndex& index = ProviderStoreIndex();
    int32_t position = GetEnumerationSlot();
    XmlNode root;
    if (position < 0 || index.SortedIndex.IsNull() || !index.SortedIndex.DocumentElement(&root)) {
        return EndListing(index);
    }
    XmlNode child;
    XmlNode& last = index.CurrentSortedIndexNode.IndexNode;
    bool stepped = g_cached_position == position - 1 && !last.IsNull() && last.NextSibling(&child);
    if (!stepped && (g_cached_position == position - 1 && !last.IsNull())) {
        return EndListing(index);  // the last child was handed out: the end
    }
    if (!stepped && !ChildAtPosition(root, position, &child)) return EndListing(index);
    last = child;
    g_cached_position = position;

    std::string id;
    if (!child.Attribute("ID", &id)) return EndListing(index);
    std::string text;
    int32_t start = child.ChildElementText("START", &text) ? ReadDecimal(text.c_str()) : 0;
    int32_t finish = child.ChildElementText("END", &text) ? ReadDecimal(text.c_str()) : 0;
    std::string xml;
    if (!child.Xml(&xml)) xml.clear();
    CopyText(item->ItemId, sizeof item->ItemId, id);  // longer ids are cut to their field
    item->StartTime = start;
    item->FinishTime = finish;
    // An element too long for its window goes out without its text, so that the walk goes on.
    if (xml.size() > kItemXmlLimit) xml.clear();
    CopyText(item->ItemXml, sizeof item->ItemXml, xml);
    item->ItemXmlLength = static_cast<uint32_t>(xml.size());
    SetEnumerationSlot(position + 1);
    return 1;
}

int32_t StartListing(const ListContext& context, ListItem* item) {
    SetEnumerationSlot(0);
    if (!IsUsableContext(context)) return 0;
    std::memcpy(item->Postoffice, context.Postoffice, sizeof context.Postoffice);
    std::memcpy(item->Mailbox, context.Mailbox, sizeof context.Mailbox);
    std::memset(item->Postoffice + sizeof context.Postoffice, 0,
                sizeof item->Postoffice - sizeof context.Postoffice);
    std::memset(item->Mailbox + sizeof context.Mailbox, 0,
                sizeof item->Mailbox - sizeof context.Mailbox);

    // A fresh index for every listing, built in memory only: a listing writes no file, so that no
    // folder's own index is replaced by it.
    StoreIndex& index = ProviderStoreIndex();
    StoreIndex_Release(&index);
    ForgetPosition(index);
    CopyBounded(index.PostofficeName, context.Postoffice, sizeof index.PostofficeName);
    CopyBounded(index.MailboxName, context.Mailbox, sizeof index.MailboxName);
    CopyBounded(index.FolderName, "Contacts", sizeof index.FolderName);
    if (!CreateIndexDocument(&index.FolderIndex) || !CreateIndexRoot(index.FolderIndex)) {
        return EndListing(index);
    }
    // A listing that lacks an appointment it should hold (a period or item file that could not be
    // read, memory that ran out) would look complete to the caller: it is no listing.
    bool unread = false;
    ScanPeriodFiles(&index, &context, &unread);
    if (unread || !ApplyStylesheet(index, context.Stylesheet)) return EndListing(index);
    SetEnumerationSlot(0);  // the scan walked period files on this thread's slot
    return NextItem(item);
}

// A step that throws ends the listing too, so that nothing of it is left for the unload.
template <typename Step>
int32_t ListingStep(Step step) {
    SpinLockHold hold(g_list_guard);
    try {
        return step();
    } catch (...) {
        EndListing(ProviderStoreIndex());
        throw;
    }
}

}  // namespace

int32_t ListFindFirst(const ListContext& context, ListItem* item) {
    return ListingStep([&] { return StartListing(context, item); });
}

int32_t ListFindNext(ListItem* item) {
    return ListingStep([&] { return NextItem(item); });
}

int32_t ListFindClose() {
    SpinLockHold hold(g_list_guard);
    StoreIndex& index = ProviderStoreIndex();
    ForgetPosition(index);
    StoreIndex_Close(&index);
    return 1;
}

}  // namespace cv
