#include "service/stop_signal.h"

#include <windows.h>

namespace cv {
namespace {

void (*g_handler)() = nullptr;

BOOL WINAPI Deliver(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) {
        return FALSE;
    }
    if (g_handler) g_handler();
    return TRUE;
}

}  // namespace

void OnStopRequest(void (*handler)()) {
    g_handler = handler;
    SetConsoleCtrlHandler(Deliver, TRUE);
}

}  // namespace cv
