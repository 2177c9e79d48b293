// A remote admin service for tests: listens on loopback, records every request it receives (read
// until it ends with "</DATA>"), and answers as the test tells it. Each connection is served in
// turn on the peer's own thread.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/socket.h"

namespace cv {
namespace testing {

class ScriptedPeer {
  public:
    // What to do with one request: the reply as pieces sent one after the other (an empty list
    // sends nothing), and whether to close the connection afterwards.
    struct Answer {
        std::vector<std::string> pieces;
        bool close = false;
    };
    using Responder = std::function<Answer(const std::string& request)>;

    // The default responder: success for AUTH, LOAD and PING, nothing for QUIT (then closed), and
    // for EXEC whatever exec_reply says (default: a refusal).
    ScriptedPeer();
    ~ScriptedPeer();

    uint16_t port() const { return port_; }
    void set_responder(Responder responder);
    void set_exec_reply(std::function<std::string(const std::string&)> reply);

    // Every request so far, in order, and how many connections were accepted.
    std::vector<std::string> requests() const;
    int connections() const { return connections_; }
    void ClearRequests();
    // Waits (up to ten seconds) until at least `count` requests have arrived: a request the client
    // sends without waiting for an answer (QUIT) reaches the peer in its own time.
    void WaitForRequests(size_t count) const;
    // Closes the connection being served (as a peer that died would).
    void DropConnection();

    static Answer Reply(const std::string& text) { return Answer{{text}, false}; }

  private:
    void Serve();

    SocketHandle listener_ = kNoSocket;
    uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<int> connections_{0};
    mutable std::mutex guard_;
    std::vector<std::string> requests_;
    Responder responder_;
    std::function<std::string(const std::string&)> exec_reply_;
    SocketHandle current_ = kNoSocket;
    std::thread thread_;
};

}  // namespace testing
}  // namespace cv
