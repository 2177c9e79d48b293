#include "fuzz/fuzz_folder.h"

#include <cstdlib>

#include "host/host_files.h"
#include "host/host_platform.h"
#include "platform/platform.h"

namespace cv {
namespace fuzzing {

// Made on first use and never destroyed: it is removed at exit, after the static destructors.
const std::string& FuzzFolder() {
    static const std::string* const folder = [] {
        auto* path = new std::string(TemporaryFolder() + "\\cvaicp-fuzz-" +
                                     std::to_string(CurrentProcessId()));
        DeleteFolderTree(path->c_str(), nullptr);  // left by a process of the same id that crashed
        if (!MakeDirectory(path->c_str())) std::abort();  // no temporary folder to work in
        std::atexit([] { DeleteFolderTree(FuzzFolder().c_str(), nullptr); });
        return path;
    }();
    return *folder;
}

}  // namespace fuzzing
}  // namespace cv
