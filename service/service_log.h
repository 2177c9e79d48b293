// Where cvadmind's log lines go: standard error (unless quiet) and, when the configuration names
// one, a log file they are appended to. A Windows service has no standard error anyone sees, so
// there the file is the log. Lines come from every client's thread: each is written whole.
#pragma once

#include <cstdio>
#include <mutex>
#include <string>

namespace cvadmind {

class ServiceLog {
  public:
    ServiceLog() = default;
    ~ServiceLog();
    ServiceLog(const ServiceLog&) = delete;
    ServiceLog& operator=(const ServiceLog&) = delete;

    void SetStandardError(bool on) { standard_error_ = on; }
    // Appends to PATH from now on; false with a reason when it cannot be opened.
    bool OpenFile(const std::string& path, std::string* error);
    bool has_file() const { return file_ != nullptr; }

    // "cvadmind: 2026-12-07T09:00:00.123Z TEXT": the time in UTC to the millisecond.
    void Line(const std::string& text);
    // A warning or the reason cvadmind stops: "cvadmind: TEXT" on standard error even when
    // quiet, as a command's message is, and stamped in the file.
    void Message(const std::string& text);

  private:
    std::mutex guard_;
    FILE* file_ = nullptr;
    bool standard_error_ = true;
};

// The log file a service writes when its configuration names none: beside the configuration.
std::string DefaultServiceLogFile(const std::string& config_path);

}  // namespace cvadmind
