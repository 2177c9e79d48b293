// In the Windows build the benchmarks load CVAICP.DLL as a host does, once the store is
// configured: the DLL reads "Mail Root" when it is loaded.
#include <cstdio>
#include <cstdlib>

#include "bench/bench_store.h"

namespace cvbench {
namespace {

template <typename Function>
void Find(const cv::DynamicLibrary& library, const char* name, Function* function) {
    *function = reinterpret_cast<Function>(library.Symbol(name));
    if (*function != nullptr) return;
    std::fprintf(stderr, "CVAICP.DLL has no export %s\n", name);
    std::exit(3);
}

}  // namespace

void BenchStore::Attach() {
    const std::string path = BuildFile("CVAICP.DLL");
    if (!library_.Open(path.c_str())) {
        std::fprintf(stderr, "cannot load %s: %s\n", path.c_str(), library_.Error().c_str());
        std::exit(3);
    }
    Find(library_, "AppointmentAdd", &exports_.add);
    Find(library_, "AppointmentGet", &exports_.get);
    Find(library_, "AppointmentRemove", &exports_.remove);
    Find(library_, "AppointmentFindFirst", &exports_.find_first);
    Find(library_, "AppointmentFindNext", &exports_.find_next);
}

void BenchStore::Detach() {
    library_.Close();
}

}  // namespace cvbench
