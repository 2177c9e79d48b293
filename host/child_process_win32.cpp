// Win32 side of ChildProcess: CreateProcess, with the arguments quoted for the child's parser.
#include "host/host_platform.h"

#include <windows.h>

#include "host/host_files.h"

namespace cv {

ChildProcess::~ChildProcess() {
    if (handle_ != 0) Wait();
}

bool ChildProcess::Start(const std::vector<std::string>& arguments) {
    if (arguments.empty() || handle_ != 0) return false;
    std::string command_line;
    for (const std::string& a : arguments) {
        if (!command_line.empty()) command_line += ' ';
        command_line += QuoteArgument(a);
    }
    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info;
    if (!CreateProcessA(arguments[0].c_str(), &command_line[0], nullptr, nullptr, TRUE, 0, nullptr,
                        nullptr, &startup, &info)) {
        return false;
    }
    CloseHandle(info.hThread);
    handle_ = reinterpret_cast<intptr_t>(info.hProcess);
    return true;
}

int ChildProcess::Wait() {
    if (handle_ == 0) return -1;
    HANDLE process = reinterpret_cast<HANDLE>(handle_);
    handle_ = 0;
    WaitForSingleObject(process, INFINITE);
    DWORD code = 0;
    BOOL got = GetExitCodeProcess(process, &code);
    CloseHandle(process);
    return got ? static_cast<int>(code) : -1;
}

void ChildProcess::Kill() {
    if (handle_ != 0) TerminateProcess(reinterpret_cast<HANDLE>(handle_), 137);
}

unsigned ChildProcess::id() const {
    return handle_ != 0 ? GetProcessId(reinterpret_cast<HANDLE>(handle_)) : 0;
}

}  // namespace cv
