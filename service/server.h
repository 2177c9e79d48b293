// cvadmind's network side: one listening socket; a door, on the thread that accepts, that hears
// each connection until its first request is whole; then one thread per client. Requests end with
// "</DATA>" (at most kRemoteBufferSize - 1 bytes, within the idle time-out). Who has a place at
// the connection limit is admission.h's rule.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/socket.h"
#include "service/admission.h"
#include "service/service_config.h"
#include "service/session.h"

namespace cvadmind {

class Server {
  public:
    // log receives one line per connection event (null: silent).
    Server(const ServiceConfig& config, std::function<void(const std::string&)> log);
    ~Server();

    // Binds the listening socket. False with a reason.
    bool Listen(std::string* error);
    uint16_t port() const { return port_; }
    // Serves clients until Stop is called (from any thread, or a signal handler).
    void Run();
    // Safe to call from a signal handler: only a flag and a socket shutdown.
    void Stop();

  private:
    // A connection at the door: accepted, its first request not whole yet.
    struct Caller {
        std::string peer;
        std::string request;                             // what has come of its first request
        std::chrono::steady_clock::time_point deadline;  // for the whole of it
    };
    using Door = std::map<cv::SocketHandle, Caller>;

    // Accepts the next connection, and makes room for it when every place is taken.
    void Accept(Door* door);
    // Reads what has come from a caller. It leaves the door when its first request is whole (to
    // a thread of its own), when what it sent can be no request, or when it has gone.
    void Hear(Door* door, Door::iterator caller);
    // Closes a caller's connection and forgets it.
    void TurnAway(Door* door, Door::iterator caller, const char* why);
    // Answers the first request, then every other one the client sends.
    void Serve(cv::SocketHandle client, std::string peer, std::string request);
    // Reads one request; false when the client left, sent too much or took too long.
    // timeout_set: the receive time-out the socket has, in milliseconds (0: none set yet).
    bool ReadRequest(cv::SocketHandle client, std::string* request, uint32_t* timeout_set);
    void Log(const std::string& line);

    const ServiceConfig& config_;
    std::function<void(const std::string&)> log_;
    LibraryCache libraries_;
    Admission admission_;
    cv::SocketHandle listener_ = cv::kNoSocket;
    uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    std::vector<char> heard_;  // the door's receive buffer
    std::atomic<unsigned> active_{0};
    std::mutex log_guard_;
};

}  // namespace cvadmind
