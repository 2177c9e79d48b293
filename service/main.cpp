// cvadmind: our remote admin service. Clients (the provider library in remote mode) authenticate,
// load the provider library by an allowed name, and have its exports run on this machine's store.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "common/file_helpers.h"
#include "common/host_files.h"
#include "common/host_thread.h"
#include "common/library_location.h"
#include "remote/channel.h"
#include "common/stop_signal.h"
#include "service/server.h"

namespace {

const char kUsage[] =
    "usage: cvadmind --config FILE [--listen ADDRESS:PORT] [--port-file FILE] [--quiet]\n"
    "\n"
    "Serves the provider's remote calls: clients authenticate with the credentials and protocol\n"
    "of the configuration, load a library it allows, and run that library's calendar exports on\n"
    "this machine's store.\n"
    "\n"
    "  --config FILE      settings: credentials (required), protocol, library, listen,\n"
    "                     idle-timeout, max-connections (see the service's README section)\n"
    "  --listen A:P       overrides the configuration's listen address (default 127.0.0.1:8081;\n"
    "                     port 0 takes any free port)\n"
    "  --port-file FILE   writes the port it listens on into FILE once it is listening\n"
    "  --quiet            no log lines on standard error\n";

cvadmind::Server* g_server = nullptr;

void StopServer() {
    if (g_server) g_server->Stop();
}

int Fail(const std::string& message) {
    std::fprintf(stderr, "cvadmind: %s\n", message.c_str());
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::string config_path, listen, port_file;
    bool quiet = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) return std::string();
            return argv[++i];
        };
        if (a == "--config") {
            config_path = value();
        } else if (a == "--listen") {
            listen = value();
        } else if (a == "--port-file") {
            port_file = value();
        } else if (a == "--quiet") {
            quiet = true;
        } else if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else {
            return Fail(a + ": unknown argument (see --help)");
        }
    }
    if (config_path.empty()) return Fail("--config: required (see --help)");
    cvadmind::ServiceConfig config;
    std::string error;
    if (!cvadmind::LoadServiceConfig(config_path, &config, &error)) return Fail(error);
    if (!listen.empty() &&
        !cvadmind::ParseListenAddress(listen, &config.listen_address, &config.listen_port)) {
        return Fail("--listen: expected ADDRESS:PORT");
    }
    if (config.libraries.empty()) {
        config.libraries.push_back(
            {cv::kProviderLibraryName, cv::ProviderLibraryBesideExecutable()});
    }
    // The libraries it runs would forward every call elsewhere, possibly back here.
    if (cv::IsDefaultHostForced() != 0) {
        return Fail(
            "ForceDefaultHost is set for this user: the provider would forward the calls "
            "it is given instead of running them; clear it to serve");
    }

    cv::HostThread host;
    if (!host.ok()) return Fail("cannot initialise COM and Windows Sockets");
    auto log = [](const std::string& line) {
        std::fprintf(stderr, "cvadmind: %s\n", line.c_str());
    };
    cvadmind::Server server(config, quiet ? std::function<void(const std::string&)>() : log);
    if (!server.Listen(&error)) return Fail(error);
    if (!port_file.empty()) {
        if (!cv::WriteWholeFile(port_file.c_str(), std::to_string(server.port()) + "\n")) {
            return Fail("--port-file: cannot write " + port_file);
        }
    }
    if (!quiet) {
        std::fprintf(stderr, "cvadmind: listening on %s:%u\n", config.listen_address.c_str(),
                     server.port());
    }
    g_server = &server;
    cv::OnStopRequest(StopServer);
    server.Run();
    g_server = nullptr;
    if (!quiet) std::fprintf(stderr, "cvadmind: stopped\n");
    return 0;
}
