// The module's load and unload, as the platform's entry point (module_entry_*.cpp) reports them.
#include "provider/module_hooks.h"
#include "store/store_state.h"

namespace cv {

bool OnProcessAttach() {
    return StartStoreState();
}

void OnThreadAttach() {
    SetEnumerationSlot(0);
}

void OnProcessDetach() {
    EndStoreState();
}

}  // namespace cv
