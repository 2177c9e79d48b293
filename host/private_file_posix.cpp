#include "host/private_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/seam_posix.h"

namespace cv {
namespace {

constexpr mode_t kOwnerOnly = S_IRUSR | S_IWUSR;
constexpr mode_t kOthers = S_IRWXG | S_IRWXO;

// Closes the descriptor on every way out.
class Descriptor {
  public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }
    bool Close() {
        int fd = fd_;
        fd_ = -1;
        return close(fd) == 0;
    }

  private:
    int fd_;
};

bool WriteAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        ssize_t written = write(fd, data, size);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        data += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}

}  // namespace

bool WriteReplacementFile(const char* temporary_name, const char* target_name,
                          const std::string& bytes, bool owner_only) {
    const std::string temporary = posix::NativePath(temporary_name);
    const std::string target = posix::NativePath(target_name);
    // A file left at the temporary name keeps its own mode through O_TRUNC, and a link there would
    // lead the write elsewhere: the name is made anew, and never followed. A secret's file is
    // created for its owner alone, so that nobody else can open it before its mode is set.
    if (unlink(temporary.c_str()) != 0 && errno != ENOENT) return false;
    Descriptor file(open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                         owner_only ? kOwnerOnly : 0666));
    if (file.get() < 0) return false;
    struct stat replaced;
    if (stat(target.c_str(), &replaced) == 0) {
        mode_t mode = replaced.st_mode & 07777;
        if (owner_only) mode &= kOwnerOnly;
        if (fchmod(file.get(), mode) != 0) return false;
    }
    return WriteAll(file.get(), bytes.data(), bytes.size()) && file.Close();
}

PrivateRead ReadPrivateFile(const char* path, std::string* bytes) {
    Descriptor file(open(posix::NativePath(path).c_str(), O_RDONLY | O_CLOEXEC));
    struct stat st;
    if (file.get() < 0 || fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return PrivateRead::kCannotRead;
    }
    if ((st.st_mode & kOthers) != 0) return PrivateRead::kOpenToOthers;
    bytes->clear();
    char buffer[8192];
    for (;;) {
        ssize_t got = read(file.get(), buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return PrivateRead::kCannotRead;
        if (got == 0) return PrivateRead::kRead;
        bytes->append(buffer, static_cast<size_t>(got));
    }
}

}  // namespace cv
