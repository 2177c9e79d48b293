// TCP sockets behind the platform seam: Windows Sockets in the Windows build (which the host
// process initialises, as it must for the library), BSD sockets natively. Blocking sockets only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace cv {

using SocketHandle = intptr_t;
constexpr SocketHandle kNoSocket = -1;

// The calling thread's last socket error (WSAGetLastError; errno natively).
int LastSocketError();

// A new IPv4 TCP socket, or kNoSocket.
SocketHandle CreateTcpSocket();
void CloseSocket(SocketHandle socket);

// The first IPv4 address of a DNS name or dotted address, in network byte order.
bool ResolveIPv4(const char* name, uint32_t* address);

bool ConnectSocket(SocketHandle socket, uint32_t address, uint16_t port);
bool SetReceiveTimeout(SocketHandle socket, uint32_t milliseconds);
// A blocked send gives up after this long (-1, a time-out error), the connection then unusable.
bool SetSendTimeout(SocketHandle socket, uint32_t milliseconds);

// One send or receive call: the bytes moved, 0 when the peer closed (receive), -1 on an error
// (a receive time-out included).
int SendOnce(SocketHandle socket, const void* data, size_t size);
int ReceiveOnce(SocketHandle socket, void* buffer, size_t size);

// Sends everything, continuing partial sends. False when a send fails.
bool SendAll(SocketHandle socket, const void* data, size_t size);

// A listening socket on an IPv4 address ("127.0.0.1", "0.0.0.0", ...) and port (0: any free one,
// reported in *bound_port).
SocketHandle ListenTcp(const char* address, uint16_t port, uint16_t* bound_port);
// The next connection, or kNoSocket (also when the listening socket was closed or shut down).
SocketHandle AcceptConnection(SocketHandle listener, std::string* peer);
// Wakes a thread blocked in ReceiveOnce on this socket (the peer sees the connection end).
void ShutdownSocket(SocketHandle socket);
// Wakes a thread blocked in AcceptConnection on this listening socket: a shutdown does that on
// POSIX, not on Windows, so a connection is made to it as well. The socket still needs closing.
void WakeListener(SocketHandle listener);

}  // namespace cv
