// AppointmentGet in remote mode, through cvadmind on the loopback interface, beside two plain TCP
// request-reply exchanges of the same sizes with a small server process that answers fixed-size
// replies. A remote call on a set-up connection is two exchanges: a PING that tests the
// connection, then the EXEC that runs the export. The sizes are those of the real exchanges,
// taken from a conversation with the service before the measurement.
//
// The remote call and its baseline run in turn within every iteration and are timed apart (see
// paired_timing.h); the reported time is the remote call's mean, the counters give the medians
// and their ratio, and the tail: each side's 99th percentile, over all the run's samples, and
// their ratio. The iterations are fixed at a number that gives that percentile some hundred
// samples above it while the program stays within some seconds.
//
// The packing code prints its progress on standard output at every call, as the product does;
// standard output goes to /dev/null here so that those prints cost what they cost without
// flooding the report, which goes to the original standard output. cvadmind inherits /dev/null.
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <string>

#include "bench/bench_store.h"
#include "bench/paired_timing.h"
#include "bench/report_stream.h"
#include "bench/service_child.h"
#include "common/file_helpers.h"
#include "host/host_files.h"
#include "host/host_platform.h"
#include "host/registry_writer.h"
#include "include/cvaicp.h"
#include "platform/platform.h"
#include "platform/registry.h"
#include "remote/channel.h"
#include "remote/framing.h"

namespace {

using Clock = cvbench::PairedTiming::Clock;

constexpr const char* kCredentials = cvbench::kServiceCredentials;
constexpr const char* kProtocol = cvbench::kServiceProtocol;
using cvbench::ConnectLoopback;
using cvbench::ReceiveReply;
using cvbench::SendBytes;

// Receives until `size` bytes have come.
bool ReceiveBytes(int fd, size_t size, char* buffer) {
    for (size_t done = 0; done < size;) {
        ssize_t got = recv(fd, buffer + done, size - done, 0);
        if (got <= 0) return false;
        done += static_cast<size_t>(got);
    }
    return true;
}

// The sizes of one request-reply exchange.
struct Exchange {
    size_t request = 0;
    size_t reply = 0;
};

// Talks to the service as the library does (AUTH, LOAD, then a PING and the EXEC of
// AppointmentGet with the record) and notes the sizes of the last two exchanges.
bool MeasureExchanges(uint16_t port, const AppointmentRequest& record, Exchange (&sizes)[2]) {
    int fd = ConnectLoopback(port);
    if (fd < 0) return false;
    std::unique_ptr<char[]> exec(new char[cv::kRemoteBufferSize]);
    bool built = cv::BuildExecRequest(exec.get(), "AppointmentGet") &&
                 cv::AddRequestParameter(exec.get(), 1, &record, sizeof record);
    const std::string requests[] = {
        std::string("<DATA><METHOD>AUTH</METHOD><PROTOCOL>") + kProtocol +
            "</PROTOCOL><CREDENTIALS>" + kCredentials +
            "</CREDENTIALS><REALM></REALM><Library>CVAIAU.DLL</Library></DATA>",
        "<DATA><METHOD>LOAD</METHOD><LIBRARY>CVAICP.DLL</LIBRARY></DATA>",
        "<DATA><METHOD>PING</METHOD></DATA>",
        exec.get(),
    };
    bool answered = built;
    for (int i = 0; i < 4 && answered; ++i) {
        std::string reply;
        answered = SendBytes(fd, requests[i]) && ReceiveReply(fd, &reply) &&
                   reply.find(i < 3 ? cv::kSuccessText : "<PARAMETER1 ") != std::string::npos;
        if (i >= 2) sizes[i - 2] = Exchange{requests[i].size(), reply.size()};
    }
    SendBytes(fd, "<DATA><METHOD>QUIT</METHOD></DATA>");
    close(fd);
    return answered;
}

// Answers each request of the given sizes, in turn, with a reply of the given size, until the
// client leaves: a process of its own, as cvadmind is, so that both sides of the ratio pay for
// waking another process wherever the system has put it.
class EchoServer {
  public:
    explicit EchoServer(const Exchange (&sizes)[2]) : sizes_{sizes[0], sizes[1]} {}
    ~EchoServer() {
        if (listener_ >= 0) close(listener_);
        if (child_ > 0) {
            kill(child_, SIGTERM);  // it may still wait for a client that never came
            waitpid(child_, nullptr, 0);
        }
    }

    bool Start() {
        listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof local;
        if (listener_ < 0 || bind(listener_, reinterpret_cast<sockaddr*>(&local), length) != 0 ||
            listen(listener_, 1) != 0 ||
            getsockname(listener_, reinterpret_cast<sockaddr*>(&local), &length) != 0) {
            return false;
        }
        port_ = ntohs(local.sin_port);
        // Everything the child needs is made before the fork: the benchmark has other threads,
        // and the child may not allocate.
        std::string request(cv::kRemoteBufferSize, '\0');
        const std::string replies[] = {std::string(sizes_[0].reply, 'r'),
                                       std::string(sizes_[1].reply, 'r')};
        child_ = fork();
        if (child_ == 0) {
            Serve(&request[0], replies);
            _exit(0);
        }
        return child_ > 0;
    }

