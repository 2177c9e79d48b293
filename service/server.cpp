#include "service/server.h"

#include <chrono>
#include <exception>
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

namespace {

// How long a connection's thread looks for the next request before it sleeps in the receive.
constexpr uint32_t kNextRequestSpinMicroseconds = 100;

// The errors a listening socket meets, by their POSIX and their Windows Sockets numbers.
std::string ListenErrorText(int error) {
    static const struct {
        int posix, windows;
        const char* text;
    } kErrors[] = {{98, 10048, "address already in use"},
                   {99, 10049, "address not available on this machine"},
                   {13, 10013, "permission denied (ports below 1024 need privileges)"}};
    for (const auto& e : kErrors) {
        if (error == e.posix || error == e.windows) return e.text;
    }
    return error == 0 ? "not an IPv4 address" : "error " + std::to_string(error);
}

}  // namespace

bool Server::Listen(std::string* error) {
    listener_ = cv::ListenTcp(config_.listen_address.c_str(), config_.listen_port, &port_);
    if (listener_ == cv::kNoSocket) {
        *error = "cannot listen on " + config_.listen_address + ":" +
                 std::to_string(config_.listen_port) + ": " +
                 ListenErrorText(cv::LastSocketError());
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
        if (!Admit(client, peer)) {
            Log(peer + " turned away: " + std::to_string(config_.max_connections) +
                " clients already");
            cv::CloseSocket(client);
            continue;
        }
        ++active_;
        try {
            std::thread(&Server::Serve, this, client, peer).detach();
        } catch (const std::exception&) {
            // Out of threads (or memory for one): this client is turned away, the service goes on.
            Forget(client);
            --active_;
            Log(peer + " turned away: no thread for it");
            cv::CloseSocket(client);
        }
    }
    // Wake every client thread and wait for them to finish.
    {
        std::lock_guard<std::mutex> hold(clients_guard_);
        for (const auto& entry : clients_) cv::ShutdownSocket(entry.first);
    }
    while (active_ > 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

bool Server::Admit(cv::SocketHandle client, const std::string& peer) {
    std::unique_lock<std::mutex> hold(clients_guard_);
    for (int attempt = 0;; ++attempt) {
        size_t live = 0;
        auto oldest = clients_.end();
        for (auto it = clients_.begin(); it != clients_.end(); ++it) {
            if (it->second.dropped) continue;
            ++live;
            if (!it->second.trusted &&
                (oldest == clients_.end() || it->second.order < oldest->second.order)) {
                oldest = it;
            }
        }
        if (live < config_.max_connections) break;
        // Turning the newcomer away would let anyone who opens connections and leaves them idle
        // lock every client out until the idle time-out. Instead the connection that has waited
        // longest without authenticating makes room. Clients that have authenticated keep their
        // places, so a limit full of them still turns newcomers away.
        if (oldest == clients_.end()) return false;
        // Dropped connections hold their threads until those wake and end, which is at once;
        // during a burst the newcomer waits for that rather than more threads being started.
        if (clients_.size() < 2 * size_t{config_.max_connections}) {
            oldest->second.dropped = true;
            cv::ShutdownSocket(oldest->first);  // its thread wakes, sees the end and closes it
            Log(peer + " takes the place of a connection that did not authenticate");
            break;
        }
        if (attempt > 0) return false;
        client_ended_.wait_for(hold, std::chrono::seconds(1));
    }
    clients_[client] = Client{++accepted_};
    return true;
}

void Server::SetTrusted(cv::SocketHandle client, bool trusted) {
    std::lock_guard<std::mutex> hold(clients_guard_);
    auto it = clients_.find(client);
    if (it != clients_.end()) it->second.trusted = trusted;
}

bool Server::Forget(cv::SocketHandle client) {
    std::lock_guard<std::mutex> hold(clients_guard_);
    auto it = clients_.find(client);
    if (it == clients_.end()) return false;
    bool dropped = it->second.dropped;
    clients_.erase(it);
    client_ended_.notify_all();
    return dropped;
}

bool Server::ReadRequest(cv::SocketHandle client, std::string* request, uint32_t* timeout_set) {
    using Clock = std::chrono::steady_clock;
    const auto idle = std::chrono::seconds(config_.idle_timeout_seconds);
    const auto deadline = Clock::now() + idle;
    request->clear();
    char buffer[4096];
    const std::string end = "</DATA>";
    for (bool first = true;; first = false) {
        // A request has the idle time-out from its first byte on: the first read waits all of
        // it, later reads what is left. The socket keeps the time-out it was given, so a client
        // whose requests come whole is not asked to take the same one again at every request.
        auto left =
            first ? std::chrono::duration_cast<std::chrono::milliseconds>(idle)
                  : std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) return false;
        const uint32_t timeout = static_cast<uint32_t>(left.count());
        if (timeout != *timeout_set && cv::SetReceiveTimeout(client, timeout)) {
            *timeout_set = timeout;
        }
        // A host's calls come in pairs (a PING, then its EXEC) microseconds apart: the thread
        // looks for the next request for a moment before it sleeps.
        if (first) cv::AwaitReadable(client, kNextRequestSpinMicroseconds);
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
    bool trusted = false;
    uint32_t timeout_set = 0;  // none yet
    while (!stopping_) {
        if (!ReadRequest(client, &request, &timeout_set)) {
            why = request.size() > cv::kRemoteBufferSize - 1 ? "closed: request too large"
                  : request.empty()                          ? "left"
                                                             : "closed: incomplete request";
            break;
        }
        bool close = false;
        std::string answer = session.Answer(request, &close);
        if (!session.event().empty()) Log(peer + " " + session.event());
        if (session.authenticated() != trusted) {
            trusted = session.authenticated();
            SetTrusted(client, trusted);
        }
        if (close) {
            why = "quit";
            break;
        }
        if (!cv::SendAll(client, answer.data(), answer.size())) {
            why = "closed: send failed";
            break;
        }
    }
    // Forgotten before it is closed: until then Admit may still shut it down, and afterwards the
    // handle may come back for another connection.
    if (Forget(client)) why = "dropped to make room";
    Log(peer + " " + why);
    cv::CloseSocket(client);
    --active_;
}

}  // namespace cvadmind
