#include "remote/channel.h"

#include <cstring>
#include <string>

#include "common/diagnostics.h"
#include "common/text_helpers.h"
#include "platform/platform.h"
#include "platform/registry.h"

namespace cv {
namespace {

RemoteChannel g_channel = {"", "", "", kNoSocket};

constexpr uint32_t kRemoteReceiveTimeout = 60000;  // milliseconds, each receive
constexpr size_t kShortBufferSize = 2048;          // AUTH, LOAD and PING exchanges
constexpr size_t kHostValueSize = 256;  // "Address", "Credentials", "Authentication Protocol"
constexpr const char* kPingText = "<DATA><METHOD>PING</METHOD></DATA>";
constexpr const char* kQuitText = "<DATA><METHOD>QUIT</METHOD></DATA>";

bool HostKey(char (&key)[kHostNameSize]) {
    return FormatBounded(key, sizeof key, "%s\\%s", kHostsKey, g_channel.CurrentHost);
}

// A text value of the current host's key, at most 255 characters; longer ones count as missing.
void ReadHostValue(const char* name, char (&out)[kHostValueSize]) {
    out[0] = '\0';
    char key[kHostNameSize];
    char value[kRegistryTextSize] = "";
    if (!HostKey(key) || !GetUserRegistryString(key, name, value)) return;
    if (std::strlen(value) < sizeof out) std::memcpy(out, value, std::strlen(value) + 1);
}

// The process runs locally when its executable's file name begins with "CV" and ends in ".EXE".
// The system reports a full path, so in practice this never holds; it is kept as the service
// processes have always been told apart.
bool ExecutableIsLocalOnly() {
    std::string path = ExecutablePath();
    if (path.size() >= 260) path.resize(259);
    if (path.size() < 2 || CompareNoCase(path.substr(0, 2).c_str(), "CV") != 0) return false;
    std::string::size_type dot = path.find('.');
    return dot != std::string::npos && CompareNoCase(path.c_str() + dot, ".EXE") == 0;
}

// Asked at the start of every call; a process keeps its executable for life, so the system is
// asked once.
bool IsLocalOnlyProcess() {
    static const bool local_only = ExecutableIsLocalOnly();
    return local_only;
}

bool SameText(const char* a, const char* b) {
    return CompareNoCase(a, b) == 0;
}

void CopyName(char (&out)[kHostNameSize], const char* text) {
    CopyBounded(out, text, sizeof out);
}

}  // namespace

RemoteChannel& TheRemoteChannel() {
    return g_channel;
}

void CloseRemoteChannel() {
    if (g_channel.ChannelSocket != kNoSocket) CloseSocket(g_channel.ChannelSocket);
    g_channel.ChannelSocket = kNoSocket;
}

int SetCurrentHostName(const char* host) {
    if (host == nullptr || strnlen(host, kHostNameSize) >= kHostNameSize) {
        g_channel.CurrentHost[0] = '\0';
        return 1;
    }
    CopyName(g_channel.CurrentHost, host);
    return 1;
}

uint32_t IsDefaultHostForced() {
    if (IsLocalOnlyProcess()) return 0;
    uint32_t forced = 0;
    if (!GetUserRegistryDword(kAdministrationKey, "ForceDefaultHost", &forced)) return 0;
    return forced;
}

RemoteMode CheckRemoteMode(const char* library) {
    if (IsLocalOnlyProcess()) return RemoteMode::kLocal;
    if (g_channel.CurrentHost[0] == '\0') {
        if (IsDefaultHostForced() == 0) {
            CloseRemoteChannel();
            return RemoteMode::kLocal;
        }
        CopyName(g_channel.CurrentHost, "Default");
    }
    if (SameText(g_channel.CurrentHost, g_channel.ConnectedHost) &&
        SameText(g_channel.LoadedLibrary, library)) {
        if (PingRemoteAdmin()) return RemoteMode::kRemote;
        if (!ConnectRemoteAdmin()) return RemoteMode::kUnreachable;
        AuthenticateChannel(library);
        return RemoteMode::kRemote;
    }
    // Another host or library, or no connection yet. A connection that still answers is simply
    // replaced; one that does not is told goodbye first.
    if (!PingRemoteAdmin()) QuitRemoteAdmin();
    if (!ConnectRemoteAdmin()) return RemoteMode::kUnreachable;
    AuthenticateChannel(library);
    CopyName(g_channel.ConnectedHost, g_channel.CurrentHost);
    return RemoteMode::kRemote;
}

int ConnectRemoteAdmin() {
    if (std::strcmp(g_channel.CurrentHost, "127.0.0.1") == 0) {
        g_channel.ConnectedHost[0] = '\0';
        return 1;
    }
    CloseRemoteChannel();
    g_channel.ChannelSocket = CreateTcpSocket();
    if (g_channel.ChannelSocket == kNoSocket) {
        Diagnose("Error connecting to remote admin: %d\n", LastSocketError());
        FlushDiagnostics();
        return 0;
    }
    char address[kHostValueSize];
    ReadHostValue("Address", address);
    uint32_t port = kDefaultRemotePort;
    char key[kHostNameSize];
    if (HostKey(key)) GetUserRegistryDword(key, "Port", &port);
    uint32_t ip = 0;
    if (address[0] != '\0' && ResolveIPv4(address, &ip) &&
        ConnectSocket(g_channel.ChannelSocket, ip, static_cast<uint16_t>(port & 0xFFFF))) {
        SetReceiveTimeout(g_channel.ChannelSocket, kRemoteReceiveTimeout);
        return 1;
    }
    g_channel.ConnectedHost[0] = '\0';
    CloseRemoteChannel();
    return 0;
}

int SendRemoteRequest(const char* request, char* reply, size_t capacity) {
    if (capacity == 0) return 0;
    reply[0] = '\0';
    SocketHandle socket = g_channel.ChannelSocket;
    size_t length = std::strlen(request);
    if (socket == kNoSocket || length == 0 || !SendAll(socket, request, length)) return 0;
    size_t used = 0;
    int got = ReceiveOnce(socket, reply, capacity - 1);
    if (got <= 0) return 0;
    used = static_cast<size_t>(got);
    reply[used] = '\0';
    // TCP may cut a reply anywhere: a framed reply is read on until its end has arrived.
    if (std::strncmp(reply, "<DATA", used < 5 ? used : 5) == 0) {
        while (std::strstr(reply, "</DATA>") == nullptr) {
            if (used == capacity - 1) {
                // Longer than the buffer: the rest would be taken for the next reply.
                CloseRemoteChannel();
                return 1;
            }
            got = ReceiveOnce(socket, reply + used, capacity - 1 - used);
            if (got <= 0) {
                CloseRemoteChannel();
                reply[0] = '\0';
                return 0;
            }
            used += static_cast<size_t>(got);
            reply[used] = '\0';
        }
    }
    return 1;
}

int PingRemoteAdmin() {
    char reply[kShortBufferSize];
    return SendRemoteRequest(kPingText, reply, sizeof reply);
}

void QuitRemoteAdmin() {
    if (g_channel.ChannelSocket == kNoSocket) return;
    SendAll(g_channel.ChannelSocket, kQuitText, std::strlen(kQuitText));
    CloseRemoteChannel();
}

int LoadRemoteLibrary(const char* library) {
    char request[kShortBufferSize];
    char reply[kShortBufferSize];
    if (!FormatBounded(request, sizeof request,
                       "<DATA><METHOD>LOAD</METHOD><LIBRARY>%s</LIBRARY></DATA>", library)) {
        return 0;
    }
    return SendRemoteRequest(request, reply, sizeof reply) &&
                   std::strstr(reply, kSuccessText) != nullptr
               ? 1
               : 0;
}

int AuthenticateChannel(const char* library) {
    char credentials[kHostValueSize];
    char protocol[kHostValueSize];
    ReadHostValue("Credentials", credentials);
    ReadHostValue("Authentication Protocol", protocol);
    char request[kShortBufferSize];
    char reply[kShortBufferSize];
    if (!FormatBounded(request, sizeof request,
                       "<DATA><METHOD>AUTH</METHOD><PROTOCOL>%s</PROTOCOL>"
                       "<CREDENTIALS>%s</CREDENTIALS><REALM></REALM>"
                       "<Library>CVAIAU.DLL</Library></DATA>",
                       protocol, credentials)) {
        return 0;
    }
    if (!SendRemoteRequest(request, reply, sizeof reply)) return 0;
    if (std::strstr(reply, kSuccessText) == nullptr) return 0;
    if (library[0] == '\0') {
        CopyName(g_channel.ConnectedHost, g_channel.CurrentHost);
        return 1;
    }
    if (!LoadRemoteLibrary(library)) return 0;
    CopyName(g_channel.LoadedLibrary, library);
    CopyName(g_channel.ConnectedHost, g_channel.CurrentHost);
    return 1;
}

}  // namespace cv
