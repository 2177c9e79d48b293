#include "provider/forwarding.h"

#include <memory>
#include <new>

#include "common/spin_lock.h"
#include "provider/cvaicp.h"
#include "remote/channel.h"
#include "remote/framing.h"

namespace cv {
namespace {

struct Parameter {
    size_t size;     // 0: no such parameter
    bool read_back;  // the reply's copy replaces the caller's record
};

struct ForwardedCall {
    RemoteExport which;
    const char* function;
    Parameter parameters[2];  // request parameters 1 and 2
};

constexpr size_t kRequest = sizeof(AppointmentRequest);
constexpr size_t kItem = sizeof(AppointmentItemRequest);
constexpr size_t kContext = sizeof(ListContext);
constexpr size_t kListItem = sizeof(ListItem);

// What each export sends and what it reads back besides its result (reply parameter 0).
constexpr ForwardedCall kCalls[] = {
    {RemoteExport::kAppointmentAdd, "AppointmentAdd", {{kRequest, true}, {0, false}}},
    {RemoteExport::kAppointmentRemove, "AppointmentRemove", {{kRequest, true}, {0, false}}},
    {RemoteExport::kAppointmentEdit, "AppointmentEdit", {{kRequest, false}, {kRequest, false}}},
    {RemoteExport::kAppointmentGet, "AppointmentGet", {{kRequest, true}, {0, false}}},
    {RemoteExport::kAppointmentFindFirst, "AppointmentFindFirst", {{kRequest, true}, {0, false}}},
    {RemoteExport::kAppointmentFindNext, "AppointmentFindNext", {{kRequest, true}, {0, false}}},
    {RemoteExport::kAppointmentItemGetFirstChunk,
     "AppointmentItemGetFirstChunk",
     {{kItem, true}, {0, false}}},
    {RemoteExport::kAppointmentItemGetNextChunk,
     "AppointmentItemGetNextChunk",
     {{kItem, true}, {0, false}}},
    {RemoteExport::kAppointmentItemGetSize, "AppointmentItemGetSize", {{kItem, true}, {0, false}}},
    {RemoteExport::kAppointmentItemWriteFirstChunk,
     "AppointmentItemWriteFirstChunk",
     {{kItem, false}, {0, false}}},
    {RemoteExport::kAppointmentItemWriteNextChunk,
     "AppointmentItemWriteNextChunk",
     {{kItem, false}, {0, false}}},
    {RemoteExport::kAppointmentListItemFindFirst,
     "AppointmentListItemFindFirst",
     {{kContext, false}, {kListItem, true}}},
    {RemoteExport::kAppointmentListItemFindNext,
     "AppointmentListItemFindNext",
     {{kContext, false}, {kListItem, true}}},
    {RemoteExport::kAppointmentListItemFindClose,
     "AppointmentListItemFindClose",
     {{kContext, false}, {0, false}}},
};

// The channel has one socket for the whole process: two calls on it at once would read each
// other's replies. Calls are meant not to overlap; this makes sure they do not.
SpinLock g_channel_guard;

const ForwardedCall* Find(RemoteExport which) {
    for (const ForwardedCall& call : kCalls) {
        if (call.which == which) return &call;
    }
    return nullptr;
}

}  // namespace

bool ForwardToRemote(RemoteExport which, void* first, void* second, int32_t* result) {
    SpinLockHold hold(g_channel_guard);
    if (CheckRemoteMode(kProviderLibraryName) == 0) return false;
    *result = 0;
    const ForwardedCall* call = Find(which);
    std::unique_ptr<char[]> request(new (std::nothrow) char[kRemoteBufferSize]);
    std::unique_ptr<char[]> reply(new (std::nothrow) char[kRemoteBufferSize]);
    if (call == nullptr || !request || !reply) return true;
    void* records[2] = {first, second};
    if (!BuildExecRequest(request.get(), call->function)) return true;
    for (int i = 0; i < 2; ++i) {
        if (call->parameters[i].size == 0) continue;
        // A request that cannot carry every record is not sent at all.
        if (!AddRequestParameter(request.get(), i + 1, records[i], call->parameters[i].size)) {
            return true;
        }
    }
    if (!SendRemoteRequest(request.get(), reply.get(), kRemoteBufferSize)) return true;
    ReadReplyParameter(reply.get(), 0, result, sizeof *result);
    for (int i = 0; i < 2; ++i) {
        if (call->parameters[i].size != 0 && call->parameters[i].read_back) {
            ReadReplyParameter(reply.get(), i + 1, records[i], call->parameters[i].size);
        }
    }
    return true;
}

int32_t ChooseRemoteHost(const char* host) {
    SpinLockHold hold(g_channel_guard);
    return SetCurrentHostName(host);
}

}  // namespace cv

extern "C" int32_t CVAPI SetCurrentHost(const char* host) {
    return cv::Guarded(0, [&] { return cv::ChooseRemoteHost(host); });
}
