#include "store/items.h"

#include <atomic>
#include <cstring>

#include "common/text_helpers.h"
#include "platform/platform.h"
#include "store/calendar_paths.h"

namespace cv {
namespace {

// The position of the last byte handed out by a read, -1 before any. One value for the whole
// process, all threads and all item files alike: callers read one item at a time. It is atomic so
// that threads that do share it at least never tear it.
std::atomic<int32_t> g_item_read_offset{-1};

// The item file's path, when the record's names are usable: each a single path component that
// ends inside its field.
bool ItemPath(const AppointmentItemRequest& request, char (&path)[kPathSize]) {
    return HasValidMailbox(request) &&
           IsPathComponent(request.ItemFileName, sizeof request.ItemFileName) &&
           CalendarFilePath(path, sizeof path, request.Postoffice, request.Mailbox,
                            request.ItemFileName);
}

// Writes the text in Data (up to its first NUL, at most 8191 bytes) to the file and sets
// DataLength to it once the file is open. False when the file could not be opened or written.
bool WriteChunkTo(const char* path, File::Mode mode, AppointmentItemRequest* request) {
    File file;
    if (!file.Open(path, mode)) return false;
    size_t length = strnlen(request->Data, sizeof request->Data - 1);
    request->DataLength = static_cast<int32_t>(length);
    bool written = file.Write(request->Data, length);
    return file.Close() && written;
}

// A further chunk goes to the end of the body.
void AppendChunk(AppointmentItemRequest* request) {
    char path[kPathSize];
    if (ItemPath(*request, path)) WriteChunkTo(path, File::Mode::kAppend, request);
}

// A first chunk replaces the body. The writes report nothing to the caller, so a failed one must
// not cost the body it was to replace: the chunk is written beside the item, "<item>.TMP", and
// put in its place in one step. A chunk that cannot be written leaves the old body. Only when the
// step is refused (another program holds the item open) is the item cut and written in place, as
// the only way left to store the chunk.
void ReplaceWithChunk(AppointmentItemRequest* request) {
    char path[kPathSize];
    char temporary[kPathSize];
    if (!ItemPath(*request, path)) return;
    if (!FormatBounded(temporary, sizeof temporary, "%s.TMP", path)) {
        WriteChunkTo(path, File::Mode::kWriteTruncate, request);  // no room for the copy's name
        return;
    }
    if (!WriteChunkTo(temporary, File::Mode::kWriteTruncate, request)) {
        RemoveFile(temporary);
        return;
    }
    if (ReplaceFileWith(temporary, path)) return;
    RemoveFile(temporary);
    WriteChunkTo(path, File::Mode::kWriteTruncate, request);
}

}  // namespace

int32_t ItemGetFirstChunk(AppointmentItemRequest* request) {
    g_item_read_offset = -1;
    return ItemGetNextChunk(request);
}

int32_t ItemGetNextChunk(AppointmentItemRequest* request) {
    char path[kPathSize];
    if (!ItemPath(*request, path)) return 0;
    File file;
    if (!file.Open(path, File::Mode::kRead)) return 0;
    int32_t first = ++g_item_read_offset;
    int64_t got =
        first >= 0 && file.Seek(first) ? file.Read(request->Data, sizeof request->Data) : -1;
    if (got < 0) got = 0;
    request->DataLength = static_cast<int32_t>(got);
    if (got == 0) return 0;
    g_item_read_offset += static_cast<int32_t>(got) - 1;
    return 1;
}

int32_t ItemGetSize(AppointmentItemRequest* request) {
    g_item_read_offset = -1;
    char path[kPathSize];
    DirectorySearch search;
    FindData entry;
    if (!ItemPath(*request, path) || !search.First(path, &entry) ||
        (entry.attributes & kAttributeDirectory)) {
        request->DataLength = 0;
        return 0;
    }
    // The size in bytes, as every other use of DataLength counts bytes; items are far below 2 GiB.
    request->DataLength = entry.size > INT32_MAX ? INT32_MAX : static_cast<int32_t>(entry.size);
    return 0;
}

int32_t ItemGetCurrentOffset() {
    return g_item_read_offset;
}

int32_t ItemWriteFirstChunk(AppointmentItemRequest* request) {
    ReplaceWithChunk(request);
    return 1;
}

int32_t ItemWriteNextChunk(AppointmentItemRequest* request) {
    AppendChunk(request);
    return 1;
}

int32_t ItemDelete(const AppointmentItemRequest& request) {
    char path[kPathSize];
    if (ItemPath(request, path)) RemoveFile(path);
    return 1;
}

}  // namespace cv
