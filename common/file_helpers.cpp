#include "common/file_helpers.h"

#include <cstring>

#include "platform/platform.h"

namespace cv {

int FileExists(const char* path) {
    DirectorySearch search;
    FindData entry;
    return search.First(path, &entry) ? 1 : 0;
}

int FolderExists(const char* path) {
    DirectorySearch search;
    FindData entry;
    return search.First(path, &entry) && (entry.attributes & kAttributeDirectory) ? 1 : 0;
}

uint32_t GetFileDosStamp(const char* path) {
    File file;
    if (file.Open(path, File::Mode::kRead)) {
        FileTime written;
        return file.LastWriteTime(&written) ? FileTimeToDosStamp(written) : 0;
    }
    DirectorySearch search;
    FindData entry;
    if (search.First(path, &entry)) return FileTimeToDosStamp(entry.last_write);
    return 0;
}

bool ReadWholeFile(const char* path, std::string* bytes) {
    File file;
    if (!file.Open(path, File::Mode::kRead)) return false;
    bytes->clear();
    char buffer[16384];
    for (;;) {
        int64_t got = file.Read(buffer, sizeof buffer);
        if (got < 0) return false;
        if (got == 0) return true;
        bytes->append(buffer, static_cast<size_t>(got));
    }
}

}  // namespace cv
