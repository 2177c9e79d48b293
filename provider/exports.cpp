// The exports: each turns away a missing record, offers the call to the remote host when it is
// forwarded, and otherwise does its local work, which the floors below implement. Every one
// answers its failure result rather than let an exception reach the host (Guarded).
#include "include/cvaicp.h"
#include "index/list_enumeration.h"
#include "provider/forwarding.h"
#include "store/appointments.h"
#include "store/freebusy.h"
#include "store/items.h"

using cv::Guarded;
using cv::RemoteExport;
using cv::RemoteOrLocal;

extern "C" {

int32_t CVAPI AppointmentAdd(AppointmentRequest* request) {
    if (request == nullptr) return 0;
    return RemoteOrLocal(RemoteExport::kAppointmentAdd, request, nullptr, 0,
                         [&] { return cv::AddAppointment(*request); });
}

int32_t CVAPI AppointmentRemove(AppointmentRequest* request) {
    if (request == nullptr) return 0;
    return RemoteOrLocal(RemoteExport::kAppointmentRemove, request, nullptr, 0,
                         [&] { return cv::RemoveAppointment(*request); });
}

int32_t CVAPI AppointmentEdit(AppointmentRequest* old_request, AppointmentRequest* new_request) {
    if (old_request == nullptr || new_request == nullptr) return 0;
    return RemoteOrLocal(RemoteExport::kAppointmentEdit, old_request, new_request, 0,
                         [&] { return cv::EditAppointment(*old_request, *new_request); });
}

int32_t CVAPI AppointmentGet(AppointmentRequest* request) {
    if (request == nullptr) return 0;
    return RemoteOrLocal(RemoteExport::kAppointmentGet, request, nullptr, 0,
                         [&] { return cv::GetAppointment(request); });
}

int32_t CVAPI AppointmentFindFirst(AppointmentRequest* request) {
    if (request == nullptr) return 0;
    return RemoteOrLocal(RemoteExport::kAppointmentFindFirst, request, nullptr, 0,
                         [&] { return cv::FindFirstAppointment(request); });
}

int32_t CVAPI AppointmentFindNext(AppointmentRequest* request) {
    if (request == nullptr) return 0;
    return RemoteOrLocal(RemoteExport::kAppointmentFindNext, request, nullptr, 0,
                         [&] { return cv::FindNextAppointment(request); });
}

// No function keeps an error code.
int32_t CVAPI AppointmentGetLastError(void) {
    return 0;
}

int32_t CVAPI AppointmentItemGetFirstChunk(AppointmentItemRequest* request) {
    if (request == nullptr) return 0;
    return RemoteOrLocal(RemoteExport::kAppointmentItemGetFirstChunk, request, nullptr, 0,
                         [&] { return cv::ItemGetFirstChunk(request); });
}

int32_t CVAPI AppointmentItemGetNextChunk(AppointmentItemRequest* request) {
    if (request == nullptr) return 0;
    return RemoteOrLocal(RemoteExport::kAppointmentItemGetNextChunk, request, nullptr, 0,
                         [&] { return cv::ItemGetNextChunk(request); });
}

int32_t CVAPI AppointmentItemGetSize(AppointmentItemRequest* request) {
    if (request == nullptr) return 0;
    return RemoteOrLocal(RemoteExport::kAppointmentItemGetSize, request, nullptr, 0,
                         [&] { return cv::ItemGetSize(request); });
}

// The writes and the delete report nothing: 1 whatever happened.
int32_t CVAPI AppointmentItemWriteFirstChunk(AppointmentItemRequest* request) {
    if (request == nullptr) return 1;
    return RemoteOrLocal(RemoteExport::kAppointmentItemWriteFirstChunk, request, nullptr, 1,
                         [&] { return cv::ItemWriteFirstChunk(request); });
}

int32_t CVAPI AppointmentItemWriteNextChunk(AppointmentItemRequest* request) {
    if (request == nullptr) return 1;
    return RemoteOrLocal(RemoteExport::kAppointmentItemWriteNextChunk, request, nullptr, 1,
                         [&] { return cv::ItemWriteNextChunk(request); });
}

// The offset and the delete always act locally, also while other calls go to a remote host.
int32_t CVAPI AppointmentItemGetCurrentOffset(AppointmentItemRequest*) {
    return cv::ItemGetCurrentOffset();
}

int32_t CVAPI AppointmentItemDelete(AppointmentItemRequest* request) {
    if (request == nullptr) return 1;
    return Guarded(1, [&] { return cv::ItemDelete(*request); });
}

// Free/busy is always local.
int32_t CVAPI GetFreeBusyData(FreeBusyRequest* request) {
    if (request == nullptr) return 1;
    int32_t result = Guarded(0, [&] { return cv::GetBusyDays(request); });
    // A list that a failure cut short is no answer: the caller gets none, and 0 rather than the
    // usual 1, so that it can tell.
    if (result == 0) request->BusyDays[0] = '\0';
    return result;
}

int32_t CVAPI AppointmentListItemFindFirst(ListContext* context, ListItem* item) {
    if (context == nullptr || item == nullptr) return 0;
    return RemoteOrLocal(RemoteExport::kAppointmentListItemFindFirst, context, item, 0,
                         [&] { return cv::ListFindFirst(*context, item); });
}

int32_t CVAPI AppointmentListItemFindNext(ListContext* context, ListItem* item) {
    if (context == nullptr || item == nullptr) return 0;
    return RemoteOrLocal(RemoteExport::kAppointmentListItemFindNext, context, item, 0,
                         [&] { return cv::ListFindNext(item); });
}

int32_t CVAPI AppointmentListItemFindClose(ListContext* context) {
    if (context == nullptr) return 1;
    return RemoteOrLocal(RemoteExport::kAppointmentListItemFindClose, context, nullptr, 1,
                         [&] { return cv::ListFindClose(); });
}

int32_t CVAPI SetCurrentHost(const char* host) {
    return Guarded(0, [&] { return cv::ChooseRemoteHost(host); });
}

}  // extern "C"
