#include "tests/remote/scripted_peer.h"

#include <chrono>

namespace cv {
namespace testing {

ScriptedPeer::ScriptedPeer() {
    listener_ = ListenTcp("127.0.0.1", 0, &port_);
    responder_ = [this](const std::string& request) {
        if (request.find("<METHOD>QUIT</METHOD>") != std::string::npos) return Answer{{}, true};
        if (request.find("<METHOD>EXEC</METHOD>") != std::string::npos) {
            std::function<std::string(const std::string&)> exec;
            {
                std::lock_guard<std::mutex> hold(guard_);
                exec = exec_reply_;
            }
            return Reply(exec ? exec(request) : "<DATA><STATUS>FAILURE</STATUS></DATA>");
        }
        return Reply("<DATA><STATUS>SUCCESS</STATUS></DATA>");
    };
    thread_ = std::thread(&ScriptedPeer::Serve, this);
}

ScriptedPeer::~ScriptedPeer() {
    stopping_ = true;
    WakeListener(listener_);
    {
        std::lock_guard<std::mutex> hold(guard_);
        ShutdownSocket(current_);
    }
    thread_.join();
    CloseSocket(listener_);
}

void ScriptedPeer::set_responder(Responder responder) {
    std::lock_guard<std::mutex> hold(guard_);
    responder_ = std::move(responder);
}

void ScriptedPeer::set_exec_reply(std::function<std::string(const std::string&)> reply) {
    std::lock_guard<std::mutex> hold(guard_);
    exec_reply_ = std::move(reply);
}

std::vector<std::string> ScriptedPeer::requests() const {
    std::lock_guard<std::mutex> hold(guard_);
    return requests_;
}

void ScriptedPeer::ClearRequests() {
    std::lock_guard<std::mutex> hold(guard_);
    requests_.clear();
}

void ScriptedPeer::WaitForRequests(size_t count) const {
    for (int i = 0; i < 1000 && requests().size() < count; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

void ScriptedPeer::DropConnection() {
    std::lock_guard<std::mutex> hold(guard_);
    ShutdownSocket(current_);
}

void ScriptedPeer::Serve() {
    while (!stopping_) {
        SocketHandle client = AcceptConnection(listener_, nullptr);
        if (client == kNoSocket) break;
        ++connections_;
        {
            std::lock_guard<std::mutex> hold(guard_);
            current_ = client;
        }
        std::string pending;
        char buffer[65536];
        for (;;) {
            int got = ReceiveOnce(client, buffer, sizeof buffer);
            if (got <= 0) break;
            pending.append(buffer, static_cast<size_t>(got));
            static const std::string kEnd = "</DATA>";
            if (pending.size() < kEnd.size() ||
                pending.compare(pending.size() - kEnd.size(), kEnd.size(), kEnd) != 0) {
                continue;
            }
            Responder responder;
            {
                std::lock_guard<std::mutex> hold(guard_);
                requests_.push_back(pending);
                responder = responder_;
            }
            Answer answer = responder(pending);
            pending.clear();
            for (size_t i = 0; i < answer.pieces.size(); ++i) {
                if (i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
                SendAll(client, answer.pieces[i].data(), answer.pieces[i].size());
            }
            if (answer.close) break;
        }
        {
            std::lock_guard<std::mutex> hold(guard_);
            current_ = kNoSocket;
        }
        CloseSocket(client);
    }
}

}  // namespace testing
}  // namespace cv
