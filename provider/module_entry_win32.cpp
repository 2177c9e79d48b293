// The DLL's entry points: the one Windows calls (CvaicpEntry, named as the image's entry point by
// the link), which wraps the C runtime's start-up and shut-down, and DllMain, which the runtime
// calls in between.
//
// Everything here runs under the loader lock: nothing waits for another thread, loads a library
// or touches COM. The order is what matters:
//   attach: the threading runtime, then the C runtime (constructors), then DllMain, then the
//           exception tables;
//   detach: DllMain, then the C runtime (destructors), then the exception tables, the C++
//           runtime's spare memory and the threading runtime, so that an unload leaves nothing
//           behind. When the process is ending (reserved is set) the system reclaims it all and
//           nothing more is done.
#include <windows.h>

#include "provider/module_hooks.h"
#include "provider/thread_runtime.h"

extern "C" BOOL WINAPI DllMainCRTStartup(HANDLE module, DWORD reason, LPVOID reserved);

namespace __gnu_cxx {
void __freeres() noexcept;  // libstdc++: frees the emergency pool for exceptions
}

namespace cv {
namespace {

#if defined(__i386__)
// The 32-bit runtime finds the code's exception tables in a registry of frames. At start-up the C
// runtime registers the DLL's tables with the GCC runtime DLL when the process has one loaded
// (another module built by GCC brought it in), and with the DLL's own, statically linked, copy
// otherwise. But the DLL throws and unwinds with its own copy, which then knows none of its frames
// and ends the process at the first throw. So in that case the tables are registered with the
// DLL's own copy as well.
extern "C" void __register_frame_info(const void* begin, void* object);
extern "C" void* __deregister_frame_info(const void* begin);

// A mark inside the image's exception-table section, to find the section by.
extern "C" __attribute__((section(".eh_frame"), used, aligned(4)))
const char cvaicp_eh_frame_mark[] = {};

void* g_frame_object[16];  // the registry's bookkeeping; larger than its record
const void* g_registered_frames = nullptr;

// The start of the image section that holds `address`, null when none does.
const void* SectionStart(HINSTANCE module, const void* address) {
    auto* base = reinterpret_cast<const unsigned char*>(module);
    auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(nt);
    const uintptr_t rva = reinterpret_cast<uintptr_t>(address) - reinterpret_cast<uintptr_t>(base);
    for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++section) {
        if (rva >= section->VirtualAddress &&
            rva <= section->VirtualAddress + section->Misc.VirtualSize) {
            return base + section->VirtualAddress;
        }
    }
    return nullptr;
}

void RegisterOwnFrames(HINSTANCE module) {
    if (GetModuleHandleA("libgcc_s_dw2-1.dll") == nullptr) return;
    g_registered_frames = SectionStart(module, cvaicp_eh_frame_mark);
    if (g_registered_frames != nullptr) {
        __register_frame_info(g_registered_frames, g_frame_object);
    }
}

void DeregisterOwnFrames() {
    if (g_registered_frames == nullptr) return;
    __deregister_frame_info(g_registered_frames);
    g_registered_frames = nullptr;
}
#else
// The 64-bit runtime unwinds through the system's tables of the image itself: nothing to
// register.
void RegisterOwnFrames(HINSTANCE) {}
void DeregisterOwnFrames() {}
#endif

}  // namespace
}  // namespace cv

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

extern "C" BOOL WINAPI CvaicpEntry(HINSTANCE module, DWORD reason, LPVOID reserved) {
    switch (reason) {
        case DLL_PROCESS_ATTACH:
            if (!cv::StartThreadRuntime()) return FALSE;
            if (!DllMainCRTStartup(module, reason, reserved)) {
                cv::StopThreadRuntime();
                return FALSE;
            }
            cv::RegisterOwnFrames(module);
            return TRUE;
        case DLL_THREAD_DETACH: {
            BOOL result = DllMainCRTStartup(module, reason, reserved);
            cv::EndThreadInRuntime();
            return result;
        }
        case DLL_PROCESS_DETACH: {
            BOOL result = DllMainCRTStartup(module, reason, reserved);
            if (reserved == nullptr) {
                cv::DeregisterOwnFrames();
                __gnu_cxx::__freeres();
                cv::StopThreadRuntime();
            }
            return result;
        }
        default:
            return DllMainCRTStartup(module, reason, reserved);
    }
}
