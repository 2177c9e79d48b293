#include "platform/socket.h"

#include <arpa/inet.h>
#include <errno.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstring>

namespace cv {

int LastSocketError() {
    return errno;
}

SocketHandle CreateTcpSocket() {
    int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    return s < 0 ? kNoSocket : s;
}

void CloseSocket(SocketHandle socket) {
    if (socket != kNoSocket) close(static_cast<int>(socket));
}

bool ResolveIPv4(const char* name, uint32_t* address) {
    struct addrinfo hints;
    std::memset(&hints, 0, sizeof hints);
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    struct addrinfo* found = nullptr;
    if (getaddrinfo(name, nullptr, &hints, &found) != 0 || found == nullptr) return false;
    *address = reinterpret_cast<struct sockaddr_in*>(found->ai_addr)->sin_addr.s_addr;
    freeaddrinfo(found);
    return true;
}

bool ConnectSocket(SocketHandle socket, uint32_t address, uint16_t port) {
    struct sockaddr_in peer;
    std::memset(&peer, 0, sizeof peer);
    peer.sin_family = AF_INET;
    peer.sin_port = htons(port);
    peer.sin_addr.s_addr = address;
    int result;
    do {
        result = connect(static_cast<int>(socket), reinterpret_cast<struct sockaddr*>(&peer),
                         sizeof peer);
    } while (result != 0 && errno == EINTR);
    return result == 0;
}

static bool SetTimeout(SocketHandle socket, uint32_t milliseconds, int option) {
    struct timeval timeout;
    timeout.tv_sec = static_cast<time_t>(milliseconds / 1000);
    timeout.tv_usec = static_cast<suseconds_t>(milliseconds % 1000) * 1000;
    return setsockopt(static_cast<int>(socket), SOL_SOCKET, option, &timeout, sizeof timeout) == 0;
}

bool SetReceiveTimeout(SocketHandle socket, uint32_t milliseconds) {
    return SetTimeout(socket, milliseconds, SO_RCVTIMEO);
}

bool SetSendTimeout(SocketHandle socket, uint32_t milliseconds) {
    return SetTimeout(socket, milliseconds, SO_SNDTIMEO);
}

int SendOnce(SocketHandle socket, const void* data, size_t size) {
    ssize_t sent;
    do {
        sent = send(static_cast<int>(socket), data, size, MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    return sent < 0 ? -1 : static_cast<int>(sent);
}

int ReceiveOnce(SocketHandle socket, void* buffer, size_t size) {
    ssize_t got;
    do {
        got = recv(static_cast<int>(socket), buffer, size, 0);
    } while (got < 0 && errno == EINTR);
    return got < 0 ? -1 : static_cast<int>(got);
}

// The deepest accept queue the system allows: with a shallow one a burst of connections makes the
// system drop the attempts that find it full, and each such client waits a second or more for
// its retry, however quickly the service accepts.
SocketHandle ListenTcp(const char* address, uint16_t port, uint16_t* bound_port) {
    int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0) return kNoSocket;
    int yes = 1;
    setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    struct sockaddr_in local;
    std::memset(&local, 0, sizeof local);
    local.sin_family = AF_INET;
    local.sin_port = htons(port);
    if (inet_pton(AF_INET, address, &local.sin_addr) != 1 ||
        bind(s, reinterpret_cast<struct sockaddr*>(&local), sizeof local) != 0 ||
        listen(s, SOMAXCONN) != 0) {
        close(s);
        return kNoSocket;
    }
    socklen_t length = sizeof local;
    if (bound_port && getsockname(s, reinterpret_cast<struct sockaddr*>(&local), &length) == 0) {
        *bound_port = ntohs(local.sin_port);
    }
    return s;
}

SocketHandle AcceptConnection(SocketHandle listener, std::string* peer) {
    struct sockaddr_in remote;
    socklen_t length = sizeof remote;
    int s;
    do {
        s = accept4(static_cast<int>(listener), reinterpret_cast<struct sockaddr*>(&remote),
                    &length, SOCK_CLOEXEC);
    } while (s < 0 && errno == EINTR);
    if (s < 0) return kNoSocket;
    if (peer) {
        char text[INET_ADDRSTRLEN] = "";
        inet_ntop(AF_INET, &remote.sin_addr, text, sizeof text);
        *peer = std::string(text) + ":" + std::to_string(ntohs(remote.sin_port));
    }
    return s;
}

void ShutdownSocket(SocketHandle socket) {
    if (socket != kNoSocket) shutdown(static_cast<int>(socket), SHUT_RDWR);
}

void WakeListener(SocketHandle listener) {
    if (listener == kNoSocket) return;
    shutdown(static_cast<int>(listener), SHUT_RDWR);
}

}  // namespace cv
