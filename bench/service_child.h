// cvadmind as a child process serving a benchmark's store, and the plain blocking TCP that the
// benchmarks talk to it with.
#pragma once

#include <cstdint>
#include <string>

#include "bench/bench_store.h"
#include "host/host_platform.h"

namespace cvbench {

constexpr char kServiceCredentials[] = "s3cret";
constexpr char kServiceProtocol[] = "PLAIN";

// A connection to the loopback interface; -1 when it cannot be had.
int ConnectLoopback(uint16_t port);
bool SendBytes(int fd, const std::string& bytes);
// Receives one reply of the service, which ends with "</DATA>".
bool ReceiveReply(int fd, std::string* reply);

class ServiceChild {
  public:
    ServiceChild() = default;
    ~ServiceChild();
    ServiceChild(const ServiceChild&) = delete;
    ServiceChild& operator=(const ServiceChild&) = delete;

    // Starts cvadmind on a port of its choice, serving the library of the build from the store's
    // mail root, with `extra_config` lines added to its configuration; true once it listens.
    bool Start(const BenchStore& store, const std::string& extra_config = "");

    uint16_t port() const { return port_; }
    unsigned pid() const { return child_.id(); }

  private:
    cv::ChildProcess child_;
    uint16_t port_ = 0;
};

}  // namespace cvbench
