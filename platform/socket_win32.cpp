#include "platform/socket.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstring>

namespace cv {
namespace {

SOCKET AsSocket(SocketHandle socket) {
    return static_cast<SOCKET>(socket);
}

}  // namespace

int LastSocketError() {
    return WSAGetLastError();
}

SocketHandle CreateTcpSocket() {
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    return s == INVALID_SOCKET ? kNoSocket : static_cast<SocketHandle>(s);
}

void CloseSocket(SocketHandle socket) {
    if (socket != kNoSocket) closesocket(AsSocket(socket));
}

bool ResolveIPv4(const char* name, uint32_t* address) {
    // gethostbyname takes both DNS names and dotted addresses; its result is per thread.
    struct hostent* host = gethostbyname(name);
    if (host == nullptr || host->h_addrtype != AF_INET || host->h_length != 4 ||
        host->h_addr_list[0] == nullptr) {
        return false;
    }
    std::memcpy(address, host->h_addr_list[0], 4);
    return true;
}

bool ConnectSocket(SocketHandle socket, uint32_t address, uint16_t port) {
    struct sockaddr_in peer;
    std::memset(&peer, 0, sizeof peer);
    peer.sin_family = AF_INET;
    peer.sin_port = htons(port);
    peer.sin_addr.s_addr = address;
    return connect(AsSocket(socket), reinterpret_cast<struct sockaddr*>(&peer), sizeof peer) == 0;
}

static bool SetTimeout(SocketHandle socket, uint32_t milliseconds, int option) {
    DWORD timeout = milliseconds;  // Windows Sockets take a 4-byte count of milliseconds
    return setsockopt(AsSocket(socket), SOL_SOCKET, option, reinterpret_cast<const char*>(&timeout),
                      sizeof timeout) == 0;
}

bool SetReceiveTimeout(SocketHandle socket, uint32_t milliseconds) {
    return SetTimeout(socket, milliseconds, SO_RCVTIMEO);
}

bool SetSendTimeout(SocketHandle socket, uint32_t milliseconds) {
    return SetTimeout(socket, milliseconds, SO_SNDTIMEO);
}

int SendOnce(SocketHandle socket, const void* data, size_t size) {
    int chunk = size > 0x40000000 ? 0x40000000 : static_cast<int>(size);
    int sent = send(AsSocket(socket), static_cast<const char*>(data), chunk, 0);
    return sent == SOCKET_ERROR ? -1 : sent;
}

int ReceiveOnce(SocketHandle socket, void* buffer, size_t size) {
    int chunk = size > 0x40000000 ? 0x40000000 : static_cast<int>(size);
    int got = recv(AsSocket(socket), static_cast<char*>(buffer), chunk, 0);
    return got == SOCKET_ERROR ? -1 : got;
}

// The deepest accept queue the system allows: with a shallow one a burst of connections makes the
// system drop the attempts that find it full, and each such client waits a second or more for
// its retry, however quickly the service accepts.
SocketHandle ListenTcp(const char* address, uint16_t port, uint16_t* bound_port) {
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    if (s == INVALID_SOCKET) return kNoSocket;
    struct sockaddr_in local;
    std::memset(&local, 0, sizeof local);
    local.sin_family = AF_INET;
    local.sin_port = htons(port);
    local.sin_addr.s_addr = inet_addr(address);
    if (local.sin_addr.s_addr == INADDR_NONE && std::strcmp(address, "255.255.255.255") != 0) {
        closesocket(s);
        return kNoSocket;
    }
    if (bind(s, reinterpret_cast<struct sockaddr*>(&local), sizeof local) != 0 ||
        listen(s, SOMAXCONN) != 0) {
        closesocket(s);
        return kNoSocket;
    }
    int length = sizeof local;
    if (bound_port && getsockname(s, reinterpret_cast<struct sockaddr*>(&local), &length) == 0) {
        *bound_port = ntohs(local.sin_port);
    }
    return static_cast<SocketHandle>(s);
}

SocketHandle AcceptConnection(SocketHandle listener, std::string* peer) {
    struct sockaddr_in remote;
    int length = sizeof remote;
    SOCKET s = accept(AsSocket(listener), reinterpret_cast<struct sockaddr*>(&remote), &length);
    if (s == INVALID_SOCKET) return kNoSocket;
    if (peer) {
        *peer =
            std::string(inet_ntoa(remote.sin_addr)) + ":" + std::to_string(ntohs(remote.sin_port));
    }
    return static_cast<SocketHandle>(s);
}

void ShutdownSocket(SocketHandle socket) {
    if (socket == kNoSocket) return;
    shutdown(AsSocket(socket), SD_BOTH);
    // The shutdown alone leaves a thread blocked in recv on this socket waiting for its time-out;
    // cancelling the socket's pending operations makes that recv fail at once. The call came with
    // Windows Vista, so it is looked up rather than imported: where it is missing, the recv ends
    // at its time-out.
    using CancelIoExFunction = BOOL(WINAPI*)(HANDLE, LPOVERLAPPED);
    static const auto cancel = reinterpret_cast<CancelIoExFunction>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "CancelIoEx")));
    if (cancel != nullptr) cancel(reinterpret_cast<HANDLE>(AsSocket(socket)), nullptr);
}

void WakeListener(SocketHandle listener) {
    if (listener == kNoSocket) return;
    struct sockaddr_in local;
    int length = sizeof local;
    if (getsockname(AsSocket(listener), reinterpret_cast<struct sockaddr*>(&local), &length) != 0) {
        return;
    }
    if (local.sin_addr.s_addr == htonl(INADDR_ANY)) local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    if (s == INVALID_SOCKET) return;
    connect(s, reinterpret_cast<struct sockaddr*>(&local), sizeof local);
    closesocket(s);
}

}  // namespace cv
