// Where walks over period files stopped, so that a walk that goes on over the same, unchanged file
// starts there instead of reading from the first line again: walking a file then costs its length
// once, not its square.
//
// What a stop records (this file, as it was then, has its line N end at byte B) holds for any
// caller whose cursor stands at line N of that file, whatever its thread. So the memo belongs to
// the process, a few stops shared by all threads, rather than to each thread: a host's threads
// then leave nothing behind when they end or when the library unloads.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace cv {

// The byte offset just after line `line` of the file at `path` in the state `state`, when a walk
// stopped there; false when no stop is known.
bool FindWalkStop(const char* path, const FileState& state, int32_t line, uint64_t* offset);

// Notes that a walk over `path` (in `state`) stopped after line `line`, at byte `offset`. A stop
// at `from_line` of the same file and state, where this step resumed, is replaced; otherwise the
// stop used least recently gives way.
void RememberWalkStop(const char* path, const FileState& state, int32_t from_line, int32_t line,
                      uint64_t offset);

}  // namespace cv
