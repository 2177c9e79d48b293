// cvadmind: our remote admin service. Clients (the provider library in remote mode) authenticate,
// load the provider library by an allowed name, and have its exports run on this machine's store.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/civil_time.h"
#include "common/file_helpers.h"
#include "common/host_files.h"
#include "common/host_platform.h"
#include "common/host_thread.h"
#include "common/library_location.h"
#include "common/platform.h"
#include "common/registry.h"
#include "common/registry_writer.h"
#include "remote/channel.h"
#include "common/stop_signal.h"
#include "service/config_help.h"
#include "service/server.h"

namespace {

const char kUsage[] =
    "usage: cvadmind --config FILE [--registry FILE] [--listen ADDRESS:PORT]\n"
    "                [--port-file FILE] [--credentials-file FILE] [--quiet]\n"
    "\n"
    "Serves the provider's remote calls: clients authenticate with the credentials and protocol\n"
    "of the configuration, load a library it allows, and run that library's calendar exports on\n"
    "this machine's store.\n"
    "\n"
    "  --config FILE      settings: credentials or credentials-file (required), protocol\n"
    "                     (PLAIN), library, listen, idle-timeout, max-connections\n"
    "  --registry FILE    natively, the .reg file of the store served (else $CVAICP_REGISTRY,\n"
    "                     else ~/.config/cvaicp/store.reg, as for cvcal); the Windows build\n"
    "                     reads the registry itself and refuses it\n"
    "  --listen A:P       overrides the configuration's listen address (default 127.0.0.1:8081;\n"
    "                     port 0 takes any free port)\n"
    "  --port-file FILE   writes the port it listens on into FILE once it is listening\n"
    "  --credentials-file FILE  the credentials from the first line of FILE (- for standard\n"
    "                     input) instead of the configuration's\n"
    "  --quiet            no log lines on standard error\n"
    "  --version          print the version\n"
    "  --help-config      print every setting of the configuration file, with its default\n"
    "\n"
    "The store served is the one the registry configures. Natively, the configuration and the\n"
    "credentials file must be readable by their owner alone (chmod 600): cvadmind refuses to\n"
    "start otherwise.\n";

cvadmind::Server* g_server = nullptr;

void StopServer() {
    if (g_server) g_server->Stop();
}

// A log line: when it happened (UTC, to the millisecond), then what. Several clients are served at
// once, so each line of a connection also names the client's address (server.cpp).
void LogLine(const std::string& line) {
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    const int64_t ms = std::chrono::duration_cast<std::chrono::milliseconds>(now).count();
    const cv::CivilTime t = cv::UtcCivilTime(ms / 1000);
    std::fprintf(stderr, "cvadmind: %04lld-%02d-%02dT%02d:%02d:%02d.%03dZ %s\n",
                 static_cast<long long>(t.year), t.month, t.day, t.hour, t.minute, t.second,
                 static_cast<int>(ms % 1000), line.c_str());
}

int Fail(const std::string& message) {
    std::fprintf(stderr, "cvadmind: %s\n", message.c_str());
    return 2;
}

void Warn(const std::string& message) {
    std::fprintf(stderr, "cvadmind: warning: %s\n", message.c_str());
}

// What would make every call find nothing, said at the start rather than left for a client to
// puzzle over.
void WarnAboutStore(const cvadmind::ServiceConfig& config) {
    if (cv::RegistryIsFile()) {
        const char* registry = std::getenv("CVAICP_REGISTRY");
        if (registry == nullptr || registry[0] == '\0') {
            Warn("no registry file (--registry FILE, CVAICP_REGISTRY or " +
                 cv::DefaultRegistryFile() + "): the library has no configuration and no store");
        } else if (!cv::EntryExists(registry)) {
            Warn(std::string("CVAICP_REGISTRY names ") + registry + ", which is not there");
        }
    }
    for (const cvadmind::ServiceConfig::Library& library : config.libraries) {
        if (!cv::EntryExists(library.path.c_str())) {
            Warn("library " + library.name + ": " + library.path + " is not there");
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::string config_path, registry, listen, port_file, credentials_file;
    bool quiet = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) return std::string();
            return argv[++i];
        };
        if (a == "--config") {
            config_path = value();
        } else if (a == "--registry") {
            registry = value();
            if (registry.empty()) return Fail("--registry: a file is required");
        } else if (a == "--listen") {
            listen = value();
        } else if (a == "--port-file") {
            port_file = value();
        } else if (a == "--credentials-file") {
            credentials_file = value();
        } else if (a == "--quiet") {
            quiet = true;
        } else if (a == "--version") {
            std::printf("cvadmind %s\n", CVAICP_VERSION);
            return 0;
        } else if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            std::fputs(cvadmind::kHelpSections, stdout);
            return 0;
        } else if (a == "--help-config") {
            std::fputs(cvadmind::kConfigHelp, stdout);
            return 0;
        } else {
            return Fail(a + ": unknown argument (see --help)");
        }
    }
    if (config_path.empty()) return Fail("--config: required (see --help)");
    // The configuration is chosen before anything reads it: the library reads it at its load.
    if (!registry.empty()) {
        if (!cv::RegistryIsFile()) {
            return Fail("--registry: the Windows build reads the registry itself, not a file");
        }
        if (!cv::EntryExists(registry.c_str())) {
            return Fail("--registry: " + registry + " not found");
        }
        cv::SetProcessEnvironment("CVAICP_REGISTRY", registry.c_str());
    } else if (cv::RegistryIsFile()) {
        const char* variable = std::getenv("CVAICP_REGISTRY");
        const std::string fallback = cv::DefaultRegistryFile();
        if ((variable == nullptr || variable[0] == '\0') && !fallback.empty() &&
            cv::EntryExists(fallback.c_str())) {
            cv::SetProcessEnvironment("CVAICP_REGISTRY", fallback.c_str());
        }
    }
    cvadmind::ServiceConfig config;
    std::string error;
    // Credentials given apart from the file take the place of the file's.
    std::string credentials;
    if (!credentials_file.empty() &&
        !cvadmind::ReadCredentials(credentials_file, &credentials, &error)) {
        return Fail("--credentials-file: " + error);
    }
    config.credentials = credentials;
    if (!cvadmind::LoadServiceConfig(config_path, &config, &error)) return Fail(error);
    if (!credentials.empty()) config.credentials = credentials;
    if (!listen.empty() &&
        !cvadmind::ParseListenAddress(listen, &config.listen_address, &config.listen_port)) {
        return Fail("--listen: expected ADDRESS:PORT");
    }
    if (config.libraries.empty()) {
        config.libraries.push_back(
            {cv::kProviderLibraryName, cv::ProviderLibraryBesideExecutable()});
    }
    WarnAboutStore(config);
    // The libraries it runs would forward every call elsewhere, possibly back here.
    if (cv::IsDefaultHostForced() != 0) {
        return Fail(
            "ForceDefaultHost is set for this user: the provider would forward the calls "
            "it is given instead of running them; clear it to serve");
    }

    cv::HostThread host;
    if (!host.ok()) return Fail("cannot initialise COM and Windows Sockets");
    cvadmind::Server server(config, quiet ? std::function<void(const std::string&)>() : LogLine);
    if (!server.Listen(&error)) return Fail(error);
    if (!port_file.empty()) {
        if (!cv::WriteWholeFile(port_file.c_str(), std::to_string(server.port()) + "\n")) {
            return Fail("--port-file: cannot write " + port_file);
        }
    }
    if (!quiet) {
        LogLine("listening on " + config.listen_address + ":" + std::to_string(server.port()));
    }
    g_server = &server;
    cv::OnStopRequest(StopServer);
    server.Run();
    g_server = nullptr;
    if (!quiet) LogLine("stopped");
    return 0;
}
