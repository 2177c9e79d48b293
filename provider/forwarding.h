// The remote branch of the exports: when the current host is remote, an export's records travel
// as the parameters of an EXEC request to that host's remote admin service, which runs the same
// export on its own store; the result and the records it changed come back.
#pragma once

#include <cstdint>

#include "include/cvaicp_exports.h"

namespace cv {

// Every export, by its row of the export table; ForwardToRemote takes the forwarded ones.
enum class RemoteExport {
#define CV_EXPORT_NAME(Name, ...) k##Name,
    CVAICP_EXPORTS(CV_EXPORT_NAME)
#undef CV_EXPORT_NAME
};

// Offers a call to the remote host. False when the current host is local: the export then does
// its local work. True when the call went remote (or had to and failed): *result holds the remote
// answer, 0 when the exchange failed, and the records the export changes have been copied back.
// The records are the export's arguments in order (second may be null).
bool ForwardToRemote(RemoteExport which, void* first, void* second, int32_t* result);

// The frame of every export: what the work answers, or the export's failure result when the
// work throws (a failed allocation, above all), since an exception that reached the host would end
// its process. Whatever the work holds (a blocking file, a lock, a document) is let go by its
// owners on the way out.
template <typename Work>
int32_t Guarded(int32_t failure, Work work) noexcept {
    try {
        return work();
    } catch (...) {
        return failure;
    }
}

// The frame of a forwarded export: the remote host's answer when the call goes remote, otherwise
// what the local work answers; the failure result when either throws.
template <typename LocalWork>
int32_t RemoteOrLocal(RemoteExport which, void* first, void* second, int32_t failure,
                      LocalWork local_work) noexcept {
    return Guarded(failure, [&] {
        int32_t result = failure;
        if (ForwardToRemote(which, first, second, &result)) return result;
        return local_work();
    });
}

// SetCurrentHost: chooses the host of the next calls, in step with calls under way. 1.
int32_t ChooseRemoteHost(const char* host);

}  // namespace cv
