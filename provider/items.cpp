#include "provider/items.h"

#include <atomic>
#include <cstring>

#include "common/platform.h"
#include "provider/calendar_paths.h"
#include "provider/forwarding.h"

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

// Writes the text in Data (up to its first NUL, at most 8191 bytes) and sets DataLength to it.
void WriteChunk(AppointmentItemRequest* request, File::Mode mode) {
    char path[kPathSize];
    if (!ItemPath(*request, path)) return;
    File file;
    if (!file.Open(path, mode)) return;
    size_t length = strnlen(request->Data, sizeof request->Data - 1);
    request->DataLength = static_cast<int32_t>(length);
    file.Write(request->Data, length);
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
    WriteChunk(request, File::Mode::kWriteTruncate);
    return 1;
}

int32_t ItemWriteNextChunk(AppointmentItemRequest* request) {
    WriteChunk(request, File::Mode::kAppend);
    return 1;
}

int32_t ItemDelete(const AppointmentItemRequest& request) {
    char path[kPathSize];
    if (ItemPath(request, path)) RemoveFile(path);
    return 1;
}

}  // namespace cv

using cv::RemoteExport;
using cv::RemoteOrLocal;

extern "C" {

int32_t CVAPI AppointmentItemGetFirstChunk(AppointmentItemRequest* request) {
    if (request == nullptr) return 0;
    return RemoteOrLocal(RemoteExport::kAppointmentItemGetFirstChunk, request, nullptr,
                         [&] { return cv::ItemGetFirstChunk(request); });
}

int32_t CVAPI AppointmentItemGetNextChunk(AppointmentItemRequest* request) {
    if (request == nullptr) return 0;
    return RemoteOrLocal(RemoteExport::kAppointmentItemGetNextChunk, request, nullptr,
                         [&] { return cv::ItemGetNextChunk(request); });
}

int32_t CVAPI AppointmentItemGetSize(AppointmentItemRequest* request) {
    if (request == nullptr) return 0;
    return RemoteOrLocal(RemoteExport::kAppointmentItemGetSize, request, nullptr,
                         [&] { return cv::ItemGetSize(request); });
}

int32_t CVAPI AppointmentItemWriteFirstChunk(AppointmentItemRequest* request) {
    if (request == nullptr) return 1;
    return RemoteOrLocal(RemoteExport::kAppointmentItemWriteFirstChunk, request, nullptr,
                         [&] { return cv::ItemWriteFirstChunk(request); });
}

int32_t CVAPI AppointmentItemWriteNextChunk(AppointmentItemRequest* request) {
    if (request == nullptr) return 1;
    return RemoteOrLocal(RemoteExport::kAppointmentItemWriteNextChunk, request, nullptr,
                         [&] { return cv::ItemWriteNextChunk(request); });
}

// The offset and the delete always act locally, also while other calls go to a remote host.
int32_t CVAPI AppointmentItemGetCurrentOffset(AppointmentItemRequest*) {
    return cv::ItemGetCurrentOffset();
}

int32_t CVAPI AppointmentItemDelete(AppointmentItemRequest* request) {
    if (request == nullptr) return 1;
    return cv::ItemDelete(*request);
}

}  // extern "C"
