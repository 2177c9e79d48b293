// One client's conversation with cvadmind: AUTH, LOAD, PING, QUIT and EXEC requests answered in
// order, with what the client has proven so far. Pure request handling, no sockets, so that it can
// be tested and fuzzed directly.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "host/host_platform.h"
#include "platform/platform.h"
#include "service/service_config.h"

namespace cvadmind {

// The provider libraries the service may load, each loaded once for the whole process, and the
// lock that runs one EXEC at a time (the provider keeps process-wide state).
class LibraryCache {
  public:
    explicit LibraryCache(const ServiceConfig& config) : config_(config) {}
    // The library configured under that name (any letter case), loaded on first use; null when
    // the name is not configured or the file does not load. *canonical receives the configured
    // name.
    const cv::DynamicLibrary* Get(const std::string& name, std::string* canonical,
                                  std::string* error);
    std::mutex& exec_guard() { return exec_guard_; }

  private:
    const ServiceConfig& config_;
    std::mutex guard_;
    std::map<std::string, std::unique_ptr<cv::DynamicLibrary>> loaded_;
    std::mutex exec_guard_;
};

class Session {
  public:
    Session(const ServiceConfig& config, LibraryCache& libraries)
        : config_(config), libraries_(libraries) {}

    // The answer to one complete request (a text ending in "</DATA>"). *close is set when the
    // connection is to end after the answer is sent (QUIT: there is no answer then).
    std::string Answer(const std::string& request, bool* close);

    bool authenticated() const { return authenticated_; }
    const std::string& loaded() const { return loaded_name_; }
    // A line for the service's log about the last request, empty when there is nothing to say.
    const std::string& event() const { return event_; }

  private:
    std::string Authenticate(const std::string& request);
    std::string Load(const std::string& request);
    std::string Exec(const std::string& request);

    const ServiceConfig& config_;
    LibraryCache& libraries_;
    bool authenticated_ = false;
    const cv::DynamicLibrary* library_ = nullptr;
    std::string loaded_name_;
    std::string event_;
};

// The refusal a client gets: it does not hold the success text nor any parameter.
std::string Refusal(const std::string& reason);

}  // namespace cvadmind
