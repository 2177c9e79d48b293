// Case-blind look-ups of store file names on a file system that tells letter cases apart.
#include "common/name_case_posix.h"

#include <dirent.h>
#include <errno.h>
#include <sys/stat.h>
#include <time.h>

#include <cstring>
#include <memory>
#include <mutex>
#include <unordered_map>

namespace cv {
namespace posix {
namespace {

std::string Folded(const char* name) {
    std::string folded(name);
    for (char& c : folded) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return folded;
}

// The entries of one folder by folded name: the smallest entry of each, and how many there are.
struct Listing {
    dev_t device = 0;
    ino_t inode = 0;
    struct timespec modified {};
    struct timespec changed {};
    struct Names {
        std::string smallest;
        int count = 0;
    };
    std::unordered_map<std::string, Names> names;

    bool Describes(const struct stat& st) const {
        return st.st_dev == device && st.st_ino == inode && st.st_mtim.tv_sec == modified.tv_sec &&
               st.st_mtim.tv_nsec == modified.tv_nsec && st.st_ctim.tv_sec == changed.tv_sec &&
               st.st_ctim.tv_nsec == changed.tv_nsec;
    }
};

// A search reads the whole folder (a mailbox's Calendar folder holds an item file per
// appointment), while a folder that did not change since it was read answers from memory for the
// price of one stat. A folder's times move with every entry made, removed or renamed in it, but
// only as finely as the file system's clock ticks: a listing is kept only when the folder had not
// changed for a while before it was read, so that a change within the same tick cannot hide.
constexpr time_t kSettledSeconds = 2;
constexpr size_t kKeptListings = 64;

std::mutex g_guard;
std::unordered_map<std::string, Listing>& KeptListings() {
    static std::unordered_map<std::string, Listing> kept;
    return kept;
}

struct FolderCloser {
    void operator()(DIR* dir) const { closedir(dir); }
};

bool ReadListing(const std::string& folder, Listing* listing, bool* settled) {
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    std::unique_ptr<DIR, FolderCloser> dir(opendir(folder.c_str()));
    if (dir == nullptr) return false;
    struct stat st;
    if (fstat(dirfd(dir.get()), &st) != 0) return false;
    listing->device = st.st_dev;
    listing->inode = st.st_ino;
    listing->modified = st.st_mtim;
    listing->changed = st.st_ctim;
    while (struct dirent* d = readdir(dir.get())) {
        if (std::strcmp(d->d_name, ".") == 0 || std::strcmp(d->d_name, "..") == 0) continue;
        Listing::Names& names = listing->names[Folded(d->d_name)];
        if (names.count++ == 0 || names.smallest > d->d_name) names.smallest = d->d_name;
    }
    *settled = st.st_mtim.tv_sec + kSettledSeconds < now.tv_sec &&
               st.st_ctim.tv_sec + kSettledSeconds < now.tv_sec;
    return true;
}

// The folder's entries that match `name` without regard to case; false when the folder cannot
// be read (errno tells why).
bool MatchesInFolder(const std::string& folder, const char* name, Listing::Names* found) {
    const std::string folded = Folded(name);
    struct stat st;
    if (stat(folder.c_str(), &st) == 0) {
        std::lock_guard<std::mutex> hold(g_guard);
        auto kept = KeptListings().find(folder);
        if (kept != KeptListings().end() && kept->second.Describes(st)) {
            auto match = kept->second.names.find(folded);
            *found = match == kept->second.names.end() ? Listing::Names() : match->second;
            return true;
        }
    }
    Listing listing;
    bool settled = false;
    if (!ReadListing(folder, &listing, &settled)) return false;
    auto match = listing.names.find(folded);
    *found = match == listing.names.end() ? Listing::Names() : match->second;
    if (settled) {
        std::lock_guard<std::mutex> hold(g_guard);
        if (KeptListings().size() >= kKeptListings) KeptListings().clear();
        KeptListings()[folder] = std::move(listing);
    }
    return true;
}

struct Split {
    std::string folder;  // "" for a bare name
    std::string name;
};

Split SplitPath(const std::string& native) {
    std::string::size_type slash = native.find_last_of('/');
    if (slash == std::string::npos) return {"", native};
    return {slash == 0 ? "/" : native.substr(0, slash), native.substr(slash + 1)};
}

std::string Join(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    return folder == "/" ? "/" + name : folder + "/" + name;
}

// The folder as the file system holds it: itself when it is there, else its case twin.
bool ActualFolder(const std::string& folder, std::string* actual) {
    struct stat st;
    if (folder.empty() || folder == "/" || stat(folder.c_str(), &st) == 0) {
        *actual = folder;
        return true;
    }
    return errno == ENOENT && FindCaseTwin(folder, actual);
}

}  // namespace

bool FindCaseTwin(const std::string& native, std::string* actual) {
    Split split = SplitPath(native);
    if (split.name.empty() || split.name == "." || split.name == "..") return false;
    std::string folder;
    Listing::Names found;
    if (!MatchesInFolder(split.folder.empty() ? "." : split.folder, split.name.c_str(), &found)) {
        // The folder itself may be held under another case.
        if (errno != ENOENT || !ActualFolder(split.folder, &folder) || folder == split.folder ||
            !MatchesInFolder(folder, split.name.c_str(), &found)) {
            return false;
        }
    } else {
        folder = split.folder;
    }
    if (found.count == 0) return false;
    *actual = Join(folder, found.smallest);
    return true;
}

bool HasOtherCaseTwin(const std::string& native) {
    Split split = SplitPath(native);
    Listing::Names found;
    return MatchesInFolder(split.folder.empty() ? "." : split.folder, split.name.c_str(), &found) &&
           found.count > 1;
}

std::string CreationName(const std::string& native) {
    std::string twin;
    if (FindCaseTwin(native, &twin)) return twin;
    // A new name, in its folder as the file system holds that.
    Split split = SplitPath(native);
    std::string folder;
    if (!split.folder.empty() && ActualFolder(split.folder, &folder))
        return Join(folder, split.name);
    return native;
}

}  // namespace posix
}  // namespace cv
