// cvadmind: our remote admin service. Clients (the provider library in remote mode) authenticate,
// load the provider library by an allowed name, and have its exports run on this machine's store.
#include <functional>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/civil_time.h"
#include "common/file_helpers.h"
#include "host/host_files.h"
#include "host/host_platform.h"
#include "host/host_thread.h"
#include "host/library_location.h"
#include "host/registry_writer.h"
#include "platform/platform.h"
#include "platform/registry.h"
#include "remote/channel.h"
#include "service/config_help.h"
#include "service/server.h"
#include "service/service_control.h"
#include "service/service_log.h"
#include "service/stop_signal.h"

namespace {

const char kUsage[] =
    "usage: cvadmind --config FILE [--registry FILE] [--listen ADDRESS:PORT]\n"
    "                [--port-file FILE] [--credentials-file FILE] [--quiet]\n"
    "       cvadmind --install-service --config FILE [--service-name NAME] [--demand-start]\n"
    "                [serving options]\n"
    "       cvadmind --remove-service [--service-name NAME]\n"
    "\n"
    "Serves the provider's remote calls: clients authenticate with the credentials and protocol\n"
    "of the configuration, load a library it allows, and run that library's calendar exports on\n"
    "this machine's store.\n"
    "\n"
    "  --config FILE      settings: credentials or credentials-file (required), protocol\n"
    "                     (PLAIN), library, listen, idle-timeout, max-connections, log-file\n"
    "  --registry FILE    natively, the .reg file of the store served (else $CVAICP_REGISTRY,\n"
    "                     else ~/.config/cvaicp/store.reg, as for cvcal); the Windows build\n"
    "                     reads the registry itself and refuses it\n"
    "  --listen A:P       overrides the configuration's listen address (default 127.0.0.1:8081;\n"
    "                     port 0 takes any free port)\n"
    "  --port-file FILE   writes the port it listens on into FILE once it is listening\n"
    "  --credentials-file FILE  the credentials from the first line of FILE (- for standard\n"
    "                     input) instead of the configuration's\n"
    "  --quiet            no log lines on standard error (a log-file still gets them)\n"
    "  --install-service  Windows: registers the service NAME (default cvadmind), started at\n"
    "                     boot, to serve with the --config, --listen, --port-file and\n"
    "                     --credentials-file given here; then: net start NAME, net stop NAME.\n"
    "                     The service logs to the configuration's log-file, else to\n"
    "                     cvadmind.log beside the configuration\n"
    "  --demand-start     with --install-service: started only when asked, not at boot\n"
    "  --remove-service   Windows: removes the service NAME (stop it first)\n"
    "  --service-name NAME  the service's name for the two above (default cvadmind)\n"
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

struct Options {
    enum class Mode { kServe, kInstall, kRemove, kService };
    Mode mode = Mode::kServe;
    std::string service_name = cvadmind::kDefaultServiceName;
    std::string config_path, registry, listen, port_file, credentials_file;
    bool quiet = false;
    bool demand_start = false;
};

// What would make every call find nothing, said at the start rather than left for a client to
// puzzle over.
void WarnAboutStore(const cvadmind::ServiceConfig& config, cvadmind::ServiceLog& log) {
    if (cv::RegistryIsFile()) {
        const char* registry = std::getenv("CVAICP_REGISTRY");
        if (registry == nullptr || registry[0] == '\0') {
            log.Message("warning: no registry file (--registry FILE, CVAICP_REGISTRY or " +
                        cv::DefaultRegistryFile() +
                        "): the library has no configuration and no store");
        } else if (!cv::EntryExists(registry)) {
            log.Message(std::string("warning: CVAICP_REGISTRY names ") + registry +
                        ", which is not there");
        }
    }
    for (const cvadmind::ServiceConfig::Library& library : config.libraries) {
        if (!cv::EntryExists(library.path.c_str())) {
            log.Message("warning: library " + library.name + ": " + library.path + " is not there");
        }
    }
}

// The registry file the library reads is chosen before anything reads it: at the library's load.
bool ChooseRegistry(const Options& options, std::string* error) {
    if (!options.registry.empty()) {
        if (!cv::RegistryIsFile()) {
            *error = "--registry: the Windows build reads the registry itself, not a file";
            return false;
        }
        if (!cv::EntryExists(options.registry.c_str())) {
            *error = "--registry: " + options.registry + " not found";
            return false;
        }
        cv::SetProcessEnvironment("CVAICP_REGISTRY", options.registry.c_str());
    } else if (cv::RegistryIsFile()) {
        const char* variable = std::getenv("CVAICP_REGISTRY");
        const std::string fallback = cv::DefaultRegistryFile();
        if ((variable == nullptr || variable[0] == '\0') && !fallback.empty() &&
            cv::EntryExists(fallback.c_str())) {
            cv::SetProcessEnvironment("CVAICP_REGISTRY", fallback.c_str());
        }
    }
    return true;
}

// The configuration with the command line's overrides; false with a reason.
bool LoadConfig(const Options& options, cvadmind::ServiceConfig* config, std::string* error) {
    // Credentials given apart from the file take the place of the file's.
    std::string credentials;
    if (!options.credentials_file.empty() &&
        !cvadmind::ReadCredentials(options.credentials_file, &credentials, error)) {
        *error = "--credentials-file: " + *error;
        return false;
    }
    config->credentials = credentials;
    if (!cvadmind::LoadServiceConfig(options.config_path, config, error)) return false;
    if (!credentials.empty()) config->credentials = credentials;
    if (!options.listen.empty() &&
        !cvadmind::ParseListenAddress(options.listen, &config->listen_address,
                                      &config->listen_port)) {
        *error = "--listen: expected ADDRESS:PORT";
        return false;
    }
    if (config->libraries.empty()) {
        config->libraries.push_back(
            {cv::kProviderLibraryName, cv::ProviderLibraryBesideExecutable()});
    }
    return true;
}

// Serves until stopped; running() is called once clients can connect.
int Serve(const Options& options, cvadmind::ServiceLog& log, const std::function<void()>& running) {
    const bool service = options.mode == Options::Mode::kService;
    log.SetStandardError(!options.quiet && !service);
    auto fail = [&](const std::string& message) {
        // A service's reason goes where its operator looks: its log file.
        std::string ignored;
        if (service && !log.has_file()) {
            log.OpenFile(cvadmind::DefaultServiceLogFile(options.config_path), &ignored);
        }
        log.Message(message);
        return 2;
    };
    std::string error;
    if (!ChooseRegistry(options, &error)) return fail(error);
    cvadmind::ServiceConfig config;
    if (!LoadConfig(options, &config, &error)) return fail(error);
    std::string log_file = config.log_file;
    if (log_file.empty() && service) {
        log_file = cvadmind::DefaultServiceLogFile(options.config_path);
    }
    if (!log_file.empty() && !log.OpenFile(log_file, &error)) return fail(error);
    WarnAboutStore(config, log);
    // The libraries it runs would forward every call elsewhere, possibly back here.
    if (cv::IsDefaultHostForced() != 0) {
        return fail(
            "ForceDefaultHost is set for this user: the provider would forward the calls "
            "it is given instead of running them; clear it to serve");
    }

    cv::HostThread host;
    if (!host.ok()) return fail("cannot initialise COM and Windows Sockets");
    const bool logging = (!options.quiet && !service) || log.has_file();
    std::function<void(const std::string&)> line;
    if (logging) line = [&log](const std::string& text) { log.Line(text); };
    cvadmind::Server server(config, line);
    if (!server.Listen(&error)) return fail(error);
    if (!options.port_file.empty()) {
        if (!cv::WriteWholeFile(options.port_file.c_str(), std::to_string(server.port()) + "\n")) {
            return fail("--port-file: cannot write " + options.port_file);
        }
    }
    if (line) line("listening on " + config.listen_address + ":" + std::to_string(server.port()));
    g_server = &server;
    // A service is stopped by its manager (service_control), a process by Ctrl+C or a signal.
    if (!service) cv::OnStopRequest(StopServer);
    running();
    server.Run();
    g_server = nullptr;
    if (line) line("stopped");
    return 0;
}

// The arguments the installed service runs with: the serving ones, with absolute paths.
std::vector<std::string> ServiceArguments(const Options& options) {
    std::vector<std::string> arguments = {"--config", cv::AbsolutePath(options.config_path)};
    if (!options.listen.empty()) arguments.insert(arguments.end(), {"--listen", options.listen});
    if (!options.port_file.empty()) {
        arguments.insert(arguments.end(), {"--port-file", cv::AbsolutePath(options.port_file)});
    }
    if (!options.credentials_file.empty()) {
        arguments.insert(arguments.end(),
                         {"--credentials-file", cv::AbsolutePath(options.credentials_file)});
    }
    return arguments;
}

// -1 to go on; otherwise the exit status (help, version, a wrong argument).
int ParseArguments(int argc, char** argv, Options* options) {
    auto fail = [](const std::string& message) {
        std::fprintf(stderr, "cvadmind: %s\n", message.c_str());
        return 2;
    };
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) return std::string();
            return argv[++i];
        };
        if (a == "--config") {
            options->config_path = value();
        } else if (a == "--registry") {
            options->registry = value();
            if (options->registry.empty()) return fail("--registry: a file is required");
        } else if (a == "--listen") {
            options->listen = value();
        } else if (a == "--port-file") {
            options->port_file = value();
        } else if (a == "--credentials-file") {
            options->credentials_file = value();
        } else if (a == "--quiet") {
            options->quiet = true;
        } else if (a == "--install-service" || a == "--remove-service") {
            if (options->mode != Options::Mode::kServe) {
                return fail(a + ": one of --install-service and --remove-service");
            }
            options->mode =
                a == "--install-service" ? Options::Mode::kInstall : Options::Mode::kRemove;
        } else if (a == "--demand-start") {
            options->demand_start = true;
        } else if (a == "--service-name" || a == "--service") {
            options->service_name = value();
            if (options->service_name.empty()) return fail(a + ": a name is required");
            if (a == "--service") options->mode = Options::Mode::kService;
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
            return fail(a + ": unknown argument (see --help)");
        }
    }
    if (options->config_path.empty() && options->mode != Options::Mode::kRemove) {
        return fail("--config: required (see --help)");
    }
    return -1;
}

