#include "bench/service_child.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "common/file_helpers.h"
#include "host/host_files.h"
#include "host/private_file.h"

namespace cvbench {

int ConnectLoopback(uint16_t port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(port);
    peer.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&peer), sizeof peer) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

bool SendBytes(int fd, const std::string& bytes) {
    for (size_t done = 0; done < bytes.size();) {
        ssize_t sent = send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (sent <= 0) return false;
        done += static_cast<size_t>(sent);
    }
    return true;
}

bool ReceiveReply(int fd, std::string* reply) {
    reply->clear();
    char buffer[4096];
    while (reply->size() < 7 || reply->compare(reply->size() - 7, 7, "</DATA>") != 0) {
        ssize_t got = recv(fd, buffer, sizeof buffer, 0);
        if (got <= 0) return false;
        reply->append(buffer, static_cast<size_t>(got));
    }
    return true;
}

ServiceChild::~ServiceChild() {
    if (child_.running()) {
        child_.Kill();
        child_.Wait();
    }
}

bool ServiceChild::Start(const BenchStore& store, const std::string& extra_config) {
    std::string config = store.root() + "/cvadmind.conf";
    std::string port_file = store.root() + "/cvadmind.port";
    std::string text = std::string("credentials = ") + kServiceCredentials +
                       "\nprotocol = " + kServiceProtocol +
                       "\nlibrary = CVAICP.DLL " CV_PROVIDER_LIBRARY "\n" + extra_config;
    // cvadmind reads a configuration only when it is its owner's alone.
    if (!cv::WriteOwnerOnlyFile(config.c_str(), text) ||
        !child_.Start({CV_CVADMIND, "--config", config, "--listen", "127.0.0.1:0", "--port-file",
                       port_file, "--quiet"})) {
        return false;
    }
    for (int i = 0; i < 1000; ++i) {
        std::string text;
        if (cv::ReadWholeFile(port_file.c_str(), &text) && !text.empty() && text.back() == '\n') {
            port_ = static_cast<uint16_t>(std::stoul(text));
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

}  // namespace cvbench
