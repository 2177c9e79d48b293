// Load and unload of the shared object. New threads need no hook: a POSIX thread-specific value
// starts out as 0 by itself.
#include "provider/module_hooks.h"

__attribute__((constructor)) static void CvaicpLoad() {
    cv::OnProcessAttach();
}

__attribute__((destructor)) static void CvaicpUnload() {
    cv::OnProcessDetach();
}
