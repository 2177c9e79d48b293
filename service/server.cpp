#include "service/server.h"

#include <chrono>
#include <thread>

#include "common/host_thread.h"
#include "remote/packing.h"

namespace cvadmind {

Server::Server(const ServiceConfig& config, std::function<void(const std::string&)> log)
    : config_(config), log_(std::move(log)), libraries_(config) {}

Server::~Server() {
    if (listener_ != cv::kNoSocket) cv::CloseSocket(listener_);
}

void Server::Log(const std::string& line) {
    if (!log_) return;
    std::lock_guard<std::mutex> hold(log_guard_);
    log_(line);
}

bool Server::Listen(std::string* error) {
    listener_ = cv::ListenTcp(config_.listen_address.c_str(), config_.listen_port, &port_);
    if (listener_ == cv::kNoSocket) {
        *error = "cannot listen on " + config_.listen_address + ":" +
                 std::to_string(config_.listen_port) + " (error " +
                 std::to_string(cv::LastSocketError()) + ")";
        return false;
    }
    return true;
}

void Server::Stop() {
    stopping_ = true;
    cv::WakeListener(listener_);
}

void Server::Run() {
    while (!stopping_) {
        std::string peer;
        cv::SocketHandle client = cv::AcceptConnection(listener_, &peer);
        if (client == cv::kNoSocket) {
            if (stopping_) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));  // e.g. out of handles
            continue;
        }
        if (active_ >= config_.max_connections) {
            Log(peer + " turned away: " + std::to_string(config_.max_connections) +
                " clients already");
            cv::CloseSocket(client);
            continue;
        }
        {
            std::lock_guard<std::mutex> hold(clients_guard_);
            clients_.insert(client);
        }
        ++active_;
        std::thread(&Server::Serve, this, client, peer).detach();
    }
    // Wake every client thread and wait for them to finish.
    {
        std::lock_guard<std::mutex> hold(clients_guard_);
        for (cv::SocketHandle client : clients_) cv::ShutdownSocket(client);
    }
    while (active_ > 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

bool Server::ReadRequest(cv::SocketHandle client, std::string* request) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::seconds(config_.idle_timeout_seconds);
    request->clear();
    char buffer[4096];
    const std::string end = "</DATA>";
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) return false;
        cv::SetReceiveTimeout(client, static_cast<uint32_t>(left.count()));
        int got = cv::ReceiveOnce(client, buffer, sizeof buffer);
        if (got <= 0) return false;
        request->append(buffer, static_cast<size_t>(got));
        if (request->size() > cv::kRemoteBufferSize - 1) return false;
        if (request->size() >= end.size() &&
            request->compare(request->size() - end.size(), end.size(), end) == 0) {
            return true;
        }
    }
}

void Server::Serve(cv::SocketHandle client, std::string peer) {
    cv::HostThread host;  // the provider needs COM (its XML index) on this thread
    Session session(config_, libraries_);
    Log(peer + " connected");
    std::string request;
    const char* why = "left";
    while (!stopping_) {
        if (!ReadRequest(client, &request)) {
            why = request.size() > cv::kRemoteBufferSize - 1 ? "closed: request too large"
                  : request.empty()                          ? "left"
                                                             : "closed: incomplete request";
            break;
        }
        bool close = false;
        std::string answer = session.Answer(request, &close);
        if (!session.event().empty()) Log(peer + " " + session.event());
        if (close) {
            why = "quit";
            break;
        }
        if (!cv::SendAll(client, answer.data(), answer.size())) {
            why = "closed: send failed";
            break;
        }
    }
    Log(peer + " " + why);
    {
        std::lock_guard<std::mutex> hold(clients_guard_);
        clients_.erase(client);
    }
    cv::CloseSocket(client);
    --active_;
}

}  // namespace cvadmind
