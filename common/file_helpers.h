// File-system helpers over the platform seam.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace cv {

// Paths that DeleteFolderTree builds are limited to this many bytes with their NUL (MAX_PATH).
constexpr size_t kMaxPath = 260;

// Deletes the folder's entries that match the pattern (every entry when the pattern is null),
// descending into matching subfolders, then removes the folder itself. 1 when the folder was
// removed, 0 otherwise (a file that could not be deleted stops the walk at once).
int DeleteFolderTree(const char* folder, const char* pattern);

// 1 when a directory search for the path (wildcards allowed) finds an entry, folders included.
int FileExists(const char* path);

// 1 when a directory search for the path finds an entry and the first one is a folder.
int FolderExists(const char* path);

// Last-write time of the file (UTC) as an MS-DOS stamp, date in the high 16 bits; 0 when the file
// can be neither opened nor found.
uint32_t GetFileDosStamp(const char* path);

// A whole file in one string, and a whole string as a file (created or replaced). Our programs
// take their file arguments through these, so that paths mean the same as in the store.
bool ReadWholeFile(const char* path, std::string* bytes);
bool WriteWholeFile(const char* path, const std::string& bytes);

}  // namespace cv
