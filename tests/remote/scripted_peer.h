// A remote admin service for tests: listens on loopback, records every request it receives (read
// until it ends with "</DATA>"), and answers as the test tells it. Each connection is served in
// turn on the peer's own thread.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/socket.h"
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
    static Answer Reply(const std::string& text) { return Answer{{text}, false}; }

    ScriptedPeer() : thread_(&ScriptedPeer::Serve, this) {}
    ~ScriptedPeer() {
        stopping_ = true;
        WakeListener(listener_);
        DropConnection();
        thread_.join();
        CloseSocket(listener_);
    }

    uint16_t port() const { return port_; }
    int connections() const { return connections_; }
    void set_responder(Responder responder) {
        Locked([&] { responder_ = std::move(responder); });
    }
    std::vector<std::string> requests() const {
        std::lock_guard<std::mutex> hold(guard_);
        return requests_;
    }
    void ClearRequests() {
        Locked([&] { requests_.clear(); });
    }
    // Waits (up to ten seconds) until at least `count` requests have arrived: a request the client
    // sends without waiting for an answer (QUIT) reaches the peer in its own time.
    void WaitForRequests(size_t count) const {
        for (int i = 0; i < 1000 && requests().size() < count; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    // Closes the connection being served (as a peer that died would).
    void DropConnection() {
        Locked([&] { ShutdownSocket(current_); });
    }

  private:
    template <typename F>
    void Locked(F f) {
        std::lock_guard<std::mutex> hold(guard_);
        f();
    }
    void Serve() {
        for (SocketHandle client;
             !stopping_ && (client = AcceptConnection(listener_, nullptr)) != kNoSocket;) {
            ++connections_;
            Locked([&] { current_ = client; });
            std::string pending;
            char buffer[65536];
            for (int got; (got = ReceiveOnce(client, buffer, sizeof buffer)) > 0;) {
                pending.append(buffer, static_cast<size_t>(got));
                if (pending.size() < 7 || pending.compare(pending.size() - 7, 7, "</DATA>") != 0) {
                    continue;
                }
                Responder responder;
                Locked([&] {
                    requests_.push_back(pending);
                    responder = responder_;
                });
                const Answer answer = responder(pending);
                pending.clear();
                for (size_t i = 0; i < answer.pieces.size(); ++i) {
                    if (i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
                    SendAll(client, answer.pieces[i].data(), answer.pieces[i].size());
                }
                if (answer.close) break;
            }
            Locked([&] { current_ = kNoSocket; });
            CloseSocket(client);
        }
    }

    uint16_t port_ = 0;
    SocketHandle listener_ = ListenTcp("127.0.0.1", 0, &port_);
    std::atomic<bool> stopping_{false};
    std::atomic<int> connections_{0};
    mutable std::mutex guard_;
    std::vector<std::string> requests_;
    // By default: success for every request but QUIT, which gets nothing and a close.
    Responder responder_ = [](const std::string& request) {
        if (request.find("<METHOD>QUIT</METHOD>") != std::string::npos) return Answer{{}, true};
        return Reply("<DATA><STATUS>SUCCESS</STATUS></DATA>");
    };
    SocketHandle current_ = kNoSocket;
    std::thread thread_;  // last: it starts serving once the rest is set
};

}  // namespace testing
}  // namespace cv
