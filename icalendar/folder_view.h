// A Calendar folder as the catalogue sees it: the folder's own stamp, its files with what tells
// one state of a file from another, and their bytes, read by the names the listing gave.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace cvical {

// What changes when a file is written or replaced. Every writer of the store replaces period and
// item files through a renamed copy (a new inode); mtime and size catch writers that do not.
struct FileSignature {
    int64_t mtime_ns = 0;
    int64_t size = -1;
    uint64_t inode = 0;
    bool operator==(const FileSignature& o) const {
        return mtime_ns == o.mtime_ns && size == o.size && inode == o.inode;
    }
    bool operator!=(const FileSignature& o) const { return !(*this == o); }
};

struct ListedFile {
    std::string name;  // as the folder holds it
    FileSignature signature;
};

class FolderView {
  public:
    FolderView() = default;
    ~FolderView();
    FolderView(const FolderView&) = delete;
    FolderView& operator=(const FolderView&) = delete;

    // Opens the folder (a native path). False when it cannot; *missing tells whether it is
    // simply not there (a mailbox whose calendar has never been written has none).
    bool Open(const std::string& folder, bool* missing);
    // The folder's own signature: it changes whenever an entry is added, removed or renamed.
    bool Stamp(FileSignature* stamp) const;
    // Its regular files. False when the folder could not be read whole.
    bool List(std::vector<ListedFile>* files) const;
    // One file's signature; false when it is not there (or not a regular file).
    bool Signature(const std::string& name, FileSignature* signature) const;
    // A file's bytes by its name in the listing, with its signature as read. False when it is
    // gone or unreadable.
    bool Read(const std::string& name, std::string* bytes, FileSignature* signature) const;

  private:
    int fd_ = -1;
};

// The names of a folder that changed since the last look, as the system reports them while the
// folder is watched; a process that watches need not list 50,000 files to find the one changed.
class FolderChanges {
  public:
    FolderChanges() = default;
    ~FolderChanges();
    FolderChanges(const FolderChanges&) = delete;
    FolderChanges& operator=(const FolderChanges&) = delete;

    // Starts watching the folder (a native path); false when the system will not.
    bool Start(const std::string& folder);
    void Stop();
    bool watching() const { return fd_ >= 0; }

    // The names changed since the last call (each once, in no order). False when the system
    // lost some (its queue overflowed, the folder went): the watch is stopped, and the caller
    // must look at every file.
    bool Take(std::vector<std::string>* names);

  private:
    int fd_ = -1;
};

// Makes a folder (one level) that only its owner may enter; true when it is there.
bool MakeFolder(const std::string& path);

// Seconds since 1970 on the system clock, in nanoseconds (the clock file times are stamped by).
int64_t WallClockNs();

// Gives the system back the heap's free pages when many are free, after a call that took
// `call_ms` milliseconds. A sweep of 50,000 objects frees tens of megabytes in small blocks that
// the allocator would otherwise keep for the life of the door, whose later requests need a fraction
// of it. Counting the free memory walks every free block of the heap, a millisecond and more in a
// door that has served for a while: it is counted after a long call, the kind that frees much, and
// otherwise at most once a second.
void ReturnFreeMemory(uint32_t call_ms);

}  // namespace cvical
