#include "host/host_files.h"

#include <cstdlib>

#include "common/text_helpers.h"
#include "platform/platform.h"

namespace cv {

int DeleteFolderTree(const char* folder, const char* pattern) {
    if (folder == nullptr || folder[0] == '\0') return 0;
    char search_path[kMaxPath];
    search_path[0] = '\0';
    bool fits = CopyBounded(search_path, folder, sizeof search_path) &&
                AppendBounded(search_path, "\\", sizeof search_path) &&
                AppendBounded(search_path, pattern ? pattern : "*.*", sizeof search_path);
    if (!fits) return 0;

    DirectorySearch search;
    FindData entry;
    if (!search.First(search_path, &entry)) {
        return LastSystemError() == kErrorNoMoreFiles ? 1 : 0;
    }
    do {
        char entry_path[kMaxPath];
        entry_path[0] = '\0';
        bool entry_fits = CopyBounded(entry_path, folder, sizeof entry_path) &&
                          AppendBounded(entry_path, "\\", sizeof entry_path) &&
                          AppendBounded(entry_path, entry.name.c_str(), sizeof entry_path);
        if (!entry_fits) return 0;
        if (entry.name == "." || entry.name == "..") continue;
        if (entry.attributes & kAttributeReadOnly) SetAttributes(entry_path, kAttributeNormal);
        if (entry.attributes & kAttributeDirectory) {
            DeleteFolderTree(entry_path, nullptr);
        } else if (!RemoveFile(entry_path)) {
            return 0;
        }
    } while (search.Next(&entry));
    if (LastSystemError() != kErrorNoMoreFiles) return 0;
    search.Close();
    return RemoveFolder(folder) ? 1 : 0;
}

bool WriteWholeFile(const char* path, const std::string& bytes) {
    File file;
    if (!file.Open(path, File::Mode::kWriteTruncate)) return false;
    bool written = file.Write(bytes.data(), bytes.size());
    return file.Close() && written;
}

std::string DefaultRegistryFile() {
    const char* home = std::getenv("HOME");
    if (home == nullptr || home[0] == '\0') return "";
    return std::string(home) + "/.config/cvaicp/store.reg";
}

std::string QuoteArgument(const std::string& argument) {
    if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos) return argument;
    std::string quoted = "\"";
    size_t backslashes = 0;
    for (char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        if (c == '"')
            quoted.append(backslashes * 2 + 1, '\\');
        else
            quoted.append(backslashes, '\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, '\\');
    quoted += '"';
    return quoted;
}

}  // namespace cv
