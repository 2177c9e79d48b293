// The baseline's file work with POSIX calls.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "bench/baseline.h"

namespace cvbench {
namespace {

bool ReadAll(const char* path, std::string* out) {
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    out->clear();
    char buffer[16384];
    ssize_t got;
    while ((got = read(fd, buffer, sizeof buffer)) > 0) out->append(buffer, got);
    close(fd);
    return got == 0;
}

bool WriteAll(const char* path, const std::string& bytes) {
    int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    bool written = write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    return close(fd) == 0 && written;
}

bool CopyAll(const char* from, const char* to) {
    int in = open(from, O_RDONLY | O_CLOEXEC);
    if (in < 0) return false;
    int out = open(to, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (out < 0) {
        close(in);
        return false;
    }
    char buffer[65536];
    ssize_t got;
    bool copied = true;
    while ((got = read(in, buffer, sizeof buffer)) > 0) {
        copied = copied && write(out, buffer, got) == got;
    }
    close(in);
    return close(out) == 0 && copied && got == 0;
}

}  // namespace

bool BaselineChange(BaselinePeriod* b) {
    int blocking = open(b->blocking.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (blocking < 0) return false;
    close(blocking);
    bool done = ReadAll(b->period.c_str(), &b->content) &&
                WriteAll(b->temporary.c_str(), b->content) &&
                CopyAll(b->period.c_str(), b->backup.c_str()) &&
                rename(b->temporary.c_str(), b->period.c_str()) == 0;
    return unlink(b->blocking.c_str()) == 0 && done;
}

bool BaselineRead(BaselinePeriod* b) {
    struct stat st;
    if (stat(b->blocking.c_str(), &st) == 0) return false;
    return ReadAll(b->period.c_str(), &b->content);
}

const char* MemoryFolder() {
    return "/dev/shm";
}

}  // namespace cvbench
