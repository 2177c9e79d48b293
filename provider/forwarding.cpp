#include "provider/forwarding.h"

#include <memory>
#include <new>

#include "common/spin_lock.h"
#include "include/cvaicp.h"
#include "remote/channel.h"
#include "remote/framing.h"

namespace cv {
namespace {

struct Parameter {
    size_t size;     // 0: no such parameter
    bool read_back;  // the reply's copy replaces the caller's record
};

struct ForwardedCall {
    const char* function;
    Parameter parameters[2];  // request parameters 1 and 2
    bool forwarded;
};

// What each export sends and what it reads back besides its result (reply parameter 0), in the
// order of the export table, which RemoteExport follows.
constexpr ForwardedCall kCalls[] = {
#define CV_FORWARDED_CALL(Name, Ordinal, Arguments, First, FirstBack, Second, SecondBack, \
                          Forwarded)                                                      \
    {#Name,                                                                               \
     {{cvaicp::RecordSize<First>(), FirstBack != 0},                                      \
      {cvaicp::RecordSize<Second>(), SecondBack != 0}},                                   \
     Forwarded != 0},
    CVAICP_EXPORTS(CV_FORWARDED_CALL)
#undef CV_FORWARDED_CALL
};

// The channel has one socket for the whole process: two calls on it at once would read each
// other's replies. Calls are meant not to overlap; this makes sure they do not.
SpinLock g_channel_guard;

const ForwardedCall* Find(RemoteExport which) {
    const ForwardedCall& call = kCalls[static_cast<int>(which)];
    return call.forwarded ? &call : nullptr;
}

}  // namespace

bool ForwardToRemote(RemoteExport which, void* first, void* second, int32_t* result) {
    SpinLockHold hold(g_channel_guard);
    if (CheckRemoteMode(kProviderLibraryName) == RemoteMode::kLocal) return false;
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
