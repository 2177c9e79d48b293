// File-system helpers over the platform seam.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace cv {

// 1 when a directory search for the path (wildcards allowed) finds an entry, folders included.
int FileExists(const char* path);

// 1 when a directory search for the path finds an entry and the first one is a folder.
int FolderExists(const char* path);

// Last-write time of the file (UTC) as an MS-DOS stamp, date in the high 16 bits; 0 when the file
// can be neither opened nor found.
uint32_t GetFileDosStamp(const char* path);

// A whole file in one string, read through the seam (File), so that a path means the same as in
// the store. Our programs read their file arguments through it too (WriteWholeFile, its pair, is
// in host_files.h).
bool ReadWholeFile(const char* path, std::string* bytes);

}  // namespace cv
