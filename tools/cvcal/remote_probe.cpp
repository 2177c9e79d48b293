#include "tools/cvcal/remote_probe.h"

#include <cstring>

#include "host/registry_writer.h"
#include "platform/registry.h"
#include "platform/socket.h"
#include "remote/channel.h"
#include "tools/cvcal/command_line.h"

namespace cvcal {
namespace {

constexpr uint32_t kProbeTimeout = 10000;  // milliseconds: a probe is not a call, and someone waits

std::string HostKey(const std::string& host) {
    return std::string(cv::kHostsKey) + "\\" + host;
}

std::string HostValue(const std::string& host, const char* name) {
    char text[cv::kRegistryTextSize] = "";
    cv::GetUserRegistryString(HostKey(host).c_str(), name, text);
    return text;
}

class Connection {
  public:
    ~Connection() {
        if (socket_ != cv::kNoSocket) cv::CloseSocket(socket_);
    }
    bool Open(uint32_t address, uint16_t port) {
        socket_ = cv::CreateTcpSocket();
        if (socket_ == cv::kNoSocket || !cv::ConnectSocket(socket_, address, port)) return false;
        cv::SetReceiveTimeout(socket_, kProbeTimeout);
        return true;
    }
    // The reply to a request, read until its end; empty when the service did not answer.
    std::string Ask(const std::string& request) {
        std::string reply;
        if (!cv::SendAll(socket_, request.data(), request.size())) return reply;
        char buffer[2048];
        while (reply.find("</DATA>") == std::string::npos) {
            int got = cv::ReceiveOnce(socket_, buffer, sizeof buffer);
            if (got <= 0) break;
            reply.append(buffer, static_cast<size_t>(got));
        }
        return reply;
    }
    void Quit() {
        const char* quit = "<DATA><METHOD>QUIT</METHOD></DATA>";
        cv::SendAll(socket_, quit, std::strlen(quit));
    }

  private:
    cv::SocketHandle socket_ = cv::kNoSocket;
};

// The service's reason in a refusal, when it gave one.
std::string Reason(const std::string& reply) {
    std::string::size_type start = reply.find("<ERROR>");
    std::string::size_type end = reply.find("</ERROR>");
    if (start == std::string::npos || end == std::string::npos || end < start) return "";
    return ": " + reply.substr(start + 7, end - start - 7);
}

}  // namespace

void CheckHostConfigured(const std::string& host) {
    if (HostValue(host, "Address").empty()) {
        throw Failure(kExitConfig,
                      "--host " + host + ": no such host configured in " + cv::RegistryLocation() +
                          " (cvcal config host " + host + " --address A)",
                      "host-not-configured");
    }
}

void ProbeRemoteHost(const std::string& host) {
    CheckHostConfigured(host);
    std::string address = HostValue(host, "Address");
    uint32_t port = cv::kDefaultRemotePort;
    cv::GetUserRegistryDword(HostKey(host).c_str(), "Port", &port);
    std::string where = address + ":" + std::to_string(port & 0xFFFF);
    uint32_t ip = 0;
    if (!cv::ResolveIPv4(address.c_str(), &ip)) {
        throw Failure(kExitUnreachable,
                      "host " + host + ": the address " + address + " cannot be resolved",
                      "host-not-resolved");
    }
    Connection connection;
    if (!connection.Open(ip, static_cast<uint16_t>(port & 0xFFFF))) {
        throw Failure(kExitUnreachable,
                      "host " + host + ": cannot connect to " + where +
                          " (is its remote admin service running?)",
                      "host-unreachable");
    }
    std::string reply = connection.Ask(
        "<DATA><METHOD>AUTH</METHOD><PROTOCOL>" + HostValue(host, "Authentication Protocol") +
        "</PROTOCOL><CREDENTIALS>" + HostValue(host, "Credentials") +
        "</CREDENTIALS><REALM></REALM><Library>CVAIAU.DLL</Library></DATA>");
    if (reply.empty()) {
        throw Failure(kExitUnreachable,
                      "host " + host + ": " + where +
                          " accepted the connection but did not answer AUTH "
                          "(is it a remote admin service?)",
                      "host-not-answering");
    }
    if (reply.find(cv::kSuccessText) == std::string::npos) {
        throw Failure(kExitConfig,
                      "host " + host + ": AUTH refused" + Reason(reply) +
                          " (check the credentials and the protocol: cvcal config "
                          "host " +
                          host + ")",
                      "host-refused-credentials");
    }
    reply = connection.Ask(std::string("<DATA><METHOD>LOAD</METHOD><LIBRARY>") +
                           cv::kProviderLibraryName + "</LIBRARY></DATA>");
    if (reply.find(cv::kSuccessText) == std::string::npos) {
        throw Failure(kExitConfig,
                      "host " + host + ": LOAD " + cv::kProviderLibraryName + " refused" +
                          Reason(reply) + " (see the service's log)",
                      "host-refused-library");
    }
    connection.Quit();
}

}  // namespace cvcal
