// What the platform's module entry (DllMain on Windows, load and unload functions on POSIX) calls.
// The provider defines these; the entry points live in module_entry_win32.cpp and
// module_entry_posix.cpp and are linked into the library only, never into test executables,
// which call the hooks themselves.
#pragma once

namespace cv {

// The library is loaded into a process. False makes the load fail.
bool OnProcessAttach();
// A thread starts in the process.
void OnThreadAttach();
// The library is unloaded.
void OnProcessDetach();

}  // namespace cv
