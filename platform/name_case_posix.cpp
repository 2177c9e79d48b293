// Case-blind look-ups of store file names on a file system that tells letter cases apart.
#include "platform/name_case_posix.h"

#include <dirent.h>
#include <errno.h>
#include <limits.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>
#if defined(__linux__)
#include <sys/inotify.h>
#endif

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <set>
#include <unordered_map>

#include "platform/platform.h"

namespace cv {
namespace posix {
namespace {

// Windows folds the letters of ASCII names only, and so does the look-up. The seam stands below
// the text helpers, so it keeps this one-line fold of its own.
constexpr char FoldLetter(char c) {
    return static_cast<char>(c + (static_cast<unsigned char>(c - 'A') < 26 ? 'a' - 'A' : 0));
}

constexpr bool IsLetter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

std::string Folded(const char* name) {
    std::string folded(name);
    for (char& c : folded) c = FoldLetter(c);
    return folded;
}

// The entries of one folder: for each name folded to lower case, the entries that fold to it.
using FoldedNames = std::unordered_map<std::string, std::set<std::string>>;

// What a folder holds for one folded name: the smallest such entry, how many there are, and
// whether the name asked for is among them as it is.
struct Found {
    std::string smallest;
    size_t count = 0;
    bool exact = false;
};

Found Lookup(const FoldedNames& names, const std::string& folded, const std::string& name) {
    Found found;
    auto match = names.find(folded);
    if (match != names.end() && !match->second.empty()) {
        found.smallest = *match->second.begin();
        found.count = match->second.size();
        found.exact = match->second.count(name) != 0;
    }
    return found;
}

struct FolderCloser {
    void operator()(DIR* dir) const { closedir(dir); }
};

// Every entry of a folder. False (errno telling why) when it cannot be read.
bool ReadListing(const std::string& folder, FoldedNames* names) {
    std::unique_ptr<DIR, FolderCloser> dir(opendir(folder.c_str()));
    if (dir == nullptr) return false;
    errno = 0;
    while (struct dirent* d = readdir(dir.get())) {
        if (std::strcmp(d->d_name, ".") == 0 || std::strcmp(d->d_name, "..") == 0) continue;
        (*names)[Folded(d->d_name)].insert(d->d_name);
    }
    return errno == 0;
}

// The calling thread's HeldNamesScope: how deep it is, and whether a look-up within it has read
// the change queue already.
thread_local int t_held_depth = 0;
thread_local bool t_held_read = false;

#if defined(__linux__)
// A search reads the whole folder, and a mailbox's Calendar folder holds an item file per
// appointment. So the folders looked up are watched (inotify): each is read once, and its listing
// is then kept up to date from the changes the system reports, whoever makes them, so that a name
// that is not there (every blocking file before it is made) costs one read of the change queue,
// usually empty, rather than a reading of the folder. The queue is read before every answer (but
// for the names that a writer in a HeldNamesScope makes or replaces, after its first), and
// a folder is watched before it is read, so that no change is missed. A folder that goes or moves
// loses its listing, and an overflowing queue all of them; the next look-up reads afresh.
class WatchedListings {
  public:
    // The matches of `name` in `folder`, from its kept listing (made now when there is none).
    // False when the folder is not watched (it cannot be: the caller reads it itself), errno set.
    bool Find(const std::string& folder, const std::string& name, Found* found) {
        std::lock_guard<std::mutex> hold(guard_);
        if (!Open()) return false;
        try {
            Drain();
            auto kept = by_folder_.find(folder);
            if (kept == by_folder_.end()) kept = Watch(folder);
            if (kept == by_folder_.end()) return false;
            *found = Lookup(kept->second.names, Folded(name.c_str()), name);
            return true;
        } catch (...) {
            // A listing that missed a change must not stay: start afresh.
            Forget();
            throw;
        }
    }

    // Like Find, but only from a listing that is kept already: false when there is none. With
    // `held`, inside a HeldNamesScope whose thread has read the queue already, it is not read
    // again.
    bool FindKept(const std::string& folder, const std::string& name, bool held, Found* found) {
        return WithKept(
            folder,
            [&](const FoldedNames& names) { *found = Lookup(names, Folded(name.c_str()), name); },
            held && t_held_read);
    }