    uint16_t port() const { return port_; }

  private:
    void Serve(char* request, const std::string (&replies)[2]) {
        int client = accept(listener_, nullptr, nullptr);
        if (client < 0) return;
        for (int k = 0;; k ^= 1) {
            if (!ReceiveBytes(client, sizes_[k].request, request) ||
                !SendBytes(client, replies[k])) {
                break;
            }
        }
        close(client);
    }

    Exchange sizes_[2];
    int listener_ = -1;
    uint16_t port_ = 0;
    pid_t child_ = -1;
};

// The baseline of one remote call: two exchanges of the measured sizes.
bool TwoExchanges(int fd, const Exchange (&sizes)[2], const std::string (&requests)[2],
                  char* reply) {
    for (int k = 0; k < 2; ++k) {
        if (!SendBytes(fd, requests[k]) || !ReceiveBytes(fd, sizes[k].reply, reply)) return false;
    }
    return true;
}

AppointmentRequest Request() {
    AppointmentRequest request;
    std::memset(&request, 0, sizeof request);
    std::strcpy(request.Postoffice, "po");
    std::strcpy(request.Mailbox, "mb");
    std::strcpy(request.PeriodName, "P");
    std::strcpy(request.ItemId, "appointment-000005");
    return request;
}

// The host "far" of the registry: the service on the loopback interface.
void ConfigureHost(uint16_t port) {
    std::string key = std::string(cv::kHostsKey) + "\\far";
    cv::SetRegistryString(cv::Hive::kCurrentUser, key.c_str(), "Address", "127.0.0.1");
    cv::SetRegistryDword(cv::Hive::kCurrentUser, key.c_str(), "Port", port);
    cv::SetRegistryString(cv::Hive::kCurrentUser, key.c_str(), "Credentials", kCredentials);
    cv::SetRegistryString(cv::Hive::kCurrentUser, key.c_str(), "Authentication Protocol",
                          kProtocol);
}

void BM_RemoteGet(benchmark::State& state) {
    cvbench::BenchStore store("remote-bench");
    std::string lines;
    for (int i = 0; i < 10; ++i) {
        char line[64];
        std::snprintf(line, sizeof line, "%s%d\t%d\tappointment-%06d", i ? "\r\n" : "",
                      1000000 + i * 60, 1000000 + i * 60 + 30, i);
        lines += line;
    }
    cv::WriteWholeFile((store.calendar() + "/P.CAL").c_str(), lines);

    cvbench::ServiceChild service;
    Exchange sizes[2];
    if (!service.Start(store) || !MeasureExchanges(service.port(), Request(), sizes)) {
        state.SkipWithError("cvadmind did not start or did not answer");
        return;
    }
    EchoServer echo(sizes);
    int client = echo.Start() ? ConnectLoopback(echo.port()) : -1;
    ConfigureHost(service.port());
    SetCurrentHost("far");
    AppointmentRequest first = Request();
    if (client < 0 || AppointmentGet(&first) != 1) {  // sets the connection up
        state.SkipWithError("no baseline server, or the first remote call failed");
        if (client >= 0) close(client);
        return;
    }
    const std::string requests[] = {std::string(sizes[0].request, 'q'),
                                    std::string(sizes[1].request, 'q')};
    std::unique_ptr<char[]> reply(new char[cv::kRemoteBufferSize]);

    cvbench::PairedTiming timing;
    for (auto _ : state) {
        AppointmentRequest request = Request();
        Clock::time_point start = Clock::now();
        int32_t found = AppointmentGet(&request);
        Clock::time_point middle = Clock::now();
        bool exchanged = TwoExchanges(client, sizes, requests, reply.get());
        Clock::time_point end = Clock::now();
        if (found != 1 || request.StartTime != 1000000 + 5 * 60 || !exchanged) {
            state.SkipWithError("the remote call or the baseline failed");
            break;
        }
        timing.Add(state, middle - start, end - middle);
    }
    SetCurrentHost("");
    cv::CheckRemoteMode(cv::kProviderLibraryName);  // no host: closes the connection
    close(client);
    timing.Report(state);
    timing.ReportTail(state);
    char label[96];
    std::snprintf(label, sizeof label, "PING %zu/%zu B, EXEC %zu/%zu B", sizes[0].request,
                  sizes[0].reply, sizes[1].request, sizes[1].reply);
    state.SetLabel(label);
}
BENCHMARK(BM_RemoteGet)->UseManualTime()->Iterations(10000)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    return cvbench::RunWithReportAside(argc, argv, "remote_bench");
}
