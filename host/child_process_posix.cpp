// POSIX side of ChildProcess: posix_spawn, with the parent's environment.
#include <errno.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include "host/host_platform.h"

extern char** environ;

namespace cv {

ChildProcess::~ChildProcess() {
    if (handle_ != 0) Wait();
}

bool ChildProcess::Start(const std::vector<std::string>& arguments) {
    if (arguments.empty() || handle_ != 0) return false;
    std::vector<char*> argv;
    for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return false;
    handle_ = pid;
    return true;
}

int ChildProcess::Wait() {
    if (handle_ == 0) return -1;
    int status = 0;
    pid_t pid = static_cast<pid_t>(handle_);
    handle_ = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    return -1;
}

void ChildProcess::Kill() {
    if (handle_ != 0) kill(static_cast<pid_t>(handle_), SIGKILL);
}

unsigned ChildProcess::id() const {
    return static_cast<unsigned>(handle_);
}

}  // namespace cv
