#include "provider/forwarding.h"

#include <cstring>
#include <memory>
#include <new>

#include "common/spin_lock.h"
#include "include/cvaicp.h"
#include "remote/channel.h"
#include "remote/framing.h"
#include "remote/record_texts.h"

namespace cv {
namespace {

struct Parameter {
    size_t size;     // 0: no such parameter
    bool read_back;  // the reply's copy replaces the caller's record
    bool (*convert_texts)(TextWay, void*);
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
     {{cvaicp::RecordSize<First>(), FirstBack != 0, ConvertTextsOf<First>},               \
      {cvaicp::RecordSize<Second>(), SecondBack != 0, ConvertTextsOf<Second>}},           \
     Forwarded != 0},
    CVAICP_EXPORTS(CV_FORWARDED_CALL)
#undef CV_FORWARDED_CALL
};

constexpr size_t LargestRecord() {
    size_t largest = 0;
    for (const ForwardedCall& call : kCalls) {
        for (const Parameter& parameter : call.parameters) {
            if (parameter.size > largest) largest = parameter.size;
        }
    }
    return largest;
}

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
    // The records travel with their texts in the wire's code page; a copy is sent, so that the
    // caller's records keep their own texts.
    std::unique_ptr<char[]> copy(new (std::nothrow) char[LargestRecord()]);
    if (!copy) return true;
    for (int i = 0; i < 2; ++i) {
        const Parameter& parameter = call->parameters[i];
        if (parameter.size == 0) continue;
        std::memcpy(copy.get(), records[i], parameter.size);
        // A request that cannot carry every record is not sent at all.
        if (!parameter.convert_texts(TextWay::kToWire, copy.get()) ||
            !AddRequestParameter(request.get(), i + 1, copy.get(), parameter.size)) {
            return true;
        }
    }
    if (!SendRemoteRequest(request.get(), reply.get(), kRemoteBufferSize)) return true;
    ReadReplyParameter(reply.get(), 0, result, sizeof *result);
    for (int i = 0; i < 2; ++i) {
        const Parameter& parameter = call->parameters[i];
        if (parameter.size == 0 || !parameter.read_back) continue;
        std::memcpy(copy.get(), records[i], parameter.size);
        ReadReplyParameter(reply.get(), i + 1, copy.get(), parameter.size);
        // A text that does not fit the caller's field in this build's form fails the call.
        if (!parameter.convert_texts(TextWay::kFromWire, copy.get())) {
            *result = 0;
            continue;
        }
        std::memcpy(records[i], copy.get(), parameter.size);
    }
    return true;
}

int32_t ChooseRemoteHost(const char* host) {
    SpinLockHold hold(g_channel_guard);
    return SetCurrentHostName(host);
}

}  // namespace cv
