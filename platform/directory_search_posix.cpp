// POSIX side of the seam's directory search: readdir filtered by a Windows wildcard pattern.
#include <dirent.h>
#include <errno.h>
#include <sys/stat.h>

#include <cctype>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/seam_posix.h"

namespace cv {
using namespace posix;
namespace {

// '*' and '?' as a Windows directory search reads them, letters compared without regard to case.
// "*.*" matches every name, with or without a dot.
bool WildcardMatch(const char* pattern, const char* name) {
    if (std::strcmp(pattern, "*.*") == 0) return true;
    const char* star = nullptr;
    const char* resume = nullptr;
    while (*name) {
        if (*pattern == '*') {
            star = pattern++;
            resume = name;
        } else if (*pattern == '?' ||
                   (*pattern && std::tolower(static_cast<unsigned char>(*pattern)) ==
                                    std::tolower(static_cast<unsigned char>(*name)))) {
            ++pattern;
            ++name;
        } else if (star) {
            pattern = star + 1;
            name = ++resume;
        } else {
            return false;
        }
    }
    while (*pattern == '*') ++pattern;
    return *pattern == '\0';
}

struct SearchState {
    DIR* dir = nullptr;
    std::string folder;
    std::string pattern;
    DirectorySearch::Detail detail = DirectorySearch::Detail::kFull;
    std::vector<std::string> kept;  // matches from the folder's kept listing, before readdir's
    size_t next_kept = 0;
};

// The name and kind of an entry as readdir gave them; false where it did not tell the kind.
bool FillName(const struct dirent& d, FindData* entry) {
    if (d.d_type == DT_UNKNOWN) return false;
    entry->name = d.d_name;
    entry->attributes = d.d_type == DT_DIR ? uint32_t{kAttributeDirectory} : kAttributeNormal;
    entry->last_write = entry->last_access = 0;
    entry->size = 0;
    return true;
}

void FillFromStat(const char* name, const struct stat& st, FindData* entry) {
    entry->name = name;
    entry->attributes = S_ISDIR(st.st_mode) ? uint32_t{kAttributeDirectory} : 0u;
    if ((st.st_mode & S_IWUSR) == 0) entry->attributes |= kAttributeReadOnly;
    if (entry->attributes == 0) entry->attributes = kAttributeNormal;
    entry->last_write = ToFileTime(st.st_mtim);
    entry->last_access = ToFileTime(st.st_atim);
    entry->size = S_ISDIR(st.st_mode) ? 0 : static_cast<uint64_t>(st.st_size);
}

bool FillEntry(const SearchState& search, const char* name, FindData* entry) {
    std::string full = search.folder + "/" + name;
    struct stat st;
    if (lstat(full.c_str(), &st) != 0) return false;  // vanished since readdir
    FillFromStat(name, st, entry);
    return true;
}

// A pattern without wildcards names one entry, which is looked up (in its own letter case, else a
// case twin's) rather than searched for among all of the folder's: a calendar folder holds tens of
// thousands, and the index's file is looked for this way at every save. False when it is not
// there; a search of the folder then decides, as for any pattern.
bool LookUpName(const SearchState& search, FindData* entry) {
    std::string path = (search.folder == "/" ? "" : search.folder) + "/" + search.pattern;
    struct stat st;
    if (!OnEntry(&path, [&st](const char* name) { return lstat(name, &st) == 0; })) return false;
    FillFromStat(path.c_str() + path.find_last_of('/') + 1, st, entry);
    return true;
}

bool NextMatch(SearchState* search, FindData* entry) {
    while (search->next_kept < search->kept.size()) {
        if (FillEntry(*search, search->kept[search->next_kept++].c_str(), entry)) return Succeed();
    }
    if (search->dir == nullptr) {  // the one entry a name without wildcards gave is all there is
        SetLastSystemError(kErrorNoMoreFiles);
        return false;
    }
    for (;;) {
        errno = 0;
        struct dirent* d = readdir(search->dir);
        if (d == nullptr) {
            SetLastSystemError(errno == 0 ? kErrorNoMoreFiles
                                          : TranslateErrno(errno, search->folder));
            return false;
        }
        if (!WildcardMatch(search->pattern.c_str(), d->d_name)) continue;
        if (search->detail == DirectorySearch::Detail::kName && FillName(*d, entry)) {
            return Succeed();
        }
        if (FillEntry(*search, d->d_name, entry)) return Succeed();
    }
}

}  // namespace

DirectorySearch::~DirectorySearch() {
    Close();
}

bool DirectorySearch::First(const char* pattern, FindData* entry, Detail detail) try {
    Close();
    if (Injected(fault::Operation::kSearch)) return false;
    std::string native = NativePath(pattern);
    std::string::size_type slash = native.find_last_of('/');
    std::unique_ptr<SearchState> search(new SearchState);
    search->detail = detail;
    if (slash == std::string::npos) {
        search->folder = ".";
        search->pattern = native;
    } else {
        search->folder = slash == 0 ? "/" : native.substr(0, slash);
        search->pattern = native.substr(slash + 1);
    }
    if (search->pattern.empty()) {  // "folder\" names no entry
        SetLastSystemError(kErrorFileNotFound);
        return false;
    }
    search->dir = nullptr;
    if (search->pattern.find_first_of("*?") == std::string::npos) {
        if (LookUpName(*search, entry)) {
            state_ = search.release();
            return Succeed();
        }
        // The look-up asked for the name in every letter case, as a search would: in a folder
        // that is there, the answer stands, and the tens of thousands of names are not read again.
        struct stat st;
        if (errno == ENOENT &&
            OnEntry(&search->folder, [&st](const char* name) { return stat(name, &st) == 0; }) &&
            S_ISDIR(st.st_mode)) {
            SetLastSystemError(kErrorFileNotFound);
            return false;
        }
    }
    // A search for a few names among many (the dirty markers of a calendar folder) takes them
    // from the folder's listing when one is kept, rather than reading every entry again; each
    // match is looked at for its details all the same. A search for every name reads the folder.
    const bool every_name = search->pattern == "*" || search->pattern == "*.*";
    const bool kept = !every_name && detail == DirectorySearch::Detail::kFull &&
                      KnownNamesMatching(
                          search->folder,
                          [&](const std::string& name) {
                              return WildcardMatch(search->pattern.c_str(), name.c_str());
                          },
                          &search->kept);
    if (!kept) {
        OnEntry(&search->folder,
                [&](const char* name) { return (search->dir = opendir(name)) != nullptr; });
        if (search->dir == nullptr) {
            SetLastSystemError(errno == ENOENT || errno == ENOTDIR ? kErrorPathNotFound
                                                                   : TranslateErrno(errno, native));
            return false;
        }
    }
    state_ = search.release();
    if (NextMatch(static_cast<SearchState*>(state_), entry)) return true;
    uint32_t error = LastSystemError();
    Close();
    SetLastSystemError(error == kErrorNoMoreFiles ? kErrorFileNotFound : error);
    return false;
} catch (const std::bad_alloc&) {
    return OutOfMemory();
}

bool DirectorySearch::Next(FindData* entry) try {
    if (state_ == nullptr) {
        SetLastSystemError(kErrorInvalidHandle);
        return false;
    }
    if (Injected(fault::Operation::kSearch)) return false;
    return NextMatch(static_cast<SearchState*>(state_), entry);
} catch (const std::bad_alloc&) {
    return OutOfMemory();
}

void DirectorySearch::Close() {
    auto* search = static_cast<SearchState*>(state_);
    if (search == nullptr) return;
    if (search->dir) closedir(search->dir);
    delete search;
    state_ = nullptr;
}
}  // namespace cv
