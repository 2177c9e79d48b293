// What the Win32 files of the platform seam share, and nothing outside them may use.
#pragma once

#include <windows.h>

#include <cstdint>

#include "platform/fault_injection.h"
#include "platform/platform.h"

namespace cv {
namespace win32 {

inline HANDLE AsHandle(intptr_t handle) {
    return reinterpret_cast<HANDLE>(handle);
}

inline FileTime ToFileTime(const FILETIME& ft) {
    return (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

// The fault switch of the test build (the constant false in the product): true when this
// operation is to fail, with the last error set as a real failure would set it.
inline bool Injected(fault::Operation operation) {
    if (!fault::ShouldFail(operation)) return false;
    SetLastError(fault::InjectedError(operation));
    return true;
}

}  // namespace win32
}  // namespace cv