    // The kept entries of `folder` for which `match` holds; false when it has no kept listing.
    bool Matching(const std::string& folder, const std::function<bool(const std::string&)>& match,
                  std::vector<std::string>* names) {
        return WithKept(folder, [&](const FoldedNames& kept) {
            std::vector<std::string> found;
            for (const auto& folded : kept) {
                for (const std::string& name : folded.second) {
                    if (match(name)) found.push_back(name);
                }
            }
            names->swap(found);
        });
    }

    ~WatchedListings() { ForgetInChild(); }

    // A child of fork() has a copy of the queue's descriptor, not the watches: it starts afresh.
    void ForgetInChild() {
        if (queue_ >= 0) close(queue_);
        queue_ = -1;
        by_folder_.clear();
        by_watch_.clear();
    }

  private:
    struct Kept {
        int watch = -1;
        FoldedNames names;
    };

    // Calls `use` on the folder's kept listing, brought up to date; false when there is none.
    template <typename Use>
    bool WithKept(const std::string& folder, Use use, bool read_already = false) {
        std::lock_guard<std::mutex> hold(guard_);
        if (queue_ < 0) return false;
        try {
            if (!read_already) Drain();
            auto kept = by_folder_.find(folder);
            if (kept == by_folder_.end()) return false;
            use(kept->second.names);
            return true;
        } catch (...) {
            // A listing that missed a change must not stay: start afresh.
            Forget();
            throw;
        }
    }

    static constexpr size_t kKeptFolders = 64;
    static constexpr uint32_t kEvents = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO |
                                        IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

    bool Open() {
        if (queue_ >= 0) return true;
        if (unavailable_) return false;
        queue_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        unavailable_ = queue_ < 0;
        return !unavailable_;
    }

    std::unordered_map<std::string, Kept>::iterator Watch(const std::string& folder) {
        if (by_folder_.size() >= kKeptFolders) Forget();
        int watch = inotify_add_watch(queue_, folder.c_str(), kEvents);
        if (watch < 0) return by_folder_.end();
        if (by_watch_.count(watch) != 0) {
            // The same folder under another name (a link, or the other case of a folder): its
            // events go to the listing kept under the first name only.
            errno = 0;
            return by_folder_.end();
        }
        Kept kept;
        kept.watch = watch;
        if (!ReadListing(folder, &kept.names)) {
            int error = errno;
            inotify_rm_watch(queue_, watch);
            errno = error;
            return by_folder_.end();
        }
        by_watch_[watch] = folder;
        return by_folder_.emplace(folder, std::move(kept)).first;
    }

    // Applies every change reported so far.
    void Drain() {
        if (t_held_depth > 0) t_held_read = true;
        alignas(struct inotify_event) char buffer[8192];
        for (;;) {
            ssize_t got = read(queue_, buffer, sizeof buffer);
            if (got <= 0) return;  // EAGAIN: nothing more (EINTR: the next look-up reads on)
            for (char* at = buffer; at < buffer + got;) {
                const auto* event = reinterpret_cast<const struct inotify_event*>(at);
                Apply(*event);
                at += sizeof *event + event->len;
            }
            // A read that left room for the largest event emptied the queue: no call to ask.
            if (sizeof buffer - static_cast<size_t>(got) >=
                sizeof(struct inotify_event) + NAME_MAX + 1) {
                return;
            }
        }
    }

    void Apply(const struct inotify_event& event) {
        if (event.mask & IN_Q_OVERFLOW) {
            Forget();
            return;
        }
        auto folder = by_watch_.find(event.wd);
        if (folder == by_watch_.end()) return;
        auto kept = by_folder_.find(folder->second);
        if (event.mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED)) {
            if (!(event.mask & IN_IGNORED)) inotify_rm_watch(queue_, event.wd);
            if (kept != by_folder_.end()) by_folder_.erase(kept);
            by_watch_.erase(folder);
            return;
        }
        if (kept == by_folder_.end() || event.len == 0) return;
        std::string name(event.name);
        if (event.mask & (IN_CREATE | IN_MOVED_TO)) {
            kept->second.names[Folded(name.c_str())].insert(name);
        } else if (event.mask & (IN_DELETE | IN_MOVED_FROM)) {
            auto names = kept->second.names.find(Folded(name.c_str()));
            if (names != kept->second.names.end()) names->second.erase(name);
        }
    }

