// The remote admin channel: which host the calls of this process go to, and the one TCP
// connection to that host's remote admin service, set up with AUTH and LOAD and tested with PING.
//
// Configuration lives under HKEY_CURRENT_USER: "ForceDefaultHost" under kAdministrationKey sends
// every call to the host named "Default" when none is chosen; each host has "Address", "Port",
// "Credentials" and "Authentication Protocol" under kHostsKey\<host name>.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/socket.h"

namespace cv {

// The remote admin service's port for a host without "Port" (cvcal's probe uses it too).
constexpr uint16_t kDefaultRemotePort = 8081;

constexpr size_t kHostNameSize = 1024;
constexpr const char* kAdministrationKey = "SOFTWARE\\Corvane\\Corvane\\Administration";
constexpr const char* kHostsKey = "Software\\Corvane\\Corvane\\Administration\\Hosts";
constexpr const char* kSuccessText = "<DATA><STATUS>SUCCESS</STATUS></DATA>";
constexpr const char* kProviderLibraryName = "CVAICP.DLL";

// The process-wide state of the channel. It has no lock of its own: the forwarding of calls
// serialises its users.
struct RemoteChannel {
    char CurrentHost[kHostNameSize];    // chosen host, "Default", or empty for none
    char ConnectedHost[kHostNameSize];  // the host the connection was set up for
    char LoadedLibrary[kHostNameSize];  // the library the last successful LOAD named
    SocketHandle ChannelSocket;
};
RemoteChannel& TheRemoteChannel();

// Chooses the host of the next calls; an empty (or absent) name chooses none. A name of
// kHostNameSize characters or more chooses none as well. Sends nothing. 1.
int SetCurrentHostName(const char* host);

// The decision at the start of every forwarded call. (The numbers are those the decision has
// always been told by in logs and tests.)
enum class RemoteMode {
    kLocal = 0,        // the call runs here
    kRemote = 1,       // the call goes to the current host, over a connection set up or reused
    kUnreachable = 2,  // the call belongs to the current host, but no connection could be made
};
RemoteMode CheckRemoteMode(const char* library);

// The "ForceDefaultHost" number, 0 when missing.
uint32_t IsDefaultHostForced();

// A new connection to the current host. 1 or 0 (then ConnectedHost is emptied).
int ConnectRemoteAdmin();

// Sends a request and receives its reply into reply (capacity bytes, NUL-terminated). A reply
// that begins with "<DATA" is read until it holds "</DATA>"; another is what one receive brings.
// 1, or 0 when the send or the receive fails (a connection left out of step is then closed).
int SendRemoteRequest(const char* request, char* reply, size_t capacity);

// PING: non-zero when it was sent and any reply came back.
int PingRemoteAdmin();
// QUIT, then the socket is closed.
void QuitRemoteAdmin();
// AUTH, then LOAD of the library (when it is not empty). 1 when both succeeded.
int AuthenticateChannel(const char* library);
// LOAD of the library. 1 when the reply holds the success text.
int LoadRemoteLibrary(const char* library);

// Closes the socket, if any.
void CloseRemoteChannel();

}  // namespace cv
