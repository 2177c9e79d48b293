// A host of the library for tests that need several processes: loads the provider as the mail
// server does and adds appointments to one period.
//
//   appointment_driver LIBRARY POSTOFFICE MAILBOX PERIOD ID-PREFIX COUNT
//
// Adds COUNT appointments with the ids ID-PREFIX-0 ... and prints one line per id that the library
// refused. The exit code is the number of refusals (at most 100), or 101 when the library cannot
// be loaded.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/platform.h"
#include "common/host_platform.h"
#include "include/cvaicp.h"

int main(int argc, char** argv) {
    if (argc != 7) {
        std::fprintf(stderr, "usage: %s LIBRARY POSTOFFICE MAILBOX PERIOD ID-PREFIX COUNT\n",
                     argv[0]);
        return 102;
    }
    cv::DynamicLibrary library;
    if (!library.Open(argv[1])) {
        std::fprintf(stderr, "cannot load %s: %s\n", argv[1], library.Error().c_str());
        return 101;
    }
    using AddFn = int32_t(CVAPI*)(AppointmentRequest*);
    auto add = reinterpret_cast<AddFn>(library.Symbol("AppointmentAdd"));
    if (add == nullptr) return 101;
    int count = std::atoi(argv[6]);
    int refused = 0;
    for (int i = 0; i < count; ++i) {
        AppointmentRequest request;
        std::memset(&request, 0, sizeof request);
        std::snprintf(request.Postoffice, sizeof request.Postoffice, "%s", argv[2]);
        std::snprintf(request.Mailbox, sizeof request.Mailbox, "%s", argv[3]);
        std::snprintf(request.PeriodName, sizeof request.PeriodName, "%s", argv[4]);
        std::snprintf(request.ItemId, sizeof request.ItemId, "%s-%d", argv[5], i);
        request.StartTime = 1000000 + i;
        request.FinishTime = 1000060 + i;
        if (add(&request) != 1) {
            std::printf("refused %s\n", request.ItemId);
            ++refused;
        }
    }
    return refused > 100 ? 100 : refused;
}
