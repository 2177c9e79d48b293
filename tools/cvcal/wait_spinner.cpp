#include "tools/cvcal/wait_spinner.h"

#include <unistd.h>  // isatty, in the C runtime of both builds

#include <atomic>
#include <chrono>
#include <cstdio>
#include <exception>
#include <thread>

#include "platform/platform.h"
#include "tools/cvcal/store_check.h"

namespace cvcal {

int32_t WithWaitSpinner(const std::string& blocking_file, const std::function<int32_t()>& change) {
    if (blocking_file.empty() || !isatty(2)) return change();
    std::atomic<bool> done{false};
    int32_t result = 0;
    std::exception_ptr failure;
    std::thread worker([&] {
        try {
            result = change();
        } catch (...) {
            failure = std::current_exception();
        }
        done = true;
    });
    static const char kFrames[] = "|/-\\";
    bool shown = false;
    for (int tick = 1; !done; ++tick) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        // Most changes are done at once; a spinner is for the waits that the blocking file causes.
        if (done || tick < 10 || !cv::EntryExists(blocking_file.c_str())) continue;
        std::fprintf(stderr, "\r%c waiting: another writer holds %s", kFrames[tick % 4],
                     ShownPath(blocking_file).c_str());
        std::fflush(stderr);
        shown = true;
    }
    worker.join();
    if (shown) std::fprintf(stderr, "\r\033[K");
    if (failure) std::rethrow_exception(failure);
    return result;
}

}  // namespace cvcal
