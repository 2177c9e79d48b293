// Natively the benchmarks link the library's core and attach it by hand, as its load would.
#include "bench/bench_store.h"
#include "provider/module_hooks.h"

namespace cvbench {

void BenchStore::Attach() {
    cv::OnProcessAttach();
    exports_.add = &AppointmentAdd;
    exports_.get = &AppointmentGet;
    exports_.remove = &AppointmentRemove;
    exports_.find_first = &AppointmentFindFirst;
    exports_.find_next = &AppointmentFindNext;
}

void BenchStore::Detach() {
    cv::OnProcessDetach();
}

}  // namespace cvbench
