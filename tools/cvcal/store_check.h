// What cvcal finds out for itself before it runs a command against the local store. The library
// answers 0 alike for "nothing there" and for a store it cannot reach, so a missing mail root or
// mailbox folder would look like an empty calendar; these checks name the cause instead
// (Failure with kExitConfig).
#pragma once

#include <string>

namespace cvcal {

// A store path (composed with backslashes, as the library composes them) as this platform writes
// paths, for messages.
std::string ShownPath(const std::string& store_path);

// Whether paths on this platform are written with backslashes.
bool BackslashPaths();

// The folder without separators at its end (but "/" or "C:\" as they are): a root that shell
// completion or a file dialog wrote with one.
std::string WithoutTrailingSeparators(const std::string& folder);

// Whether the path names a folder from the root of its file system (or drive, or share).
bool IsAbsolutePath(const std::string& path);

// The mail root the library will use ("Mail Root", else "Data Directory" + "\Postoffices");
// a Failure when neither is set.
std::string ConfiguredMailRoot();

enum class Access { kRead, kWrite };

// The mailbox's Calendar folder, once the mail root, the postoffice and the mailbox folders are
// known to be there and the Calendar folder (when there is one) can be read, and for kWrite also
// written. A missing Calendar folder is fine: the library makes it at the first write.
std::string CheckMailbox(const std::string& postoffice, const std::string& mailbox, Access access);

}  // namespace cvcal
