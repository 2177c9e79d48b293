#include "store/walk_memo.h"

#include <cstring>

#include "common/spin_lock.h"
#include "store/calendar_paths.h"

namespace cv {
namespace {

struct WalkStop {
    bool valid = false;
    char path[kPathSize];
    FileState state;
    int32_t line = 0;
    uint64_t offset = 0;
    uint32_t used = 0;  // when it was last found or noted, by the memo's own clock
};

// A few walks at once: hosts walk one period per thread, and the stops of a walk that no one
// continues are simply overwritten.
constexpr int kStops = 8;

SpinLock g_guard;
WalkStop g_stops[kStops];
uint32_t g_clock = 0;

bool Matches(const WalkStop& stop, const char* path, const FileState& state, int32_t line) {
    return stop.valid && stop.line == line && stop.state.identity == state.identity &&
           stop.state.size == state.size && stop.state.written == state.written &&
           std::strcmp(stop.path, path) == 0;
}

}  // namespace

bool FindWalkStop(const char* path, const FileState& state, int32_t line, uint64_t* offset) {
    SpinLockHold hold(g_guard);
    for (WalkStop& stop : g_stops) {
        if (!Matches(stop, path, state, line)) continue;
        stop.used = ++g_clock;
        *offset = stop.offset;
        return true;
    }
    return false;
}

void RememberWalkStop(const char* path, const FileState& state, int32_t from_line, int32_t line,
                      uint64_t offset) {
    size_t length = std::strlen(path);
    if (length >= kPathSize) return;
    SpinLockHold hold(g_guard);
    WalkStop* target = &g_stops[0];
    for (WalkStop& stop : g_stops) {
        if (Matches(stop, path, state, from_line)) {
            target = &stop;
            break;
        }
        if (!stop.valid || stop.used < target->used) target = &stop;
        if (!target->valid) break;
    }
    std::memcpy(target->path, path, length + 1);
    target->state = state;
    target->line = line;
    target->offset = offset;
    target->used = ++g_clock;
    target->valid = true;
}

}  // namespace cv
