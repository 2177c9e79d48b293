// cvadmind's network side: one listening socket, one thread per client, requests read until they
// end with "</DATA>" (at most kRemoteBufferSize - 1 bytes, within the idle time-out). At the
// connection limit a newcomer takes the place of the oldest client that has not authenticated.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <string>

#include "common/socket.h"
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
    // Registers a new connection, making room for it when needed; false when it is turned away.
    bool Admit(cv::SocketHandle client, const std::string& peer);
    // The client authenticated (or lost that with a failed AUTH).
    void SetTrusted(cv::SocketHandle client, bool trusted);
    // Forgets the connection; true when it ended because Admit dropped it.
    bool Forget(cv::SocketHandle client);
    void Serve(cv::SocketHandle client, std::string peer);
    // Reads one request; false when the client left, sent too much or took too long.
    // timeout_set: the receive time-out the socket has, in milliseconds (0: none set yet).
    bool ReadRequest(cv::SocketHandle client, std::string* request, uint32_t* timeout_set);
    void Log(const std::string& line);

    const ServiceConfig& config_;
    std::function<void(const std::string&)> log_;
    LibraryCache libraries_;
    cv::SocketHandle listener_ = cv::kNoSocket;
    uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    struct Client {
        uint64_t order;        // when it was accepted
        bool trusted = false;  // has authenticated
        bool dropped = false;  // shut down by Admit to make room; its thread is ending
    };
    std::mutex clients_guard_;
    std::map<cv::SocketHandle, Client> clients_;  // one per thread, dropped ones included
    std::condition_variable client_ended_;        // a connection was forgotten
    uint64_t accepted_ = 0;
    std::atomic<unsigned> active_{0};
    std::mutex log_guard_;
};

}  // namespace cvadmind