    void Forget() {
        for (const auto& watched : by_watch_) inotify_rm_watch(queue_, watched.first);
        by_watch_.clear();
        by_folder_.clear();
    }

    std::mutex guard_;
    int queue_ = -1;
    bool unavailable_ = false;
    std::unordered_map<std::string, Kept> by_folder_;
    std::unordered_map<int, std::string> by_watch_;
};

WatchedListings& Listings() {
    // Destroyed with the library (its watches and queue closed), so that an unload leaves nothing.
    static WatchedListings listings;
    static const bool forget_in_child =
        pthread_atfork(nullptr, nullptr, [] { Listings().ForgetInChild(); }) == 0;
    (void)forget_in_child;
    return listings;
}
#endif

// The folder's entries that match `name` without regard to case; false when the folder cannot
// be read (errno tells why).
bool MatchesInFolder(const std::string& folder, const std::string& name, Found* found) {
#if defined(__linux__)
    if (Listings().Find(folder, name, found)) return true;
#endif
    FoldedNames names;
    if (!ReadListing(folder, &names)) return false;
    *found = Lookup(names, Folded(name.c_str()), name);
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
    Found found;
    if (!MatchesInFolder(split.folder.empty() ? "." : split.folder, split.name, &found)) {
        // The folder itself may be held under another case.
        if (errno != ENOENT || !ActualFolder(split.folder, &folder) || folder == split.folder ||
            !MatchesInFolder(folder, split.name, &found)) {
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
    // A name without letters has no other case, and asking would read the folder when its
    // listing is not kept: every name of a mailbox's Calendar folder.
    if (std::none_of(split.name.begin(), split.name.end(), IsLetter)) return false;
    Found found;
    return MatchesInFolder(split.folder.empty() ? "." : split.folder, split.name, &found) &&
           found.count > 1;
}

std::string CreationName(const std::string& native) {
    Split split = SplitPath(native);
    const std::string& folder = split.folder.empty() ? std::string(".") : split.folder;
    Found found;
    if (MatchesInFolder(folder, split.name, &found)) {
        return found.count > 0 ? Join(split.folder, found.smallest) : native;
    }
    // The folder itself may be held under another case; a new name goes into it as given.
    std::string actual;
    if (errno != ENOENT || split.folder.empty() || !ActualFolder(split.folder, &actual) ||
        actual == split.folder) {
        return native;
    }
    if (MatchesInFolder(actual, split.name, &found) && found.count > 0) {
        return Join(actual, found.smallest);
    }
    return Join(actual, split.name);
}

namespace {

// The matches of a path's name in its folder's kept listing; false when there is none to ask.
bool KeptMatches(const std::string& native, bool held, Split* split, Found* found) {
#if defined(__linux__)
    *split = SplitPath(native);
    if (split->folder.empty() || split->name.empty() || split->name == "." || split->name == "..") {
        return false;
    }
    return Listings().FindKept(split->folder, split->name, held, found);
#else
    (void)native;
    (void)held;
    (void)split;
    (void)found;
    return false;
#endif
}

}  // namespace

bool KnownNamesMatching(const std::string& folder,
                        const std::function<bool(const std::string&)>& match,
                        std::vector<std::string>* names) {
#if defined(__linux__)
    return Listings().Matching(folder, match, names);
#else
    (void)folder;
    (void)match;
    (void)names;
    return false;
#endif
}

bool KnownName(const std::string& native, std::string* actual) {
    Split split;
    Found found;
    if (!KeptMatches(native, true, &split, &found)) return false;
    // The name itself, when it is there, as a call on the exact name finds it first.
    *actual = found.count == 0 || found.exact ? native : Join(split.folder, found.smallest);
    return true;
}

bool KnownToExist(const std::string& native, bool* exists) {
    Split split;
    Found found;
    if (!KeptMatches(native, false, &split, &found)) return false;
    *exists = found.count > 0;
    return true;
}

}  // namespace posix

HeldNamesScope::HeldNamesScope() {
    if (posix::t_held_depth++ == 0) posix::t_held_read = false;
}

HeldNamesScope::~HeldNamesScope() {
    --posix::t_held_depth;
}

}  // namespace cv
