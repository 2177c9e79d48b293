// The DLL's own threading runtime (Windows only).
//
// The C++ runtime that is linked into CVAICP.DLL asks for POSIX threading calls: its guards of
// static locals, its exception bookkeeping per thread (emulated thread-local storage) and the
// unwinder's registry of frames lock mutexes, run once-functions and keep thread-specific values.
// The toolchain's own implementation of those calls is made for programs, not for a library that a
// host loads and unloads for months: it allocates a TLS index, handles and memory per process and
// per thread and gives none of it back at unload, and it imports calls that Windows XP lacks.
// thread_runtime_win32.cpp implements the calls the runtime needs on plain Win32 primitives, and
// the DLL's entry point starts it before any constructor runs and stops it after the last
// destructor, giving back everything it made, for every thread.
#pragma once

namespace cv {

// Before anything else at process attach. False when Windows has no TLS index left.
bool StartThreadRuntime();
// At thread detach, after everything else: runs the destructors of the ending thread's
// thread-specific values and frees its bookkeeping.
void EndThreadInRuntime();
// At process detach (an unload, not the process's end), after everything else: runs the
// destructors of every thread's values and frees all the runtime made.
void StopThreadRuntime();

}  // namespace cv
