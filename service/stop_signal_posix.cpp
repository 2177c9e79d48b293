#include "service/stop_signal.h"

#include <signal.h>

#include <cstring>

namespace cv {
namespace {

void (*g_handler)() = nullptr;

void Deliver(int) {
    if (g_handler) g_handler();
}

}  // namespace

void OnStopRequest(void (*handler)()) {
    g_handler = handler;
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = Deliver;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);
}

}  // namespace cv
