#include "service/server.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <iterator>
#include <thread>

#include "host/host_thread.h"
#include "host/socket_wait.h"
#include "remote/packing.h"

namespace cvadmind {

Server::Server(const ServiceConfig& config, std::function<void(const std::string&)> log)
    : config_(config),
      log_(std::move(log)),
      libraries_(config),
      admission_(config.max_connections),
      heard_(cv::kRemoteBufferSize) {}

Server::~Server() {
    if (listener_ != cv::kNoSocket) cv::CloseSocket(listener_);
}

void Server::Log(const std::string& line) {
    if (!log_) return;
    std::lock_guard<std::mutex> hold(log_guard_);
    log_(line);
}

namespace {

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
    using Clock = std::chrono::steady_clock;
    Door door;
    std::vector<cv::SocketHandle> watched, ready;
    while (!stopping_) {
        // While every place is held by a connection that keeps it, newcomers wait unaccepted.
        admission_.AwaitRoom(stopping_);
        watched.assign(1, listener_);
        auto first_deadline = Clock::time_point::max();
        for (const auto& entry : door) {
            watched.push_back(entry.first);
            first_deadline = std::min(first_deadline, entry.second.deadline);
        }
        const int wait =
            door.empty()
                ? -1
                : static_cast<int>(std::max<int64_t>(
                      0, std::chrono::ceil<std::chrono::milliseconds>(first_deadline - Clock::now())
                             .count()));
        if (!cv::WaitForReadable(watched, wait, &ready)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));  // e.g. out of memory
            continue;
        }
        if (stopping_) break;
        // The callers are heard before a newcomer is let in: one whose first request came whole
        // before the newcomer connected is beyond its reach.
        bool newcomer = false;
        for (cv::SocketHandle socket : ready) {
            if (socket == listener_) {
                newcomer = true;
            } else {
                Hear(&door, door.find(socket));
            }
        }
        const auto now = Clock::now();
        for (auto it = door.begin(); it != door.end();) {
            auto next = std::next(it);
            if (it->second.deadline <= now) {
                TurnAway(
                    &door, it,
                    it->second.request.empty() ? "closed: silent" : "closed: incomplete request");
            }
            it = next;
        }
        if (newcomer) Accept(&door);
    }
    // Wake every client thread and wait for them to finish.
    while (!door.empty()) TurnAway(&door, door.begin(), "closed: stopping");
    admission_.ShutdownAll();
    while (active_ > 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

void Server::Accept(Door* door) {
    std::string peer;
    cv::SocketHandle client = cv::AcceptConnection(listener_, &peer);
    if (client == cv::kNoSocket) {
        if (!stopping_) std::this_thread::sleep_for(std::chrono::milliseconds(10));  // no handles
        return;
    }
    admission_.Join(client);
    Log(peer + " connected");
    auto caller =
        door->emplace(client, Caller{peer, std::string(),
                                     std::chrono::steady_clock::now() +
                                         std::chrono::seconds(config_.idle_timeout_seconds)})
            .first;
    // What it sent before it was accepted is heard first: a client whose AUTH is in gives way to
    // nobody, also when the others took every place in the meantime.
    std::vector<cv::SocketHandle> ready;
    if (cv::WaitForReadable({client}, 0, &ready) && !ready.empty()) Hear(door, caller);
    const cv::SocketHandle gives_way = admission_.MakeRoom();
    if (gives_way == cv::kNoSocket) return;
    // The others may have become keepers since AwaitRoom: then the newcomer is the stranger.
    if (gives_way != client)
        Log(peer + " takes the place of a connection that did not authenticate");
    caller = door->find(gives_way);
    if (caller != door->end()) {
        TurnAway(door, caller,
                 gives_way == client ? "turned away: every place is kept" : "dropped to make room");
    }
}

void Server::Hear(Door* door, Door::iterator caller) {
    static const std::string kStart = "<DATA>", kEnd = "</DATA>";
    const cv::SocketHandle client = caller->first;
    std::string& request = caller->second.request;
    // Everything that has come, in one receive: the buffer holds the largest request.
    const int got = cv::ReceiveOnce(client, heard_.data(), heard_.size());
    if (got <= 0) {
        return TurnAway(door, caller, request.empty() ? "left" : "closed: incomplete request");
    }
    request.append(heard_.data(), static_cast<size_t>(got));
    // What does not begin as a request does can never become one.
    const size_t begun = std::min(request.size(), kStart.size());
    if (request.compare(0, begun, kStart, 0, begun) != 0) {
        return TurnAway(door, caller, "closed: not a request");
    }
    if (request.size() > cv::kRemoteBufferSize - 1) {
        return TurnAway(door, caller, "closed: request too large");
    }
    if (request.size() < kEnd.size() ||
        request.compare(request.size() - kEnd.size(), kEnd.size(), kEnd) != 0) {
        return admission_.Heard(client);
    }
    admission_.Hold(client);
    ++active_;
    try {
        std::thread(&Server::Serve, this, client, caller->second.peer, std::move(request)).detach();
    } catch (const std::exception&) {
        // Out of threads (or memory for one): this client is turned away, the service goes on.
        --active_;
        return TurnAway(door, caller, "turned away: no thread for it");
    }
    door->erase(caller);
}

void Server::TurnAway(Door* door, Door::iterator caller, const char* why) {
    admission_.Leave(caller->first);
    Log(caller->second.peer + " " + why);
    cv::CloseSocket(caller->first);
    door->erase(caller);
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

void Server::Serve(cv::SocketHandle client, std::string peer, std::string request) {
    cv::HostThread host;  // the provider needs COM (its XML index) on this thread
    Session session(config_, libraries_);
    const char* why = "left";
    uint32_t timeout_set = 0;  // none yet
    // The first request came whole through the door; the others are read here.
    for (bool first = true; !stopping_; first = false) {
        if (!first && !ReadRequest(client, &request, &timeout_set)) {
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
        // Only now may a stranger give way: its first request, at least, is answered.
        admission_.Answered(client, session.authenticated());
    }
    // Forgotten before it is closed: until then MakeRoom may still shut it down, and afterwards
    // the handle may come back for another connection.
    if (admission_.Leave(client)) why = "dropped to make room";
    Log(peer + " " + why);
    cv::CloseSocket(client);
    --active_;
}

}  // namespace cvadmind
