// Files that hold secrets: the credentials of a remote host in a ".reg" file, cvadmind's
// configuration and credentials file. Natively a file's mode says who may read it, so a secret's
// file is written for its owner alone and read only when nobody else can read or change it. In the
// Windows build the credentials live in the registry and a file takes its folder's access, so
// these are the plain writes and reads there. Names are turned as the platform seam turns them
// (backslashes natively become slashes).
#pragma once

#include <string>

namespace cv {

// Writes `bytes` as a new file at `temporary`, to be renamed over `target` (which may be missing):
// open to the same users as the target is, or as the umask says for a new target, and to its owner
// alone when `owner_only`. Whatever was at `temporary` is replaced, a link included.
bool WriteReplacementFile(const char* temporary, const char* target, const std::string& bytes,
                          bool owner_only);

// A whole file written for its owner alone, through a temporary file beside it ("PATH.new")
// renamed over it, so that it is never seen half written.
bool WriteOwnerOnlyFile(const char* path, const std::string& bytes);

enum class PrivateRead {
    kRead,
    kCannotRead,
    kOpenToOthers,  // its group or other users may read or write it: it was not read
};

// Reads a whole file that only its owner may read or change. What is checked is the file opened,
// after any links, so that it cannot change between the check and the read.
PrivateRead ReadPrivateFile(const char* path, std::string* bytes);

}  // namespace cv