int InstallAsService(const Options& options) {
    // A configuration the service could not start with is refused now, not at the next boot.
    cvadmind::ServiceConfig config;
    std::string error;
    if (!ChooseRegistry(options, &error) || !LoadConfig(options, &config, &error) ||
        !cvadmind::InstallService(options.service_name, !options.demand_start,
                                  ServiceArguments(options), &error)) {
        std::fprintf(stderr, "cvadmind: --install-service: %s\n", error.c_str());
        return 2;
    }
    std::printf("cvadmind: service %s installed; start it with: net start %s\n",
                options.service_name.c_str(), options.service_name.c_str());
    return 0;
}

int RemoveAsService(const Options& options) {
    std::string error;
    if (!cvadmind::RemoveService(options.service_name, &error)) {
        std::fprintf(stderr, "cvadmind: --remove-service: %s\n", error.c_str());
        return 2;
    }
    std::printf("cvadmind: service %s removed\n", options.service_name.c_str());
    return 0;
}

int RunService(const Options& options, cvadmind::ServiceLog& log) {
    cvadmind::ServiceBody body;
    body.serve = [&](const std::function<void()>& running) { return Serve(options, log, running); };
    body.stop = StopServer;
    std::string error;
    const int status = cvadmind::RunAsService(options.service_name, body, &error);
    if (status < 0) {
        std::fprintf(stderr, "cvadmind: --service: %s\n", error.c_str());
        return 2;
    }
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    const int parsed = ParseArguments(argc, argv, &options);
    if (parsed >= 0) return parsed;
    cvadmind::ServiceLog log;
    switch (options.mode) {
        case Options::Mode::kInstall:
            return InstallAsService(options);
        case Options::Mode::kRemove:
            return RemoveAsService(options);
        case Options::Mode::kService:
            return RunService(options, log);
        case Options::Mode::kServe:
            break;
    }
    return Serve(options, log, [] {});
}
