#include "service/service_log.h"

#include <chrono>
#include <cstdint>

#include "common/civil_time.h"

namespace cvadmind {
namespace {

std::string Stamped(const std::string& text) {
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    const int64_t ms = std::chrono::duration_cast<std::chrono::milliseconds>(now).count();
    const cv::CivilTime t = cv::UtcCivilTime(ms / 1000);
    char stamp[40];
    std::snprintf(stamp, sizeof stamp, "%04lld-%02d-%02dT%02d:%02d:%02d.%03dZ",
                  static_cast<long long>(t.year), t.month, t.day, t.hour, t.minute, t.second,
                  static_cast<int>(ms % 1000));
    return std::string(stamp) + " " + text;
}

}  // namespace

ServiceLog::~ServiceLog() {
    if (file_) std::fclose(file_);
}

bool ServiceLog::OpenFile(const std::string& path, std::string* error) {
    FILE* file = std::fopen(path.c_str(), "a");
    if (file == nullptr) {
        *error = "log-file: cannot append to " + path;
        return false;
    }
    std::lock_guard<std::mutex> hold(guard_);
    if (file_) std::fclose(file_);
    file_ = file;
    return true;
}

void ServiceLog::Line(const std::string& text) {
    const std::string line = "cvadmind: " + Stamped(text) + "\n";
    std::lock_guard<std::mutex> hold(guard_);
    if (standard_error_) std::fputs(line.c_str(), stderr);
    if (file_) {
        std::fputs(line.c_str(), file_);
        // Each line reaches the file as it happens: the log is read while the service runs.
        std::fflush(file_);
    }
}

void ServiceLog::Message(const std::string& text) {
    std::lock_guard<std::mutex> hold(guard_);
    std::fprintf(stderr, "cvadmind: %s\n", text.c_str());
    if (file_) {
        std::fputs(("cvadmind: " + Stamped(text) + "\n").c_str(), file_);
        std::fflush(file_);
    }
}

std::string DefaultServiceLogFile(const std::string& config_path) {
    const std::string::size_type slash = config_path.find_last_of("/\\");
    const std::string folder =
        slash == std::string::npos ? std::string() : config_path.substr(0, slash + 1);
    return folder + "cvadmind.log";
}

}  // namespace cvadmind
