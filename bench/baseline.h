// The baseline of appointment_bench: the file work that the blocking files require of a change or
// a read of a period, done with the system's own calls and nothing more. baseline_posix.cpp does
// it with open/read/write/rename, baseline_win32.cpp with the calls that the library's Win32 file
// layer (platform/file_*_win32.cpp) makes for the same steps, so that the library is held to the
// same system in either build.
#pragma once

#include <string>

namespace cvbench {

// The baseline's own period "B" beside the library's period "P": its file "B.CAL" and the
// temporary, backup and blocking files of its changes, each path given whole.
struct BaselinePeriod {
    std::string period, temporary, backup, blocking;
    std::string content;  // what the last read found
};

// A change: create the blocking file new, read the period file, write the temporary copy, copy the
// period file to the backup, rename the copy over the period file, delete the blocking file.
bool BaselineChange(BaselinePeriod* b);
// A read: look for the blocking file, read the period file.
bool BaselineRead(BaselinePeriod* b);

// A memory-backed folder, where a change does not wait for the disk's write-back (see
// appointment_bench.cpp).
const char* MemoryFolder();

}  // namespace cvbench
