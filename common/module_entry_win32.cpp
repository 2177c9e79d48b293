// The DLL entry point.
#include <windows.h>

#include "common/module_hooks.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    switch (reason) {
        case DLL_PROCESS_ATTACH:
            return cv::OnProcessAttach() ? TRUE : FALSE;
        case DLL_THREAD_ATTACH:
            cv::OnThreadAttach();
            break;
        case DLL_PROCESS_DETACH:
            cv::OnProcessDetach();
            break;
        default:
            break;
    }
    return TRUE;
}
